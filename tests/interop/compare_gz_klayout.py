# SPDX-License-Identifier: MIT
"""KLayout reads a .gds.gz written by the library and finds the same layout
as in the plain file written by the same calls. Run headless:

    QT_QPA_PLATFORM=offscreen klayout -b -r compare_gz_klayout.py -rd plain=X.gds -rd packed=X.gds.gz
"""
import sys

import pya

layouts = []
for name in (plain, packed):  # noqa: F821 - set by klayout -rd
    layout = pya.Layout()
    layout.read(name)
    layouts.append(layout)
shapes = sum(cell.shapes(layer).size() for cell in layouts[0].each_cell() for layer in layouts[0].layer_indexes())
same = pya.LayoutDiff().compare(layouts[0], layouts[1], pya.LayoutDiff.Verbose)
print("%s: %d cells, %d shapes, %s" % (packed, layouts[1].cells(), shapes,  # noqa: F821
                                       "the same layout" if same else "DIFFERENT"))
if not same or shapes == 0:
    print("FAIL")
    sys.exit(1)
