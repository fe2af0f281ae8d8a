# SPDX-License-Identifier: MIT
"""Reads every layout of a folder with KLayout and compares it with its
manifest. Run headless:

    QT_QPA_PLATFORM=offscreen klayout -b -r read_klayout.py -rd layouts=LAYOUT_DIR

KLayout keeps integer coordinates. It stores a polygon from any starting
vertex and in its own orientation (compared as a ring), reads a BOX element
and a rectangular BOUNDARY alike (both compared as polygons), keeps a path's
ends as extensions and a round flag, a text's magnification as a size in
database units and its angle in quarter turns, and does not read NODE
elements, the font bits, PATHTYPE and WIDTH of a TEXT, or the absolute bits
of STRANS: those are reported as SKIP lines.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

import pya  # noqa: E402

TEXT_NOTES = ["KLayout does not read the font bits of PRESENTATION, nor PATHTYPE and WIDTH "
              "of a TEXT"]
ABS_NOTE = "KLayout ignores the absolute magnification and angle bits of STRANS"
BOX_NOTE = "KLayout reads a BOX like a rectangular BOUNDARY: compared as a polygon"


def angle_key(degrees):
    """KLayout keeps an instance's rotation as a cosine and sine and gives
    the angle back through atan2: compare to 1e-9 degree."""
    return round(math.fmod(degrees + 3600.0, 360.0), 9) % 360.0


def ends_key(pathtype, width):
    half = width // 2
    return {0: (0, 0, False), 1: (half, half, True), 2: (half, half, False)}[pathtype]


def read_layout(manifest, path):
    layout = pya.Layout()
    layout.read(path)
    meta = {mi.name: mi.value for mi in layout.each_meta_info()}
    # KLayout hands the two UNITS values on as decimal text of 12 significant
    # digits: compared at that precision (the gdspy reader compares them
    # exactly).
    units = [("user units per database unit (dbuu, 12 digits)",
              float("%.12g" % manifest["user_unit"]), float(meta.get("dbuu", "nan"))),
             ("metres per database unit (dbum, 12 digits)",
              float("%.12g" % manifest["meter_unit"]), float(meta.get("dbum", "nan")))]
    structures = {}
    for cell in layout.each_cell():
        seen = []
        counts = {}

        def name(kind):
            counts[kind] = counts.get(kind, 0) + 1
            return "%s %d" % (kind, counts[kind])

        for li in layout.layer_indexes():
            info = layout.get_info(li)
            for shape in cell.shapes(li).each():
                if shape.is_box() or shape.is_polygon() or shape.is_simple_polygon():
                    poly = shape.polygon
                    if poly.holes():
                        raise ValueError("polygon with holes in %s" % cell.name)
                    pts = [(p.x, p.y) for p in poly.each_point_hull()]
                    seen.append((("polygon", info.layer, info.datatype),
                                 ic.fields(("ring", ic.ring_key(pts))),
                                 name("box" if shape.is_box() else "polygon")))
                elif shape.is_path():
                    p = shape.path
                    seen.append((("path", info.layer, info.datatype),
                                 ic.fields(("points", tuple((q.x, q.y) for q in p.each_point())),
                                           ("width", p.width),
                                           ("ends", (p.bgn_ext, p.end_ext, p.round))),
                                 name("path")))
                elif shape.is_text():
                    t = shape.text
                    seen.append((("text", info.layer, info.datatype),
                                 ic.fields(("string", t.string),
                                           ("position", (t.trans.disp.x, t.trans.disp.y)),
                                           ("halign", t.halign.to_i()), ("valign", t.valign.to_i()),
                                           ("size", t.size),
                                           ("rotation", t.trans.angle * 90),
                                           ("reflection", t.trans.is_mirror())),
                                 name("text") + " %r" % t.string[:16]))
                else:
                    seen.append((("other", info.layer, info.datatype),
                                 ic.fields(("shape", str(shape))), name("shape")))
        for inst in cell.each_inst():
            arr = inst.cell_inst
            tr = arr.cplx_trans
            cols = rows = col_pitch = row_pitch = None
            if arr.is_regular_array():
                # KLayout's reader gives the row vector as a (na rows) and the
                # column vector as b (nb columns); a file that KLayout writes
                # from a = column vector reads back the same way.
                cols, rows = arr.nb, arr.na
                col_pitch = (arr.b.x, arr.b.y)
                row_pitch = (arr.a.x, arr.a.y)
            seen.append((("ref", inst.cell.name),
                         ic.fields(("position", (int(round(tr.disp.x)), int(round(tr.disp.y)))),
                                   ("mag", round(tr.mag, 12)), ("angle", angle_key(tr.angle)),
                                   ("reflection", tr.is_mirror()),
                                   ("cols", cols), ("rows", rows),
                                   ("col_pitch", col_pitch), ("row_pitch", row_pitch)),
                         name("aref" if cols is not None else "sref") + " of " + inst.cell.name))
        structures[cell.name] = seen
    return units, structures


def view_for(manifest):
    user = manifest["user_unit"]

    def view(el):
        if el.kind in ("polygon", "box"):
            return (("polygon", el["layer"], el["datatype"]),
                    ic.fields(("ring", ic.ring_key(el["points"]))),
                    [BOX_NOTE] if el.kind == "box" else [])
        if el.kind == "node":
            return None, "KLayout does not read NODE elements", []
        if el.kind == "path":
            return (("path", el["layer"], el["datatype"]),
                    ic.fields(("points", tuple(el["points"])), ("width", el["width"]),
                              ("ends", ends_key(el["pathtype"], el["width"]))), [])
        if el.kind == "text":
            notes = list(TEXT_NOTES)
            if el["strans"] & 0x0006:
                notes.append(ABS_NOTE)
            angle = el["angle"]
            if angle % 90.0:
                return None, "KLayout keeps text angles in quarter turns only", []
            return (("text", el["layer"], el["texttype"]),
                    ic.fields(("string", el["string"]), ("position", tuple(el["position"])),
                              ("halign", el["presentation"] & 3),
                              ("valign", (el["presentation"] >> 2) & 3),
                              ("size", int(round(el["mag"] / user))),
                              ("rotation", int(angle % 360.0)),
                              ("reflection", bool(el["strans"] & 0x8000))),
                    notes)
        if el.kind == "ref":
            notes = [ABS_NOTE] if el["strans"] & 0x0006 else []
            return (("ref", el["name"]),
                    ic.fields(("position", tuple(el["position"])), ("mag", round(el["mag"], 12)),
                              ("angle", angle_key(el["angle"])),
                              ("reflection", bool(el["strans"] & 0x8000)),
                              ("cols", el["cols"]), ("rows", el["rows"]),
                              ("col_pitch", el.get("col_pitch")),
                              ("row_pitch", el.get("row_pitch"))),
                    notes)
        raise ValueError(el.kind)

    return view


try:
    layouts  # noqa: F821 (given with -rd layouts=DIR)
except NameError:
    print("usage: klayout -b -r read_klayout.py -rd layouts=LAYOUT_DIR")
    sys.exit(2)
sys.exit(ic.run("KLayout", layouts, read_layout, view_for))  # noqa: F821
