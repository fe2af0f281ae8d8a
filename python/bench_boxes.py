#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Boxes from Python, side by side: the C driver, carvelle's compiled and
ctypes backends per call and in batches, KLayout's pya and gdspy.

    /usr/bin/python3 python/bench_boxes.py [--build DIR] [--count N] [--batch-count N] [--rounds R] [--no-peers]

Every writer runs as a whole process under /usr/bin/time -v (interpreter
start, imports, building and writing), the writers taking turns round after
round; the table gives the median of the rounds: the process's wall time,
the time of the writing calls alone (as the process measures it), that time
per element, the peak resident memory and the file size. All write the same
geometry as bench/write_shapes.c: box i on a 1000-column grid with a
200-unit pitch, 100 x 100, layer 1 of one cell, database unit 1 nm, to
/dev/shm when it exists. Before timing, the batch writer's file is checked
to equal the C driver's, timestamps aside.

- C driver: bench/write_shapes.c, compiled here against the build's library;
- box() / boundary(): one Structure.box or Structure.boundary (four corners
  as a list of pairs) call per box;
- boxes(): one Structure.boxes call with an (N, 4) int32 numpy array (the
  array is built first, outside the write time);
- pya: KLayout's Shapes.insert(Box), then Layout.write (bench/peers);
- gdspy: Cell.add(Rectangle), then GdsLibrary.write_gds (bench/peers).

carvelle runs on the package that the build stages (DIR/carvelle), with
CARVELLE_BACKEND choosing the backend; peers whose tool is missing are
skipped.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PEERS = os.path.join(ROOT, "bench", "peers")
PYTHON = "/usr/bin/python3"  # Debian's, with numpy and gdspy

CARVELLE_CHILD = r'''
import sys, time
import numpy as np
import carvelle
kind, count, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
if kind == "boxes":
    i = np.arange(count, dtype=np.int32)
    corners = np.empty((count, 4), dtype=np.int32)
    corners[:, 0] = (i % 1000) * 200
    corners[:, 1] = (i // 1000) * 200
    corners[:, 2] = corners[:, 0] + 100
    corners[:, 3] = corners[:, 1] + 100
    del i
start = time.perf_counter()
with carvelle.Library(out, user_unit=1e-3, meter_unit=1e-9) as lib:
    with lib.structure("TOP") as top:
        if kind == "boxes":
            top.boxes(corners, layer=1)
        elif kind == "box":
            box = top.box
            for n in range(count):
                x = (n % 1000) * 200
                y = (n // 1000) * 200
                box(x, y, x + 100, y + 100, layer=1)
        else:
            boundary = top.boundary
            for n in range(count):
                x = (n % 1000) * 200
                y = (n // 1000) * 200
                boundary([(x, y), (x + 100, y), (x + 100, y + 100), (x, y + 100)], layer=1)
assert carvelle.backend == sys.argv[4], carvelle.backend
print("write_seconds=%.6f" % (time.perf_counter() - start))
'''


def timed(command, env):
    """Runs command under /usr/bin/time -v: (wall seconds, peak KiB, write seconds or None)."""
    result = subprocess.run(["/usr/bin/time", "-v"] + command, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed:\n%s" % (" ".join(command), result.stderr[-2000:]))
    wall = re.search(r"Elapsed \(wall clock\) time .*: (?:(\d+):)?(\d+):([\d.]+)", result.stderr)
    hours, minutes, seconds = wall.groups()
    elapsed = int(hours or 0) * 3600 + int(minutes) * 60 + float(seconds)
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    write = re.search(r"write_seconds=([\d.]+)", result.stdout)
    build = re.search(r"build_seconds=([\d.]+)", result.stdout)
    # The peers report building and writing apart; both are the writing here.
    seconds = (float(write.group(1)) + (float(build.group(1)) if build else 0.0)) if write else None
    return elapsed, peak, seconds


def masked(data):
    """The file with the BGNLIB and BGNSTR dates zeroed."""
    data = bytearray(data)
    at = 0
    while at + 4 <= len(data):
        length = data[at] << 8 | data[at + 1]
        if data[at + 2] in (0x01, 0x05):
            data[at + 4:at + length] = bytes(length - 4)
        at += max(length, 4)
    return bytes(data)


def c_driver(build, out_dir):
    program = os.path.join(out_dir, "carvelle_write")
    subprocess.run(["cc", "-O2", "-I", os.path.join(ROOT, "include"), os.path.join(ROOT, "bench", "write_shapes.c"),
                    "-L", build, "-lcarvelle", "-Wl,-rpath," + build, "-lm", "-o", program], check=True)
    return program


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="the CMake build folder")
    parser.add_argument("--count", type=int, default=1000000, help="boxes per call-by-call writer")
    parser.add_argument("--batch-count", type=int, default=10000000, help="boxes for the C driver and boxes()")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-peers", action="store_true")
    args = parser.parse_args()
    if not os.path.exists("/usr/bin/time"):
        sys.exit("needs /usr/bin/time (Debian package time)")
    build = os.path.abspath(args.build)
    # In memory (tmpfs) where there is one: the figures then measure the
    # writers, not the virtual disk's write-back, which other work disturbs.
    out_dir = tempfile.mkdtemp(prefix="carvelle-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    child = os.path.join(out_dir, "carvelle_child.py")
    with open(child, "w") as f:
        f.write(CARVELLE_CHILD)
    driver = c_driver(build, out_dir)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", PYTHONPATH=build)
    env.pop("CARVELLE_LIBRARY", None)

    def carvelle(backend, kind, count):
        return (dict(env, CARVELLE_BACKEND=backend),
                lambda path: [PYTHON, child, kind, str(count), path, backend])

    runs = [("C driver (bench/write_shapes.c)", args.batch_count,
             (env, lambda path: [driver, "box", str(args.batch_count), path]))]
    for backend in ("compiled", "ctypes"):
        count = args.batch_count if backend == "compiled" else args.count
        runs.append(("carvelle %s, boxes() from (N, 4) int32" % backend, count, carvelle(backend, "boxes", count)))
    for kind in ("box", "boundary"):
        for backend in ("compiled", "ctypes"):
            runs.append(("carvelle %s, %s() per box" % (backend, kind), args.count,
                         carvelle(backend, kind, args.count)))
    if not args.no_peers:
        if shutil.which("klayout"):
            runs.append(("KLayout pya, Shapes.insert + Layout.write", args.count, (env, lambda path: [
                "klayout", "-b", "-r", os.path.join(PEERS, "klayout_boxes.py"), "-rd", "n=%d" % args.count,
                "-rd", "out=" + path])))
        if subprocess.run([PYTHON, "-c", "import gdspy"], stderr=subprocess.DEVNULL).returncode == 0:
            runs.append(("gdspy, Cell.add + write_gds", args.count, (env, lambda path: [
                PYTHON, os.path.join(PEERS, "gdspy_boxes.py"), str(args.count), path])))

    # The batch writer writes the C driver's bytes (LIBNAME alike: the same relative name).
    files = []
    for folder, (run_env, command) in (("c", (env, lambda path: [driver, "box", "10000", path])),
                                       ("py", carvelle("compiled", "boxes", 10000))):
        os.mkdir(os.path.join(out_dir, folder))
        subprocess.run(command("check.gds"), env=run_env, cwd=os.path.join(out_dir, folder), check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(out_dir, folder, "check.gds"), "rb") as f:
            files.append(masked(f.read()))
    if files[0] != files[1]:
        sys.exit("boxes() does not write the C driver's bytes")

    print("median of %d interleaved rounds; each file deleted after its run\n" % args.rounds)
    timings = {label: [] for label, _, _ in runs}
    sizes = {}
    path = os.path.join(out_dir, "bench.gds")
    for _ in range(args.rounds):
        for label, count, (run_env, command) in runs:
            timings[label].append(timed(command(path), run_env))
            sizes[label] = os.path.getsize(path) / 1e6
            os.remove(path)
    print("| writer | boxes | process (s) | writing (s) | per box (ns) | peak RSS (MiB) | file (MB) |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    results = {}
    for label, count, _ in runs:
        rounds = timings[label]
        wall = statistics.median(r[0] for r in rounds)
        peak = statistics.median(r[1] for r in rounds) / 1024.0
        writing = statistics.median(r[2] if r[2] is not None else r[0] for r in rounds)
        results[label] = (writing / count, wall / count)
        print("| %s | %d | %.3f | %.3f | %.0f | %.1f | %.1f |"
              % (label, count, wall, writing, writing / count * 1e9, peak, sizes[label]))
    print()
    for kind in ("box", "boundary"):
        ratio = results["carvelle ctypes, %s() per box" % kind][0] / results["carvelle compiled, %s() per box"
                                                                             % kind][0]
        print("%s() per call: compiled %.1f times faster than ctypes" % (kind, ratio))
    c_time = results["C driver (bench/write_shapes.c)"][1]
    batch = results["carvelle compiled, boxes() from (N, 4) int32"]
    print("boxes() from numpy: the call %.2f times the C driver's process time, the whole process %.2f times"
          % (batch[0] / c_time, batch[1] / c_time))
    shutil.rmtree(out_dir)


if __name__ == "__main__":
    main()
