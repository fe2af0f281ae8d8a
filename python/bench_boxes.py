#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""One million boxes from Python: carvelle against KLayout's pya and gdspy.

    python3 python/bench_boxes.py [--count N] [--out DIR]

Each writer runs as a whole process under /usr/bin/time -v (interpreter
start, imports, building and writing), one after the other; the table gives
the wall time, the peak resident memory and the file size. The boxes form a
1000-column grid (1 um boxes on a 2 um pitch, database unit 1 nm) on layer 1
of one cell.

- carvelle box: Structure.box (a BOX element per box);
- carvelle boundary: Structure.boundary with four corners (a BOUNDARY, as
  the other two write);
- pya: KLayout's Layout/Shapes.insert(Box), then Layout.write, in klayout -b;
- gdspy: Cell.add(Rectangle), then GdsLibrary.write_gds.

carvelle runs in the interpreter running this script (with CARVELLE_LIBRARY
or the build tree's library); gdspy in /usr/bin/python3 (Debian's
python3-gdspy); pya in klayout. A writer whose tool is missing is skipped.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

COLUMNS = 1000
SIZE, PITCH = 1000, 2000  # database units (1 nm)

CARVELLE_CHILD = r'''
import sys, os
sys.path.insert(0, {package!r})
import carvelle
out, count, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with carvelle.Library(out, 1e-3, 1e-9) as lib:
    with lib.structure("TOP") as top:
        if kind == "box":
            box = top.box
            for i in range(count):
                x = (i % {columns}) * {pitch}
                y = (i // {columns}) * {pitch}
                box(x, y, x + {size}, y + {size}, layer=1)
        else:
            boundary = top.boundary
            for i in range(count):
                x = (i % {columns}) * {pitch}
                y = (i // {columns}) * {pitch}
                boundary([(x, y), (x + {size}, y), (x + {size}, y + {size}), (x, y + {size})], layer=1)
'''

PYA_CHILD = r'''
import pya
count = int(count_text)  # noqa: F821 (-rd)
layout = pya.Layout()
layout.dbu = 0.001
top = layout.create_cell("TOP")
shapes = top.shapes(layout.layer(1, 0))
for i in range(count):
    x = (i % {columns}) * {pitch}
    y = (i // {columns}) * {pitch}
    shapes.insert(pya.Box(x, y, x + {size}, y + {size}))
layout.write(out)  # noqa: F821 (-rd)
'''

GDSPY_CHILD = r'''
import sys
import gdspy
out, count = sys.argv[1], int(sys.argv[2])
lib = gdspy.GdsLibrary(unit=1e-6, precision=1e-9)
cell = gdspy.Cell("TOP", exclude_from_current=True)
lib.add(cell)
s, p = {size} / 1000.0, {pitch} / 1000.0
for i in range(count):
    x = (i % {columns}) * p
    y = (i // {columns}) * p
    cell.add(gdspy.Rectangle((x, y), (x + s, y + s), layer=1))
lib.write_gds(out)
'''


def timed(command, env=None):
    """Runs command under /usr/bin/time -v; returns (seconds, peak KiB)."""
    result = subprocess.run(["/usr/bin/time", "-v"] + command, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed:\n%s" % (command[0], result.stderr[-2000:]))
    wall = re.search(r"Elapsed \(wall clock\) time .*: (?:(\d+):)?(\d+):([\d.]+)", result.stderr)
    hours, minutes, seconds = wall.groups()
    elapsed = int(hours or 0) * 3600 + int(minutes) * 60 + float(seconds)
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    return elapsed, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=1000000)
    parser.add_argument("--out", default=None, help="folder for the files (default: a temporary one)")
    args = parser.parse_args()
    if not os.path.exists("/usr/bin/time"):
        sys.exit("needs /usr/bin/time (Debian package time)")

    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = args.out or tempfile.mkdtemp(prefix="carvelle-bench-")
    os.makedirs(out_dir, exist_ok=True)
    values = dict(columns=COLUMNS, pitch=PITCH, size=SIZE, package=here)
    scripts = {}
    for name, text in (("carvelle", CARVELLE_CHILD), ("pya", PYA_CHILD), ("gdspy", GDSPY_CHILD)):
        scripts[name] = os.path.join(out_dir, "bench_%s.py" % name)
        with open(scripts[name], "w") as f:
            f.write(text.format(**values))

    runs = []
    count = str(args.count)
    for kind in ("box", "boundary"):
        path = os.path.join(out_dir, "carvelle_%s.gds" % kind)
        runs.append(("carvelle %s (%s)" % (kind, os.path.basename(sys.executable)), path,
                     [sys.executable, scripts["carvelle"], path, count, kind]))
    klayout = shutil.which("klayout")
    if klayout:
        path = os.path.join(out_dir, "pya.gds")
        runs.append(("KLayout pya (klayout -b)", path,
                     [klayout, "-b", "-r", scripts["pya"], "-rd", "out=" + path, "-rd", "count_text=" + count]))
    else:
        print("klayout not found: pya skipped", file=sys.stderr)
    if subprocess.run(["/usr/bin/python3", "-c", "import gdspy"], stderr=subprocess.DEVNULL).returncode == 0:
        path = os.path.join(out_dir, "gdspy.gds")
        runs.append(("gdspy (/usr/bin/python3)", path, ["/usr/bin/python3", scripts["gdspy"], path, count]))
    else:
        print("gdspy not importable by /usr/bin/python3: skipped", file=sys.stderr)

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    print("%d boxes, files in %s\n" % (args.count, out_dir))
    print("| writer | wall time (s) | peak RSS (MiB) | file (MB) |")
    print("|---|---:|---:|---:|")
    for label, path, command in runs:
        elapsed, peak = timed(command, env)
        size = os.path.getsize(path) / 1e6
        print("| %s | %.2f | %.1f | %.1f |" % (label, elapsed, peak / 1024.0, size), flush=True)


if __name__ == "__main__":
    main()
