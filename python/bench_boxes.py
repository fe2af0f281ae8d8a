#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Boxes from Python, side by side: the C driver, carvelle's compiled and
ctypes backends per call and in batches, KLayout's pya and gdspy.

    $PYTHON python/bench_boxes.py [--build DIR] [--count N] [--batch-count N] [--rounds R] [--no-peers]

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
- user.box() / user.boxes(): the same in user units (micrometres), from
  floats and an (N, 4) float64 array, which the backend scales and rounds;
  "growth while writing" is the peak memory the call added beyond the array;
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
PYTHON = os.environ.get("PYTHON", sys.executable)  # the Makefile passes Debian's, with numpy and gdspy

CARVELLE_CHILD = r'''
import resource, sys, time
import numpy as np
import carvelle
kind, count, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
if kind in ("boxes", "user_boxes"):
    i = np.arange(count, dtype=np.int32)
    corners = np.empty((count, 4), dtype=np.int32 if kind == "boxes" else np.float64)
    corners[:, 0] = (i % 1000) * 200
    corners[:, 1] = (i // 1000) * 200
    corners[:, 2] = corners[:, 0] + 100
    corners[:, 3] = corners[:, 1] + 100
    if kind == "user_boxes":
        corners /= 1000.0   # micrometres: the user unit below
    del i
grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
with carvelle.Library(out, user_unit=1e-3, meter_unit=1e-9) as lib:
    with lib.structure("TOP") as top:
        if kind == "boxes":
            top.boxes(corners, layer=1)
        elif kind == "user_boxes":
            top.user.boxes(corners, layer=1)
        elif kind == "box":
            box = top.box
            for n in range(count):
                x = (n % 1000) * 200
                y = (n // 1000) * 200
                box(x, y, x + 100, y + 100, layer=1)
        elif kind == "user_box":
            box = top.user.box
            for n in range(count):
                x = (n % 1000) * 0.2
                y = (n // 1000) * 0.2
                box(x, y, x + 0.1, y + 0.1, layer=1)
        else:
            boundary = top.boundary
            for n in range(count):
                x = (n % 1000) * 200
                y = (n // 1000) * 200
                boundary([(x, y), (x + 100, y), (x + 100, y + 100), (x, y + 100)], layer=1)
assert carvelle.backend == sys.argv[4], carvelle.backend
print("write_seconds=%.6f" % (time.perf_counter() - start))
print("grown_kib=%d" % (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - grown))
'''


def timed(command, env):
    """Runs command under /usr/bin/time -v: (wall seconds, peak KiB, write seconds or None,
    peak growth during the writing in KiB or None)."""
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
    grown = re.search(r"grown_kib=(\d+)", result.stdout)
    return elapsed, peak, seconds, int(grown.group(1)) if grown else None


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
        runs.append(("carvelle %s, user.boxes() from (N, 4) float64" % backend, count,
                     carvelle(backend, "user_boxes", count)))
    for kind in ("box", "user_box", "boundary"):
        for backend in ("compiled", "ctypes"):
            runs.append(("carvelle %s, %s() per box" % (backend, kind.replace("_", ".")), args.count,
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
                                       ("py", carvelle("compiled", "boxes", 10000)),
                                       ("user", carvelle("compiled", "user_boxes", 10000))):
        os.mkdir(os.path.join(out_dir, folder))
        subprocess.run(command("check.gds"), env=run_env, cwd=os.path.join(out_dir, folder), check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(out_dir, folder, "check.gds"), "rb") as f:
            files.append(masked(f.read()))
    if files[0] != files[1] or files[0] != files[2]:
        sys.exit("boxes() or user.boxes() does not write the C driver's bytes")

    print("median of %d interleaved rounds; each file deleted after its run\n" % args.rounds)
    timings = {label: [] for label, _, _ in runs}
    sizes = {}
    path = os.path.join(out_dir, "bench.gds")
    for _ in range(args.rounds):
        for label, count, (run_env, command) in runs:
            timings[label].append(timed(command(path), run_env))
            sizes[label] = os.path.getsize(path) / 1e6
            os.remove(path)
    print("| writer | boxes | process (s) | writing (s) | per box (ns) | peak RSS (MiB) | growth while writing (MiB) "
          "| file (MB) |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    results = {}
    for label, count, _ in runs:
        rounds = timings[label]
        wall = statistics.median(r[0] for r in rounds)
        peak = statistics.median(r[1] for r in rounds) / 1024.0
        writing = statistics.median(r[2] if r[2] is not None else r[0] for r in rounds)
        grown = [r[3] for r in rounds if r[3] is not None]
        growth = "%.1f" % (statistics.median(grown) / 1024.0) if grown else "-"
        results[label] = (writing / count, wall / count, growth)
        print("| %s | %d | %.3f | %.3f | %.0f | %.1f | %s | %.1f |"
              % (label, count, wall, writing, writing / count * 1e9, peak, growth, sizes[label]))
    print()
    for kind in ("box", "boundary"):
        ratio = results["carvelle ctypes, %s() per box" % kind][0] / results["carvelle compiled, %s() per box"
                                                                             % kind][0]
        print("%s() per call: compiled %.1f times faster than ctypes" % (kind, ratio))
    per_call = results["carvelle compiled, user.box() per box"][0] / results["carvelle compiled, box() per box"][0]
    user_batch = results["carvelle compiled, user.boxes() from (N, 4) float64"]
    batch_ratio = user_batch[0] / results["carvelle compiled, boxes() from (N, 4) int32"][0]
    print("user units: user.box() %.2f times box() per call; user.boxes() from float64 %.2f times boxes() from "
          "int32, memory grown by %s MiB while writing" % (per_call, batch_ratio, user_batch[2]))
    c_time = results["C driver (bench/write_shapes.c)"][1]
    batch = results["carvelle compiled, boxes() from (N, 4) int32"]
    print("boxes() from numpy: the call %.2f times the C driver's process time, the whole process %.2f times"
          % (batch[0] / c_time, batch[1] / c_time))
    shutil.rmtree(out_dir)


if __name__ == "__main__":
    main()
