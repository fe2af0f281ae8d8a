#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Makes sure that the interop readers catch faults in the bytes: copies the
layouts with one hand-made fault each, runs both readers over the copies and
requires each of them to fail, naming the faulty element.

Usage: $PYTHON check_corrupted.py LAYOUT_DIR WORK_DIR
"""
import os
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

STRING, XY, PATH, BOUNDARY, COLROW, UNITS = 0x1906, 0x1003, 0x0900, 0x0800, 0x1302, 0x0305


def records(data):
    i = 0
    while i < len(data):
        length, tag = struct.unpack(">HH", data[i:i + 4])
        yield tag, data[i + 4:i + length]
        i += length


def rebuild(items):
    out = bytearray()
    for tag, payload in items:
        out += struct.pack(">HH", len(payload) + 4, tag) + payload
    return bytes(out)


def nth_xy_after(items, element_tag, n):
    """Index of the XY record of the n-th (1-based) element of a kind."""
    seen = 0
    current = None
    for i, (tag, _) in enumerate(items):
        if tag in (0x0800, 0x0900, 0x0A00, 0x0B00, 0x0C00, 0x1500, 0x2D00):
            current = tag
            if tag == element_tag:
                seen += 1
        elif tag == XY and current == element_tag and seen == n:
            return i
    raise LookupError("element not found")


def unpadded_text(data):
    """TEXT "odd" whose STRING lacks its pad byte (record length 7)."""
    out = bytearray()
    for tag, payload in records(data):
        if tag == STRING and payload == b"odd\0":
            out += struct.pack(">HH", 7, tag) + b"odd"
        else:
            out += struct.pack(">HH", len(payload) + 4, tag) + payload
    return bytes(out)


def joint_not_repeated(data):
    """Second piece of the 20000-point path starts after the joint point."""
    items = list(records(data))
    i = nth_xy_after(items, PATH, 2)
    items[i] = (XY, items[i][1][8:])
    return rebuild(items)


def circle_point_moved(data):
    """Third circle: x of its sixth vertex one unit off."""
    items = list(records(data))
    i = nth_xy_after(items, BOUNDARY, 3)
    payload = bytearray(items[i][1])
    x = struct.unpack(">i", payload[40:44])[0]
    payload[40:44] = struct.pack(">i", x + 1)
    items[i] = (XY, bytes(payload))
    return rebuild(items)


def colrow_swapped(data):
    """First AREF with its column and row counts swapped."""
    items = list(records(data))
    i = next(i for i, (tag, _) in enumerate(items) if tag == COLROW)
    items[i] = (COLROW, items[i][1][2:4] + items[i][1][0:2])
    return rebuild(items)


def user_unit_changed(data):
    """UNITS: a high mantissa byte of the first value changed."""
    items = list(records(data))
    i = next(i for i, (tag, _) in enumerate(items) if tag == UNITS)
    payload = bytearray(items[i][1])
    payload[2] ^= 0x10
    items[i] = (UNITS, bytes(payload))
    return rebuild(items)


FAULTS = [
    ("elements", unpadded_text, "layout elements,"),
    ("big", joint_not_repeated, "layout big, structure BIG, path #1 piece 2/3"),
    ("curves", circle_point_moved, "layout curves, structure CURVES, circle #3"),
    ("hierarchy", colrow_swapped, "layout hierarchy, structure LEVEL2x, aref #1"),
    ("limits", user_unit_changed, "layout limits, structure -, UNITS"),
]


def main(argv):
    if len(argv) != 2:
        raise SystemExit("usage: check_corrupted.py LAYOUT_DIR WORK_DIR")
    source, work = argv
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for layout, fault, _ in FAULTS:
        with open(os.path.join(source, layout + ".gds"), "rb") as f:
            data = f.read()
        broken = fault(data)
        if broken == data:
            raise SystemExit("fault %s changed nothing" % fault.__name__)
        with open(os.path.join(work, layout + ".gds"), "wb") as f:
            f.write(broken)
        shutil.copy(os.path.join(source, layout + ".json"), work)
        print("made %s.gds: %s" % (layout, fault.__doc__.strip()))

    problems = 0
    for reader in ("klayout", "gdspy"):
        run = subprocess.run([os.path.join(HERE, "run_reader"), reader, work],
                             env=dict(os.environ, PYTHON=sys.executable),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        fails = [line for line in run.stdout.splitlines() if line.startswith("FAIL")]
        if run.returncode == 0:
            print("PROBLEM: %s passed the corrupted layouts" % reader)
            problems += 1
        for layout, fault, wanted in FAULTS:
            hits = [line for line in fails if wanted in line]
            if hits:
                print("caught by %s: %s" % (reader, hits[0][:200]))
            else:
                print("PROBLEM: %s did not report %r (%s)" % (reader, wanted, fault.__name__))
                problems += 1
    if problems:
        print("%d faults went unnoticed" % problems)
        return 1
    print("every fault was caught by both readers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
