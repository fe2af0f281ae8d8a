# SPDX-License-Identifier: MIT
# KLayout's side of the OASIS tests, run inside KLayout (klayout -b -r):
#   -rd out=FOLDER   builds one layout with every kind of shape and instance,
#                    writes it as OASIS with CBLOCKs on and off and strict mode
#                    on and off (FOLDER/k-*.oas) and prints its view of it
#   -rd src=FILE     reads FILE (an .oas with strict mode expected) and prints
#                    its view of it
#   -rd src=FILE -rd convert=OUT
#                    also writes what it read to OUT as OASIS (strict, CBLOCKs)
#   -rd gds=FILE     writes the layout of `out` as GDSII to FILE (.gz
#                    compresses), its cells named K_..., for the merge to
#                    convert (its path with extensions of its own has type 4)
# The view is JSON: per cell, shapes (polygons as point lists, paths, texts)
# and instances with every array member, in database units.
import json
import math
import os

import pya


def build(out):
    layout = pya.Layout()
    layout.dbu = 0.001
    top, leaf, other = (layout.create_cell(name) for name in ("TOP", "LEAF", "OTHER_CELL"))
    L1, L2, L3 = (layout.layer(n, d) for n, d in ((1, 0), (2, 5), (63, 1)))
    leaf.shapes(L1).insert(pya.Box(0, 0, 100, 50))
    leaf.shapes(L2).insert(pya.Box(-10, -10, 10, 10))                 # a square
    for i in range(12):                                                 # a row: a repetition candidate
        leaf.shapes(L1).insert(pya.Box(1000 + 300 * i, 0, 1100 + 300 * i, 200))
    for i in range(4):                                                  # a matrix
        for j in range(3):
            leaf.shapes(L3).insert(pya.Box(5000 + 70 * i, 9000 + 130 * j, 5040 + 70 * i, 9010 + 130 * j))
    for i, dx in enumerate((0, 17, 170, 171, 2000, 2001)):              # irregular x spacing
        leaf.shapes(L2).insert(pya.Box(dx, 7000, dx + 5, 7003))
    for i, (dx, dy) in enumerate(((0, 0), (33, 7), (70, -40), (1000, 1000))):   # irregular 2D displacements
        leaf.shapes(L2).insert(pya.Polygon([pya.Point(dx, 20000 + dy), pya.Point(dx + 50, 20000 + dy),
                                            pya.Point(dx + 20, 20080 + dy)]))
    other.shapes(L1).insert(pya.Polygon([pya.Point(x, y) for x, y in
                                         ((0, 0), (500, 0), (500, 100), (300, 100), (300, 400), (0, 400))]))
    other.shapes(L1).insert(pya.Polygon([pya.Point(x, y) for x, y in ((0, 0), (100, 100), (0, 200), (-100, 100))]))
    other.shapes(L2).insert(pya.Polygon([pya.Point(x, y) for x, y in ((0, 0), (100, 0), (130, 50), (-20, 50))]))
    other.shapes(L2).insert(pya.Polygon([pya.Point(x, y) for x, y in ((0, 0), (100, 0), (100, 50), (0, 90))]))
    ring = [pya.Point(int(100000 + 40000 * (1 if k % 2 else 0.7) * math.cos(k * 0.0021)),
                      int(40000 * (1 if k % 2 else 0.7) * math.sin(k * 0.0021))) for k in range(3000)]
    other.shapes(L3).insert(pya.Polygon(ring))                          # many points, non-Manhattan
    other.shapes(L1).insert(pya.Path([pya.Point(0, 0), pya.Point(1000, 0), pya.Point(1000, 800)], 40))
    other.shapes(L1).insert(pya.Path([pya.Point(0, 0), pya.Point(0, -700)], 30, 15, 15))
    other.shapes(L2).insert(pya.Path([pya.Point(5, 5), pya.Point(705, 305), pya.Point(-95, 1305)], 20, 7, 33))
    other.shapes(L2).insert(pya.Text("hello", pya.Trans(pya.Vector(10, -20))))
    other.shapes(L2).insert(pya.Text("hello", pya.Trans(pya.Vector(-400, 3))))
    other.shapes(L3).insert(pya.Text("world", pya.Trans(pya.Vector(0, 0))))
    top.insert(pya.CellInstArray(leaf.cell_index(), pya.Trans(pya.Vector(100, 200))))
    top.insert(pya.CellInstArray(leaf.cell_index(), pya.Trans(1, True, pya.Vector(-300, 50))))
    top.insert(pya.CellInstArray(other.cell_index(), pya.ICplxTrans(2.5, 30.0, False, pya.Vector(7, 9))))
    top.insert(pya.CellInstArray(other.cell_index(), pya.ICplxTrans(0.5, 90.0, True, pya.Vector(-7, 9))))
    top.insert(pya.CellInstArray(leaf.cell_index(), pya.Trans(pya.Vector(0, 50000)),
                                 pya.Vector(30000, 0), pya.Vector(0, 40000), 4, 3))
    top.insert(pya.CellInstArray(other.cell_index(), pya.Trans(2, False, pya.Vector(0, -90000)),
                                 pya.Vector(30000, 5000), pya.Vector(-2000, 40000), 3, 2))
    top.insert(pya.CellInstArray(other.cell_index(), pya.Trans(pya.Vector(0, -990000)),
                                 pya.Vector(-30000, 0), pya.Vector(0, -40000), 2, 2))
    for i in range(5):
        top.insert(pya.CellInstArray(leaf.cell_index(), pya.Trans(pya.Vector(500000 + 3000 * i, 0))))
    for i in range(300):                                                # many cells and names
        cell = layout.create_cell("C%d_%s" % (i, "x" * (i % 7)))
        cell.shapes(L1).insert(pya.Box(0, 0, 10 + i, 10))
        cell.shapes(L2).insert(pya.Text("T%d" % (i % 50), pya.Trans(pya.Vector(i, -i))))
        top.insert(pya.CellInstArray(cell.cell_index(), pya.Trans(pya.Vector(1000 * i, 123456))))

    for cblocks in (False, True):
        for strict in (False, True):
            options = pya.SaveLayoutOptions()
            options.format = "OASIS"
            options.oasis_write_cblocks = cblocks
            options.oasis_strict_mode = strict
            options.oasis_compression_level = 2
            options.oasis_write_std_properties = 2       # S_CELL_OFFSET and the other standard ones
            layout.write(os.path.join(out, "k-%s-%s.oas" % ("cblocks" if cblocks else "plain",
                                                            "strict" if strict else "loose")), options)
    return layout


def points(polygon):
    return [[p.x, p.y] for p in polygon.each_point_hull()]


def view(layout):
    out = {}
    for cell in layout.each_cell():
        shapes = []
        for index in layout.layer_indexes():
            info = layout.get_info(index)
            for shape in cell.shapes(index).each():
                if shape.is_text():
                    t = shape.text
                    shapes.append(["text", info.layer, info.datatype, t.string, t.x, t.y])
                elif shape.is_path():
                    p = shape.path
                    shapes.append(["path", info.layer, info.datatype, p.width, p.bgn_ext, p.end_ext,
                                   [[q.x, q.y] for q in p.each_point()]])
                else:
                    shapes.append(["polygon", info.layer, info.datatype, points(shape.polygon)])
        for inst in cell.each_inst():
            a, b, t = inst.a, inst.b, inst.cplx_trans
            for i in range(max(inst.na, 1)):
                for j in range(max(inst.nb, 1)):
                    shapes.append(["placement", layout.cell(inst.cell_index).name, t.disp.x + i * a.x + j * b.x,
                                   t.disp.y + i * a.y + j * b.y, round(t.angle, 9), round(t.mag, 9), t.is_mirror()])
        out[cell.name] = shapes
    return out


if "gds" in globals():
    target = gds  # noqa: F821
    layout = build(os.path.dirname(target))
    for cell in list(layout.each_cell()):
        cell.name = "K_" + cell.name
    layout.write(target)
elif "out" in globals():
    print(json.dumps(view(build(out))))  # noqa: F821 - out, src and convert are set by klayout -rd
else:
    layout = pya.Layout()
    load = pya.LoadLayoutOptions()
    load.oasis_expect_strict_mode = 1
    layout.read(src, load)  # noqa: F821
    if "convert" in globals():
        options = pya.SaveLayoutOptions()
        options.format = "OASIS"
        options.oasis_strict_mode = True
        options.oasis_write_cblocks = True
        options.oasis_write_std_properties = 2
        layout.write(convert, options)  # noqa: F821
    print(json.dumps(view(layout)))
