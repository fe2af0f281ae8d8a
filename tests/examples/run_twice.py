#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs one example twice with SOURCE_DATE_EPOCH set and fails unless both
runs wrote the same bytes: the time is the only thing that changes between
runs of a deterministic program, and the variable fixes it.

    run_twice.py --build BUILD NAME OUTPUT.gds
"""

import argparse
import datetime
import os
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# 1709296496 s: 2024-03-01 12:34:56 UTC, as BGNLIB and BGNSTR hold it (year - 1900), twice.
EPOCH = "1709296496"
STAMP = struct.pack(">6h", 124, 3, 1, 12, 34, 56) * 2
BGNLIB, BGNSTR = 0x0102, 0x0502


def stamps(data: bytes) -> list:
    """The payloads of every BGNLIB and BGNSTR."""
    out, at = [], 0
    while at + 4 <= len(data):
        length, tag = struct.unpack_from(">HH", data, at)
        if length < 4:
            break
        if tag in (BGNLIB, BGNSTR):
            out.append(data[at + 4:at + length])
        at += length
    return out


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("name")
    parser.add_argument("output")
    args = parser.parse_args()
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    run = [sys.executable, os.path.join(ROOT, "scripts", "run-example"), "--build", args.build, args.name, args.output]
    runs = []
    # The same output name both times: LIBNAME holds it.
    for _ in range(2):
        subprocess.run(run, env=env, check=True, stdout=subprocess.DEVNULL)
        with open(args.output, "rb") as file:
            runs.append(file.read())
        os.remove(args.output)
    if runs[0] != runs[1]:
        first = next(i for i, (a, b) in enumerate(zip(runs[0], runs[1])) if a != b) if len(runs[0]) == len(
            runs[1]) else min(len(runs[0]), len(runs[1]))
        print("%s: two runs differ at byte %d (%d and %d bytes)" % (args.name, first, len(runs[0]), len(runs[1])))
        return 1
    # Two runs within one second match without the variable: the stamps
    # themselves show that it was honoured, or that the example fixes a time
    # of its own (Library(timestamp=)), which is never today's.
    found = stamps(runs[0])
    days = (datetime.date.today(), datetime.datetime.now(datetime.timezone.utc).date())
    today = {day.timetuple()[:3] for day in days}
    own = bool(found) and len(set(found)) == 1 and (
        struct.unpack(">3h", found[0][:6])[0] + 1900, *struct.unpack(">2h", found[0][2:6])) not in today
    if not found or (any(stamp != STAMP for stamp in found) and not own):
        print("%s: not every BGNLIB and BGNSTR holds SOURCE_DATE_EPOCH's time: %r" % (args.name, found[:3]))
        return 1
    print("%s: two runs with SOURCE_DATE_EPOCH wrote the same %d bytes" % (args.name, len(runs[0])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
