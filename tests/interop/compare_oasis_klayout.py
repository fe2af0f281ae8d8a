# SPDX-License-Identifier: MIT
"""KLayout reads a .oas written by the library, with strict mode expected,
and finds the same layout as in the .gds written by the same calls: the same
cells; in each, on each layer, as many shapes and an empty XOR; the same
texts at the same places; the same placements, arrays taken copy by copy;
the same properties on the same shapes and placements (GDSII's attribute
numbers with their strings, read from S_GDS_PROPERTY in OASIS).
The validation signature is checked here too (KLayout does not), and each
cell's S_CELL_OFFSET: it must lead to the cell's CELL record, or to a
CBLOCK whose counts are right and whose bytes inflate to records that begin
with it. Run headless:

    QT_QPA_PLATFORM=offscreen klayout -b -r compare_oasis_klayout.py -rd gds=X.gds -rd oas=X.oas
"""
import struct
import sys
import zlib

import pya

plain = pya.Layout()
plain.read(gds)  # noqa: F821 - set by klayout -rd
options = pya.LoadLayoutOptions()
options.oasis_expect_strict_mode = 1
packed = pya.Layout()
packed.read(oas, options)  # noqa: F821

problems = []


def texts(cell, layer):
    return sorted((s.text.string, s.text.x, s.text.y) for s in cell.shapes(layer).each() if s.is_text())


def placements(layout, cell):
    found = []
    for inst in cell.each_inst():
        name = layout.cell(inst.cell_index).name
        array = inst.cell_inst
        for a in range(max(array.na, 1)):
            for b in range(max(array.nb, 1)):
                t = array.cplx_trans
                shift = array.a * a + array.b * b if array.is_regular_array() else pya.Vector()
                found.append((name, str(pya.DCplxTrans(t.disp.x + shift.x, t.disp.y + shift.y) * pya.DCplxTrans(
                    t.mag, t.angle, t.is_mirror(), 0, 0))))
    return sorted(found)


def properties(layout, cell, layer=None):
    if layer is None:
        items = [(layout.cell(i.cell_index).name + " " + str(i.cplx_trans), i) for i in cell.each_inst()]
    else:
        items = [(str(s.bbox()), s) for s in cell.shapes(layer).each()]
    found = []
    for where, item in items:
        props = dict(layout.properties(item.prop_id)) if item.prop_id else {}
        if props:
            found.append((where, sorted((str(k), str(v)) for k, v in props.items())))
            for key, value in props.items():
                if item.property(key) != value or not isinstance(key, int):
                    problems.append("%s: property %r not read back by number" % (cell.name, key))
    return sorted(found)


carried = 0
shapes = 0
names = sorted(c.name for c in plain.each_cell())
if names != sorted(c.name for c in packed.each_cell()):
    problems.append("cells %s" % names)
for cell in plain.each_cell():
    other = packed.cell(cell.name)
    if other is None:
        continue
    for layer in plain.layer_indexes():
        info = plain.get_info(layer)
        twin = packed.find_layer(info)
        count = cell.shapes(layer).size()
        shapes += count
        if twin is None:
            if count:
                problems.append("%s %s: no such layer" % (cell.name, info))
            continue
        if count != other.shapes(twin).size():
            problems.append("%s %s: %d shapes, %d in OASIS" % (cell.name, info, count, other.shapes(twin).size()))
        if not (pya.Region(cell.shapes(layer)) ^ pya.Region(other.shapes(twin))).is_empty():
            problems.append("%s %s: XOR not empty" % (cell.name, info))
        if texts(cell, layer) != texts(other, twin):
            problems.append("%s %s: texts differ" % (cell.name, info))
        found = properties(plain, cell, layer)
        carried += len(found)
        if found != properties(packed, other, twin):
            problems.append("%s %s: properties differ" % (cell.name, info))
    if placements(plain, cell) != placements(packed, other):
        problems.append("%s: placements differ" % cell.name)
    found = properties(plain, cell)
    carried += len(found)
    if found != properties(packed, other):
        problems.append("%s: placement properties differ" % cell.name)
if carried < 6:  # polygon, box, path, text, placement, repeated placement
    problems.append("only %d elements with properties" % carried)

# The signature: CRC-32 of everything before its four bytes, least
# significant byte first, after validation scheme 1.
with open(oas, "rb") as f:  # noqa: F821
    data = f.read()
if not (data[-5] == 1 and struct.unpack("<I", data[-4:])[0] == zlib.crc32(data[:-4])):
    problems.append("validation signature wrong")


def uint(at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


# END: six pairs of strict flag and offset; the first is the CELLNAME table.
_, at = uint(len(data) - 255)
at, _ = uint(at)
blocks = 0
while data[at] == 3:  # CELLNAME, then its S_CELL_OFFSET property
    length, at = uint(at + 1)
    name = data[at:at + length].decode()
    at += length
    if data[at] != 28:
        continue
    _, at = uint(at + 3)  # info-byte 0x17, name 0, value type 8
    offset, at = uint(at)
    if data[offset] == 34:  # CBLOCK: type 0, byte counts before and after
        kind, start = uint(offset + 1)
        before, start = uint(start)
        after, start = uint(start)
        body = zlib.decompressobj(-15)
        records = body.decompress(data[start:start + after])
        if kind != 0 or len(records) != before or not body.eof or records[:1] != b"\x0d":
            problems.append("cell %s: CBLOCK at %d wrong" % (name, offset))
        blocks += 1
    elif data[offset] != 13:
        problems.append("cell %s: S_CELL_OFFSET %d leads to no CELL" % (name, offset))
if blocks == 0:
    problems.append("no cell in a CBLOCK")

verdict = "the same layout" if not problems else "; ".join(problems)
summary = (oas, packed.cells(), shapes, carried, verdict)  # noqa: F821
print("%s: %d cells, %d shapes, %d with properties, %s" % summary)
if problems or shapes == 0:
    print("FAIL")
    sys.exit(1)
