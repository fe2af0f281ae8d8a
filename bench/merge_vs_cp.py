#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The merge beside cp: carvelle-merge joining part libraries and cp copying
the same parts, run side by side as whole processes, interleaved (cp, merge,
cp, merge ...): one warm-up round, then --runs timed rounds; the table shows
the median and the spread, the throughput over the bytes of the parts, and
each process's CPU time and peak RSS. Outputs are deleted after each run and
the page cache is flushed (sync) before each, so runs do not pay for each
other's writeback.

    bench/merge_vs_cp.py                   10 million boxes (780 MB) in 4 parts
    bench/merge_vs_cp.py --boxes 2000000 --parts 8
    bench/merge_vs_cp.py --also before=/tmp/main-build/programs/carvelle-merge

--also NAME=PATH adds another merge program (an older build, a build with
the check turned off) to the same interleaved rounds.

It builds carvelle_write_part and carvelle-merge into build-bench-merge
unless --build-dir names a build made with -DCARVELLE_BUILD_BENCHMARKS=ON.
Other benchmarks import compare() to measure their own parts.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1e6


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def build(build_dir):
    """Builds the part writer and the merge tool; their paths."""
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DCARVELLE_BUILD_BENCHMARKS=ON", "-DCARVELLE_BUILD_TESTS=OFF", "-DCARVELLE_BUILD_EXAMPLES=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", "2", "--target", "carvelle_write_part", "carvelle_merge_tool"],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "bench"), os.path.join(build_dir, "programs", "carvelle-merge")


def timed(command):
    """Wall seconds, CPU seconds (user + system) and peak RSS in MiB of one process."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report.name] + command, check=True)
        seconds = time.perf_counter() - start
        user, system, rss_kib = report.read().split()[-3:]
    return seconds, float(user) + float(system), int(rss_kib) / 1024


def compare(merge_tool, parts, out_dir, runs=5, warmups=1, also=()):
    """Rows (tool, wall times, CPU times, peak RSS) for cp and carvelle-merge over the same parts, and for each
    (name, program) in also."""
    copy_dir = os.path.join(out_dir, "cp")
    merged = os.path.join(out_dir, "merged.gds")
    tools = [("cp", ["cp"] + parts + [copy_dir + "/"]), ("carvelle-merge", [merge_tool, merged] + parts)]
    tools += [(name, [program, merged] + parts) for name, program in also]
    results = {name: ([], [], []) for name, _ in tools}
    for round_number in range(warmups + runs):
        warm_up = " (warm-up)" if round_number < warmups else ""
        log("merge beside cp: round %d of %d%s" % (round_number + 1, warmups + runs, warm_up))
        for name, command in tools:
            os.makedirs(copy_dir, exist_ok=True)
            os.sync()
            seconds, cpu, rss = timed(command)
            if round_number >= warmups:
                for values, value in zip(results[name], (seconds, cpu, rss)):
                    values.append(value)
            shutil.rmtree(copy_dir)
            if os.path.exists(merged):
                os.remove(merged)
    size = sum(os.path.getsize(p) for p in parts)
    return size, [(name,) + results[name] for name, _ in tools]


def table(size, rows):
    cp_median = statistics.median(rows[0][1])
    lines = ["| tool | parts MB | time: median (min-max) | MB/s | throughput / cp's | CPU s | peak RSS MiB |",
             "|---|---|---|---|---|---|---|"]
    for name, seconds, cpu, rss in rows:
        median = statistics.median(seconds)
        lines.append("| %s | %.1f | %.3f s (%.3f-%.3f) | %.0f | %.2f | %.3f | %.1f |" % (
            name, size / MB, median, min(seconds), max(seconds), size / MB / median, cp_median / median,
            statistics.median(cpu), max(rss)))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--boxes", type=int, default=10000000, help="boxes in all parts (10 million)")
    parser.add_argument("--parts", type=int, default=4, help="part libraries (4)")
    parser.add_argument("--structures", type=int, default=25, help="structures per part (25)")
    parser.add_argument("--runs", type=int, default=5, help="timed rounds after the warm-up (5)")
    parser.add_argument("--build-dir", help="a build with benchmarks (default: build-bench-merge, built now)")
    parser.add_argument("--out-dir", help="folder for the files (default: a new folder in the source tree's disk)")
    parser.add_argument("--also", action="append", default=[], metavar="NAME=PATH",
                        help="another merge program to run in the same rounds")
    args = parser.parse_args()
    also = [tuple(item.split("=", 1)) for item in args.also]

    bench_dir, merge_tool = build(args.build_dir or os.path.join(ROOT, "build-bench-merge"))
    write_part = os.path.join(bench_dir, "carvelle_write_part")
    out_dir = tempfile.mkdtemp(prefix="carvelle-bench-", dir=args.out_dir or ROOT)
    try:
        per_structure = max(args.boxes // (args.parts * args.structures), 1)
        parts = []
        for i in range(args.parts):
            parts.append(os.path.join(out_dir, "part-%d.gds" % i))
            subprocess.run([write_part, parts[-1], "P%d_" % i, str(args.structures), str(per_structure)], check=True)
        size, rows = compare(merge_tool, parts, out_dir, args.runs, also=also)
        print("%d boxes in %d parts of %d structures; %d timed rounds after 1 warm-up, interleaved; files on %s\n" % (
            per_structure * args.structures * args.parts, args.parts, args.structures, args.runs, out_dir))
        print(table(size, rows))
    finally:
        shutil.rmtree(out_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
