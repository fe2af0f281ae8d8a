# SPDX-License-Identifier: MIT
"""KLayout reads a .oas written by the library, with strict mode expected,
and finds the same layout as in the .gds written by the same calls: the same
cells; in each, on each layer, as many shapes and an empty XOR; the same
texts at the same places; the same placements, arrays taken copy by copy.
The validation signature is checked here too (KLayout does not). Run
headless:

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
    if placements(plain, cell) != placements(packed, other):
        problems.append("%s: placements differ" % cell.name)

# The signature: CRC-32 of everything before its four bytes, least
# significant byte first, after validation scheme 1.
with open(oas, "rb") as f:  # noqa: F821
    data = f.read()
if not (data[-5] == 1 and struct.unpack("<I", data[-4:])[0] == zlib.crc32(data[:-4])):
    problems.append("validation signature wrong")

print("%s: %d cells, %d shapes, %s" % (oas, packed.cells(), shapes,  # noqa: F821
                                       "the same layout" if not problems else "; ".join(problems)))
if problems or shapes == 0:
    print("FAIL")
    sys.exit(1)
