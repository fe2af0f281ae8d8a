#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Parts that KLayout writes and reads, through carvelle-merge, read back by
KLayout: PCells from several KLayout sessions stay PCells (the contexts are
joined into the output's first structure), contexts that disagree or are cut
are refused, a polygon and a path past 8,191 points in KLayout's multi-XY
form and the head records LIBDIRSIZE and SRFNAME pass, and two parts that
KLayout reads alone but that reference each other in a cycle are refused.

    klayout_parts_test.py CARVELLE_MERGE SCRATCH_FOLDER
"""
import json
import os
import struct
import subprocess
import sys

MAKE = r"""
import pya

def write(path, top, cells, context=True, multi_xy=False):
    ly = pya.Layout()
    ly.dbu = 0.001
    t = ly.create_cell(top)
    for x, (lib, name, params) in enumerate(cells):
        cell = ly.create_cell(name, lib, params)
        t.insert(pya.CellInstArray(cell.cell_index(), pya.Trans(pya.Point(x * 50000, 0))))
    if multi_xy:
        n = 9000  # a comb: no point of it lies on a line with its neighbours
        teeth = [pya.Point(i * 10, 1000 + (i % 2) * 100) for i in range(n)]
        t.shapes(ly.layer(7, 0)).insert(pya.Polygon([pya.Point(0, 0)] + teeth + [pya.Point((n - 1) * 10, 0)]))
        t.shapes(ly.layer(8, 0)).insert(pya.Path([pya.Point(i * 10, (i % 2) * 10) for i in range(n)], 4))
    if not cells and not multi_xy:
        t.shapes(ly.layer(5, 0)).insert(pya.Box(0, 0, 100, 100))
    options = pya.SaveLayoutOptions()
    options.write_context_info = context
    options.gds2_multi_xy_records = multi_xy
    ly.write(path, options)

hello = ("Basic", "TEXT", {"text": "HELLO", "layer": pya.LayerInfo(1, 0)})
write(folder + "/a.gds", "TOPA", [hello, ("Basic", "CIRCLE", {"layer": pya.LayerInfo(2, 0), "radius": 5.0})])
write(folder + "/b.gds", "TOPB", [hello, ("Basic", "ELLIPSE", {"layer": pya.LayerInfo(3, 0), "radius_x": 5.0,
                                                               "radius_y": 2.0})])
write(folder + "/c.gds", "TOPC", [("Basic", "TEXT", {"text": "BYE", "layer": pya.LayerInfo(1, 0)})])
write(folder + "/plain.gds", "PLAIN", [], context=False)
write(folder + "/big.gds", "BIG", [], multi_xy=True)
"""

READ = r"""
import json, pya
for path in open(listing).read().split():
    ly = pya.Layout()
    try:
        ly.read(path)
    except Exception as e:
        print(json.dumps({"path": path, "refused": str(e)}))
        continue
    cells = {}
    for cell in ly.each_cell():
        points = [s.polygon.num_points() for s in cell.each_shape(ly.layer(7, 0)) if s.is_polygon()]
        points += [s.path.num_points() for s in cell.each_shape(ly.layer(8, 0)) if s.is_path()]
        cells[cell.name] = {"pcell": cell.is_pcell_variant(), "top": cell.is_top(), "points": points,
                            "text": cell.pcell_parameters_by_name().get("text") if cell.is_pcell_variant() else None}
    print(json.dumps({"path": path, "cells": cells}))
"""

failures = []


def check(what, condition, detail=""):
    if not condition:
        failures.append(what + (": " + detail if detail else ""))


def klayout(script, **defines):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    arguments = ["klayout", "-b", "-r", script]
    for name, value in defines.items():
        arguments += ["-rd", "%s=%s" % (name, value)]
    return subprocess.run(arguments, capture_output=True, text=True, env=env, check=True).stdout


def records(data):
    at, out = 0, []
    while at < len(data):
        length = struct.unpack(">H", data[at:at + 2])[0]
        out.append(data[at:at + length])
        at += length
        if length < 4:
            break
    return out


def record(kind, data_type, payload=b""):
    if len(payload) % 2:
        payload += b"\0"
    return struct.pack(">HBB", 4 + len(payload), kind, data_type) + payload


def library(structures):
    return (record(0x00, 0x02, struct.pack(">h", 600)) + record(0x01, 0x02, bytes(24)) + record(0x02, 0x06, b"LIB")
            + record(0x03, 0x05, bytes.fromhex("3E4189374BC6A7EF3944B82FA09B5A50")) + structures + record(0x04, 0x00))


def structure(name, referenced):
    sref = record(0x0A, 0x00) + record(0x12, 0x06, referenced) + record(0x10, 0x03, bytes(8)) + record(0x11, 0x00)
    box = (record(0x08, 0x00) + record(0x0D, 0x02, b"\0\1") + record(0x0E, 0x02, b"\0\0")
           + record(0x10, 0x03, struct.pack(">10i", 0, 0, 9, 0, 9, 9, 0, 9, 0, 0)) + record(0x11, 0x00))
    return record(0x05, 0x02, bytes(24)) + record(0x06, 0x06, name) + box + sref + record(0x07, 0x00)


def main():
    merge, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    maker = os.path.join(folder, "make.py")
    with open(maker, "w") as f:
        f.write("folder = %r\n" % folder + MAKE)
    klayout(maker)

    def path(name):
        return os.path.join(folder, name)

    # Hand-made parts: a context string cut short; head records of other writers; a cycle across two parts.
    recs = records(open(path("a.gds"), "rb").read())
    cut = [record(0x2C, 0x06, b"P(text)='HEL") if r[2] == 0x2C and r[4:].startswith(b"P(text)=") else r for r in recs]
    open(path("cut.gds"), "wb").write(b"".join(cut))
    plain = records(open(path("plain.gds"), "rb").read())
    named = plain[:2] + [record(0x39, 0x02, b"\0\7"), record(0x3A, 0x06, b"rules.srf")] + plain[2:]
    open(path("named.gds"), "wb").write(b"".join(named))
    open(path("named2.gds"), "wb").write(b"".join(named[:4] + [named[4].replace(b"LIB", b"LIX")] + named[5:]))
    open(path("ab.gds"), "wb").write(library(structure(b"A", b"B")))
    open(path("ba.gds"), "wb").write(library(structure(b"B", b"A")))

    def run(out, *parts):
        done = subprocess.run([merge, path(out)] + [path(p) for p in parts], capture_output=True, text=True)
        return done.returncode, done.stderr

    merges = {
        "pcells.gds": ("plain.gds", "a.gds", "b.gds"),
        "big-out.gds": ("plain.gds", "big.gds"),
        "named-out.gds": ("named.gds", "named2.gds"),
    }
    for out, parts in merges.items():
        status, message = run(out, *parts)
        check("%s from %s exits 0" % (out, " ".join(parts)), status == 0, message)
    status, message = run("disagree.gds", "a.gds", "c.gds")
    check("contexts that disagree on TEXT: status 16", status == 16, message)
    check("... naming the cell", 'describe the cell "TEXT" otherwise' in message, message)
    status, message = run("cut-out.gds", "plain.gds", "cut.gds")
    check("a cut context string: status 14", status == 14 and "P(text)='HEL\" of \"TEXT\" is cut" in message, message)
    status, message = run("cycle.gds", "ab.gds", "ba.gds")
    check("a cycle across parts: status 21", status == 21 and "A -> B -> A" in message, message)
    check("nothing written for a refusal",
          not any(os.path.exists(path(n)) for n in ("disagree.gds", "cut-out.gds", "cycle.gds")))
    head = records(open(path("named-out.gds"), "rb").read())[:5]
    check("LIBDIRSIZE and SRFNAME kept before LIBNAME", [r[2] for r in head] == [0x00, 0x01, 0x39, 0x3A, 0x02],
          str([r[2] for r in head]))

    listing = path("list.txt")
    read = ["pcells.gds", "big-out.gds", "named-out.gds", "named.gds", "ab.gds", "ba.gds", "cut.gds", "big.gds"]
    with open(listing, "w") as f:
        f.write("\n".join(path(n) for n in read) + "\n")
    reader = path("read.py")
    with open(reader, "w") as f:
        f.write(READ)
    seen = [json.loads(line) for line in klayout(reader, listing=listing).splitlines() if line.startswith("{")]
    result = {os.path.basename(entry["path"]): entry for entry in seen}
    for name in ("pcells.gds", "big-out.gds", "big.gds", "named-out.gds", "named.gds", "ab.gds", "ba.gds"):
        check("KLayout reads " + name, "cells" in result.get(name, {}), str(result.get(name)))
    cells = result.get("pcells.gds", {}).get("cells", {})
    for name in ("TEXT", "CIRCLE", "ELLIPSE"):
        check("%s is a PCell in the merged library" % name, cells.get(name, {}).get("pcell"), str(cells.get(name)))
    check("TEXT keeps its parameters", cells.get("TEXT", {}).get("text") == "HELLO", str(cells.get("TEXT")))
    check("no context cell among the merged cells", "$$$CONTEXT_INFO$$$" not in cells, str(sorted(cells)))
    check("the part with the cut string is one KLayout misreads",
          result.get("cut.gds", {}).get("cells", {}).get("TEXT", {}).get("text") != "HELLO")
    merged_points = result.get("big-out.gds", {}).get("cells", {}).get("BIG", {}).get("points")
    source_points = result.get("big.gds", {}).get("cells", {}).get("BIG", {}).get("points")
    check("the multi-XY polygon and path keep their points", merged_points == source_points and
          source_points is not None and min(source_points) > 8191, "%s, %s" % (merged_points, source_points))

    for failure in failures:
        print("FAIL " + failure)
    print("%d checks failed" % len(failures) if failures else "KLayout parts: contexts joined, refusals, multi-XY, "
          "LIBDIRSIZE/SRFNAME and cycles as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
