# SPDX-License-Identifier: MIT
# Run inside KLayout: klayout -b -r klayout_summary.py -rd gds=FILE
# Prints what KLayout read as JSON: per cell its shapes (layer, datatype,
# kind, points or width or text) and instances (cell, transformation, array).
import json

import pya

layout = pya.Layout()
layout.read(gds)  # noqa: F821
out = {"dbu": layout.dbu, "cells": {}}
for cell in layout.each_cell():
    shapes = []
    for index in layout.layer_indexes():
        info = layout.get_info(index)
        for shape in cell.shapes(index).each():
            if shape.is_text():
                kind, detail = "text", shape.text_string
            elif shape.is_path():
                kind, detail = "path", shape.path_dwidth
            else:
                kind, detail = "box" if shape.is_box() else "polygon", len(list(shape.polygon.each_point_hull()))
            shapes.append([info.layer, info.datatype, kind, detail])
    instances = [[layout.cell(i.cell_index).name, str(i.dcplx_trans), i.na, i.nb, str(i.da), str(i.db)]
                 for i in cell.each_inst()]
    out["cells"][cell.name] = {"shapes": sorted(shapes), "instances": sorted(instances)}
out["bbox"] = str(layout.top_cell().dbbox())
out["top"] = [c.name for c in layout.top_cells()]
print(json.dumps(out, sort_keys=True))
