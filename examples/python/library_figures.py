#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes a small library, then reads back what it holds with carvelle.info.

    python3 examples/python/library_figures.py [chip.gds]
"""

import sys

import carvelle

path = sys.argv[1] if len(sys.argv) > 1 else "chip.gds"
with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
    with lib.structure("CELL") as cell:
        for i in range(3):
            cell.rectangle(i * 1000, 0, i * 1000 + 500, 500, layer=1)
        cell.path([(-300, 0), (3000, 0)], width=100, layer=3)
    with lib.structure("TOP") as top:
        top.sref(cell, 0, 0)
        top.aref(cell, (0, 1000), columns=3, rows=2, spacing=(4000, 1000))

info = carvelle.info(path)
cell_info = info.structures["CELL"]
print(cell_info.elements)              # elements by kind: {'BOUNDARY': 3, 'PATH': 1}
print(cell_info.layers[(1, 0)])        # by layer and datatype: {'BOUNDARY': 3}
print(cell_info.bbox)                  # its own points: (-300, 0, 3000, 500)
print(info.structures["TOP"].references["CELL"])  # 1 SREF, 1 AREF, 7 placements
print(info.top, info.undefined, info.cycles)     # ['TOP'] {} []
