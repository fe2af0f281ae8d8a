#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Parallel generation from Python: examples/python/parallel_chip.py writing
N random rectangles on five layers (generated per shape in Python, tiled
into structures under one top structure) with 1 and with 2 worker
processes, run side by side as whole processes, interleaved: one warm-up
round, then --runs timed rounds (median and spread, peak RSS of the largest
process). A pure-Python loop on 1 and 2 processes in the same rounds shows
what speed-up the machine offers at the time (other jobs may hold a core).
Then the merge beside cp on the parts of the same workload
(bench/merge_vs_cp.py), and a plot into docs/parallel.png.

    bench/parallel_generation.py                 2 million rectangles
    bench/parallel_generation.py --shapes 500000 --runs 1

It uses the carvelle package staged in --build-dir (default: build, from
`make build`) and the carvelle-merge program built there.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
EXAMPLE = os.path.join(ROOT, "examples", "python", "parallel_chip.py")
sys.path.insert(0, BENCH)
import merge_vs_cp  # noqa: E402


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def run_example(build_dir, out, shapes, tiles, workers):
    """Wall, generation and merge seconds, peak RSS MiB, bytes written."""
    env = dict(os.environ, PYTHONPATH=build_dir)
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, sys.executable, EXAMPLE, out,
                               "--shapes", str(shapes), "--tiles", str(tiles), "--workers", str(workers)],
                              env=env, check=True, capture_output=True, text=True)
        seconds = time.perf_counter() - start
        rss = int(report.read().split()[-1]) / 1024
    generated, merged = (float(v) for v in re.search(r"generated in ([\d.]+) s, merged in ([\d.]+) s",
                                                     done.stdout).groups())
    size = os.path.getsize(out)
    os.remove(out)
    return seconds, generated, merged, rss, size


def burn(steps):
    total = 0
    for i in range(steps):
        total += i * i
    return total


def control(workers, tasks=16, steps=1_500_000):
    """Wall seconds of a pure-Python loop split into tasks on `workers`
    processes: the speed-up the machine offers at the time, with no file."""
    from concurrent.futures import ProcessPoolExecutor
    start = time.perf_counter()
    with ProcessPoolExecutor(workers) as pool:
        list(pool.map(burn, [steps] * tasks))
    return time.perf_counter() - start


def write_parts(build_dir, folder, shapes, tiles):
    """The workload's tasks, each into a part of its own, kept for the merge beside cp."""
    code = ("import sys, carvelle\nsys.path.insert(0, %r)\nimport parallel_chip as p\n"
            "for i, t in enumerate(p.tasks(%d, %d)):\n"
            "    with carvelle.Library(%r %% i) as lib:\n        t.function(lib, *t.args)\n"
            % (os.path.dirname(EXAMPLE), shapes, tiles, os.path.join(folder, "part-%04d.gds")))
    # The top part refers to the tiles of the others, as write_parallel's parts do: no warning.
    subprocess.run([sys.executable, "-W", "ignore::UserWarning", "-c", code],
                   env=dict(os.environ, PYTHONPATH=build_dir), check=True)
    return sorted(os.path.join(folder, name) for name in os.listdir(folder))


def plot(path, shapes, rows, merge_size, merge_rows):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
    labels = ["%d worker%s" % (w, "s" if w > 1 else "") for w, _ in rows]
    generate = [statistics.median(r[1]) for _, r in rows]
    merge = [statistics.median(r[2]) for _, r in rows]
    left.bar(labels, generate, label="generate (Python, per shape)")
    left.bar(labels, merge, bottom=generate, label="merge")
    left.set_ylabel("seconds (median)")
    left.set_title("%.1f million rectangles, five layers" % (shapes / 1e6))
    left.legend()
    names = [name for name, *_ in merge_rows]
    throughput = [merge_size / 1e6 / statistics.median(seconds) for _, seconds, *_ in merge_rows]
    right.bar(names, throughput, color=["grey", "tab:green"])
    right.set_ylabel("MB/s over the parts (median)")
    right.set_title("merge beside cp, %.0f MB of parts" % (merge_size / 1e6))
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--shapes", type=int, default=2_000_000, help="rectangles (2 million)")
    parser.add_argument("--tiles", type=int, default=64, help="structures, one task each (64)")
    parser.add_argument("--runs", type=int, default=3, help="timed rounds after the warm-up (3)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"), help="a build of this tree (build)")
    parser.add_argument("--out-dir", help="folder for the files (default: a new folder in the source tree's disk)")
    parser.add_argument("--plot", default=os.path.join(ROOT, "docs", "parallel.png"), help="plot file")
    parser.add_argument("--no-plot", action="store_true")
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    merge_tool = os.path.join(build_dir, "programs", "carvelle-merge")

    out_dir = tempfile.mkdtemp(prefix="carvelle-bench-", dir=args.out_dir or ROOT)
    try:
        out = os.path.join(out_dir, "chip.gds")
        rows = [(workers, ([], [], [], [])) for workers in (1, 2)]
        controls = {1: [], 2: []}
        size = 0
        for round_number in range(1 + args.runs):
            log("generation: round %d of %d%s" % (round_number + 1, 1 + args.runs,
                                                  " (warm-up)" if round_number == 0 else ""))
            for workers, values in rows:
                seconds, generated, merged, rss, size = run_example(build_dir, out, args.shapes, args.tiles, workers)
                if round_number > 0:
                    for column, value in zip(values, (seconds, generated, merged, rss)):
                        column.append(value)
                    controls[workers].append(control(workers))
        parts_dir = os.path.join(out_dir, "parts")
        os.mkdir(parts_dir)
        parts = write_parts(build_dir, parts_dir, args.shapes, args.tiles)
        merge_size, merge_rows = merge_vs_cp.compare(merge_tool, parts, out_dir, args.runs)

        print("%d rectangles on 5 layers in %d tiles under one top structure, %.1f MB; %s cores; %d timed rounds "
              "after 1 warm-up, interleaved\n" % (args.shapes, args.tiles, size / 1e6, os.cpu_count(), args.runs))
        print("| workers | time in all: median (min-max) | generate | merge | shapes/s | speed-up | peak RSS MiB |")
        print("|---|---|---|---|---|---|---|")
        single = statistics.median(rows[0][1][0])
        for workers, (seconds, generated, merged, rss) in rows:
            median = statistics.median(seconds)
            print("| %d | %.2f s (%.2f-%.2f) | %.2f s | %.2f s | %.0f | %.2f | %.1f |" % (
                workers, median, min(seconds), max(seconds), statistics.median(generated), statistics.median(merged),
                args.shapes / median, single / median, max(rss)))
        print("\ncontrol, a pure-Python loop in 16 tasks run in the same rounds: %.2f s on 1 process, %.2f s on 2: "
              "speed-up %.2f, what the machine offered at the time" % (
                  statistics.median(controls[1]), statistics.median(controls[2]),
                  statistics.median(controls[1]) / statistics.median(controls[2])))
        print("\nThe merge beside cp on the %d parts of the same workload:\n" % len(parts))
        print(merge_vs_cp.table(merge_size, merge_rows))
        if not args.no_plot:
            plot(args.plot, args.shapes, rows, merge_size, merge_rows)
            print("\nplot: %s" % args.plot)
    finally:
        shutil.rmtree(out_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
