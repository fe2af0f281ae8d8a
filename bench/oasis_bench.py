#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The OASIS benchmark: the three data sets of the .gds.gz benchmark's
generator (N random rectangles; a hierarchy of cells placed by SREF and
AREF; long Manhattan paths) written by the library to .oas and to .gds.gz,
and by KLayout to .oas (its Layout.write alone, strict mode and CBLOCKs,
after reading the plain file untimed).

Every command runs as a whole process under /usr/bin/time (wall time, peak
RSS), interleaved round by round; the table shows the median of --runs
rounds after one warm-up. Prints a Markdown table and the ratios against the
goals, and plots into docs/oasis.png. While the library writes no OASIS
(a .oas name still gives GDSII) it says so and stops, successfully.

    bench/oasis_bench.py [--n 5000000] [--cells 100000] [--paths 4000] [--runs 3] [--build build]
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
MAGIC = b"%SEMI-OASIS\r\n"
OURS_OAS, OURS_GZ, KLAYOUT_OAS = "Carvelle .oas", "Carvelle .gds.gz", "KLayout Layout.write .oas"


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def timed(command):
    """(wall seconds, peak RSS in MiB, stdout) of one process."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        child = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", report.name] + command, capture_output=True)
        if child.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(command), child.stderr.decode()[-2000:]))
        seconds, kib = report.read().split()[-2:]
    return float(seconds), int(kib) / 1024.0, child.stdout.decode()


def ratio(a, b, form="%.2f"):
    """a / b, or "-" where /usr/bin/time's 10 ms steps give b as 0."""
    return form % (a / b) if b else "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--n", type=int, default=5000000, help="random rectangles")
    parser.add_argument("--cells", type=int, default=100000, help="cells of the hierarchy")
    parser.add_argument("--paths", type=int, default=4000, help="paths of 200 to 8000 points")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out-dir", default=None, help="folder on the real disk (default: a temporary one)")
    parser.add_argument("--plot", default=os.path.join(ROOT, "docs", "oasis.png"))
    parser.add_argument("--force", action="store_true",
                        help="run even when a .oas name gives GDSII (to try the script itself)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    writer = os.path.join(build, "carvelle_write_random")
    subprocess.run(["cc", "-O2", "-I", os.path.join(ROOT, "include"), os.path.join(BENCH, "write_random.c"),
                    "-o", writer, "-L", build, "-lcarvelle", "-Wl,-rpath," + build], check=True)
    folder = tempfile.mkdtemp(prefix="carvelle-oasis-", dir=args.out_dir)
    probe = os.path.join(folder, "probe.oas")
    subprocess.run([writer, "rects", "1", probe], check=True)
    with open(probe, "rb") as handle:
        writes_oasis = handle.read(len(MAGIC)) == MAGIC
    os.remove(probe)
    if not writes_oasis and not args.force:
        os.rmdir(folder)
        print("skipped: the library does not write OASIS yet (a .oas name still gives GDSII)")
        return

    sets = [("random rectangles", "rects", args.n), ("hierarchy", "hier", args.cells),
            ("long paths", "paths", args.paths)]
    names = (OURS_OAS, OURS_GZ, KLAYOUT_OAS)
    med, sizes = {}, {}
    for label, mode, count in sets:
        plain, packed, oas, peer = (os.path.join(folder, mode + ext) for ext in (".gds", ".gds.gz", ".oas", "-k.oas"))
        count = str(count)
        cases = [
            (OURS_OAS, [writer, mode, count, oas], oas),
            (OURS_GZ, [writer, mode, count, packed], packed),
            (KLAYOUT_OAS, ["klayout", "-b", "-r", os.path.join(BENCH, "peers", "klayout_write_oas.py"),
                           "-rd", "src=" + plain, "-rd", "out=" + peer], peer),
        ]
        log("%s: the plain file for KLayout" % label)
        timed([writer, mode, count, plain])
        results = {name: [] for name in names}
        for round_ in range(args.runs + 1):
            log("%s: round %d of %d" % (label, round_, args.runs))
            for name, command, out in cases:
                seconds, mib, stdout = timed(command)
                inner = re.search(r"write_seconds=([0-9.]+)", stdout)
                if inner:
                    seconds = float(inner.group(1))
                sizes[label, name] = os.path.getsize(out)
                os.remove(out)
                if round_ > 0:
                    results[name].append((seconds, mib))
        os.remove(plain)
        for name, runs in results.items():
            med[label, name] = (statistics.median(s for s, _ in runs), statistics.median(m for _, m in runs),
                                min(s for s, _ in runs), max(s for s, _ in runs))
    os.rmdir(folder)

    # KLayout's peak memory includes reading the plain file, which its time leaves out.
    print("| data set | writer | seconds (median, min-max) | peak MiB | file MB |")
    print("|---|---|---|---|---|")
    for label, _, count in sets:
        for name in names:
            s, m, lo, hi = med[label, name]
            print("| %s (%d) | %s | %.2f (%.2f-%.2f) | %.1f | %.1f |"
                  % (label, count, name, s, lo, hi, m, sizes[label, name] / 1e6))
    for label, _, _ in sets:
        def t(name):
            return med[label, name][0]
        size = sizes[label, OURS_OAS]
        print()
        print("%s (medians):" % label)
        print("- KLayout write / Carvelle .oas: %s x (goal >= 10)" % ratio(t(KLAYOUT_OAS), t(OURS_OAS), "%.1f"))
        print("- Carvelle .oas / Carvelle .gds.gz time: %s x (goal <= 1.25)" % ratio(t(OURS_OAS), t(OURS_GZ)))
        print("- .oas size / KLayout's: %s (goal <= %s)"
              % (ratio(size, sizes[label, KLAYOUT_OAS], "%.3f"), "1.3" if label == "hierarchy" else "1"))
        print("- .oas size / our .gds.gz: %s (goal <= 0.6)" % ratio(size, sizes[label, OURS_GZ], "%.3f"))
        print("- peak memory: %.1f MiB (goal <= 64)" % med[label, OURS_OAS][1])

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.2))
    colors = {OURS_OAS: "#4c72b0", OURS_GZ: "#8fa8d8", KLAYOUT_OAS: "#999999"}
    width = 0.27
    for axis, (title, value) in zip(axes, (("write seconds (median of %d runs, log scale)" % args.runs,
                                            lambda label, name: med[label, name][0]),
                                           ("file MB", lambda label, name: sizes[label, name] / 1e6))):
        for k, name in enumerate(names):
            xs = [i + (k - 1) * width for i in range(len(sets))]
            ys = [value(label, name) for label, _, _ in sets]
            axis.bar(xs, ys, width, color=colors[name])
            for x, y in zip(xs, ys):
                axis.text(x, y, " %.3g" % y, ha="center", va="bottom", fontsize=7, rotation=90)
        axis.set_xticks(range(len(sets)))
        axis.set_xticklabels(["%s\n(%d)" % (label, count) for label, _, count in sets], fontsize=8)
        axis.set_title(title, fontsize=10)
        if "log" in title:
            axis.set_yscale("log")
        axis.margins(y=0.25)
    fig.legend(names, loc="lower center", ncol=3, fontsize=8)
    fig.suptitle("OASIS writers on a 2-core machine", fontsize=10)
    fig.tight_layout(rect=(0, 0.07, 1, 1))
    os.makedirs(os.path.dirname(args.plot), exist_ok=True)
    fig.savefig(args.plot, dpi=110)
    log("plot: " + args.plot)


if __name__ == "__main__":
    main()
