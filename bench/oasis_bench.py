#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The .oas benchmark, on the data sets of bench/write_random.c: random
rectangles, a hierarchy, long paths. Each set is written by the library to
.oas and to .gds.gz, and KLayout writes the same layout to .oas (its
Layout.write alone, after reading the library's plain file).

Every command runs as a whole process under /usr/bin/time (wall time, peak
RSS); the table shows the median of --runs rounds after one warm-up, file
sizes, and the ratios the goals name.

    bench/oasis_bench.py [--rects 5000000] [--hier 20000] [--paths 2000] [--runs 3] [--build build]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
KLAYOUT_WRITE = """
import time
import pya
layout = pya.Layout()
layout.read(src)
start = time.time()
layout.write(dst)
print("%.3f" % (time.time() - start))
"""


def timed(command, env=None):
    """(wall seconds, peak RSS in MiB, stdout) of one process."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        child = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", report.name] + command,
                               capture_output=True, env=env)
        if child.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(command), child.stderr.decode()[-2000:]))
        seconds, kib = report.read().split()[-2:]
    return float(seconds), int(kib) / 1024.0, child.stdout.decode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rects", type=int, default=5000000)
    parser.add_argument("--hier", type=int, default=20000)
    parser.add_argument("--paths", type=int, default=2000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    writer = os.path.join(build, "carvelle_write_random")
    subprocess.run(["cc", "-O2", "-I", os.path.join(ROOT, "include"), os.path.join(BENCH, "write_random.c"),
                    "-o", writer, "-L", build, "-lcarvelle", "-Wl,-rpath," + build], check=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    print("| set | .oas s | .oas MiB | .oas MB | .gds.gz s | .gds.gz MB | KLayout write s | KLayout MiB "
          "| KLayout MB | size vs KLayout | size vs .gds.gz | speed vs KLayout | time vs .gds.gz |")
    print("|---" * 13 + "|")
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "write.py")
        with open(script, "w") as f:
            f.write(KLAYOUT_WRITE)
        for kind, count in (("rects", args.rects), ("hier", args.hier), ("paths", args.paths)):
            files = {name: os.path.join(folder, kind + name) for name in (".oas", ".gds.gz", ".gds", "-k.oas")}
            subprocess.run([writer, kind, str(count), files[".gds"]], check=True)
            runs = {".oas": [], ".gds.gz": [], "klayout": []}
            for round_ in range(args.runs + 1):
                results = {
                    ".oas": timed([writer, kind, str(count), files[".oas"]]),
                    ".gds.gz": timed([writer, kind, str(count), files[".gds.gz"]]),
                    "klayout": timed(["klayout", "-b", "-r", script, "-rd", "src=" + files[".gds"],
                                      "-rd", "dst=" + files["-k.oas"]], env),
                }
                if round_ > 0:  # the first round warms the caches
                    for name, result in results.items():
                        runs[name].append(result)
            median = {name: (statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs))
                      for name, rs in runs.items()}
            write_alone = statistics.median(float(r[2].split()[-1]) for r in runs["klayout"])
            size = {name: os.path.getsize(path) / 1e6 for name, path in files.items()}
            row = "| %s %d | %.2f | %.1f | %.1f | %.2f | %.1f | %.2f | %.0f | %.1f | %.2fx | %.2fx | %.1fx | %.2fx |"
            print(row % (
                kind, count, median[".oas"][0], median[".oas"][1], size[".oas"], median[".gds.gz"][0],
                size[".gds.gz"], write_alone, median["klayout"][1], size["-k.oas"],
                size[".oas"] / size["-k.oas"], size[".oas"] / size[".gds.gz"], write_alone / median[".oas"][0],
                median[".oas"][0] / median[".gds.gz"][0]))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
