#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Reads every layout of a folder with gdspy and compares it with its
manifest. Usage: $PYTHON read_gdspy.py LAYOUT_DIR

gdspy gives coordinates in user units (the file's integer times the first
UNITS value, one double multiplication); they are turned back into integers
only when that multiplication gives back exactly what gdspy holds.
gdspy does not read BOX or NODE elements, the font bits, PATHTYPE and WIDTH
of a TEXT, or the absolute bits of STRANS: those are reported as SKIP lines.
"""
import math
import os
import sys
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

try:
    import gdspy
except ImportError as error:
    print("FAIL [gdspy] gdspy cannot be imported (%s); install python3-gdspy" % error)
    sys.exit(1)

ENDS = {0: "flush", 1: "round", 2: "extended"}
TEXT_NOTES = ["gdspy does not read the font bits of PRESENTATION, nor PATHTYPE and WIDTH of a TEXT"]
ABS_NOTE = "gdspy ignores the absolute magnification and angle bits of STRANS"


def reader_for(unit):
    def dbu(v):
        v = float(v)
        n = round(v / unit)
        return n if float(n) * unit == v else v

    def point(p):
        return (dbu(p[0]), dbu(p[1]))

    return dbu, point


def read_layout(manifest, path):
    user = manifest["user_unit"]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # gdspy warns about every record it skips
        lib = gdspy.GdsLibrary(infile=path, units="import")
    units = [("metres per database unit (precision)", manifest["meter_unit"], lib.precision),
             ("metres per user unit (unit)", manifest["meter_unit"] / user, lib.unit)]
    dbu, point = reader_for(user)
    structures = {}
    for name, cell in lib.cell_dict.items():
        seen = []
        for i, poly in enumerate(cell.polygons):
            for k, pts in enumerate(poly.polygons):
                seen.append((("polygon", poly.layers[k], poly.datatypes[k]),
                             ic.fields(("ring", ic.ring_key([point(p) for p in pts]))),
                             "polygon %d" % (i + 1)))
        for i, fp in enumerate(cell.paths):
            pts = tuple(point(p) for p in fp.points)
            widths = {dbu(w) for w in fp.widths[:, 0]}
            width = widths.pop() if len(widths) == 1 else tuple(sorted(widths))
            seen.append((("path", fp.layers[0], fp.datatypes[0]),
                         ic.fields(("points", pts), ("width", width), ("ends", fp.ends[0])),
                         "path %d" % (i + 1)))
        for i, lb in enumerate(cell.labels):
            seen.append((("text", lb.layer, lb.texttype),
                         ic.fields(("string", lb.text), ("position", point(lb.position)),
                                   ("anchor", int(lb.anchor)), ("angle", float(lb.rotation)),
                                   ("mag", float(lb.magnification)),
                                   ("reflection", bool(lb.x_reflection))),
                         "text %d %r" % (i + 1, (lb.text or "")[:16])))
        for i, ref in enumerate(cell.references):
            ref_name = ref.ref_cell if isinstance(ref.ref_cell, str) else ref.ref_cell.name
            angle = float(ref.rotation or 0.0)
            reflected = bool(ref.x_reflection)
            mag = float(1.0 if ref.magnification is None else ref.magnification)
            cols = rows = col_pitch = row_pitch = None
            if isinstance(ref, gdspy.CellArray):
                cols, rows = int(ref.columns), int(ref.rows)
                # gdspy keeps the pitches along the instance's own axes; turn
                # them back into the file's vectors (rotation after reflection).
                sx, sy = ref.spacing
                sy = -sy if reflected else sy
                c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
                col_pitch = (round(sx * c / user),
                             round(sx * s / user))
                row_pitch = (round(-sy * s / user), round(sy * c / user))
            seen.append((("ref", ref_name),
                         ic.fields(("position", point(ref.origin)), ("mag", mag),
                                   ("angle", angle), ("reflection", reflected),
                                   ("cols", cols), ("rows", rows),
                                   ("col_pitch", col_pitch), ("row_pitch", row_pitch)),
                         "%s %d of %s" % ("aref" if cols is not None else "sref", i + 1,
                                          ref_name)))
        structures[name] = seen
    return units, structures


def view(el):
    if el.kind == "polygon":
        return (("polygon", el["layer"], el["datatype"]),
                ic.fields(("ring", ic.ring_key(el["points"]))), [])
    if el.kind == "box":
        return None, "gdspy does not read BOX elements", []
    if el.kind == "node":
        return None, "gdspy does not read NODE elements", []
    if el.kind == "path":
        return (("path", el["layer"], el["datatype"]),
                ic.fields(("points", tuple(el["points"])), ("width", el["width"]),
                          ("ends", ENDS[el["pathtype"]])), [])
    if el.kind == "text":
        notes = list(TEXT_NOTES)
        if el["strans"] & 0x0006:
            notes.append(ABS_NOTE)
        return (("text", el["layer"], el["texttype"]),
                ic.fields(("string", el["string"]), ("position", tuple(el["position"])),
                          ("anchor", el["presentation"] & 0x000F), ("angle", el["angle"]),
                          ("mag", el["mag"]), ("reflection", bool(el["strans"] & 0x8000))),
                notes)
    if el.kind == "ref":
        notes = [ABS_NOTE] if el["strans"] & 0x0006 else []
        return (("ref", el["name"]),
                ic.fields(("position", tuple(el["position"])), ("mag", el["mag"]),
                          ("angle", el["angle"]), ("reflection", bool(el["strans"] & 0x8000)),
                          ("cols", el["cols"]), ("rows", el["rows"]),
                          ("col_pitch", el.get("col_pitch")), ("row_pitch", el.get("row_pitch"))),
                notes)
    raise ValueError(el.kind)


if __name__ == "__main__":
    directory = ic.main_args(sys.argv[1:])
    sys.exit(ic.run("gdspy", directory, read_layout, lambda manifest: view))
