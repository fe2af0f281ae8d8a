# SPDX-License-Identifier: MIT
"""A gdstk script ported to carvelle with the changes that the page "Coming
from gdstk or gdspy" lists: each changed line follows the gdstk line it
replaces, shown as a comment. A hierarchy in micrometres: a via, a pad
holding an array of vias, a top cell placing the pad four times, rotated
and mirrored, with rectangles, a path, a polygon and a label.

Usage: python3 ported_from_gdstk.py [OUT.gds]
"""

import math
import sys

# import gdstk
import carvelle

out = sys.argv[1] if len(sys.argv) > 1 else "ported.gds"
metal = {"layer": 1, "datatype": 0}

# lib = gdstk.Library(unit=1e-6, precision=1e-9)
with carvelle.Library(out, unit=1e-6, precision=1e-9) as lib:
    # via = lib.new_cell("VIA")
    with lib.structure("VIA") as via:
        # via.add(gdstk.rectangle((-0.5, -0.5), (0.5, 0.5), layer=3, datatype=0))
        via.user.rectangle(-0.5, -0.5, 0.5, 0.5, layer=3, datatype=0)

    # pad = lib.new_cell("PAD")
    with lib.structure("PAD") as pad:
        # pad.add(gdstk.rectangle((0, 0), (80, 80), **metal))
        pad.user.rectangle(0, 0, 80, 80, **metal)
        # pad.add(gdstk.Reference(via, (10, 10), columns=4, rows=4, spacing=(20, 20)))
        pad.user.aref(via, (10, 10), columns=4, rows=4, spacing=(20, 20))

    # top = lib.new_cell("TOP")
    with lib.structure("TOP") as top:
        # top.add(gdstk.rectangle((0, 0), (1000, 500), layer=10, datatype=1))
        top.user.rectangle(0, 0, 1000, 500, layer=10, datatype=1)
        # top.add(gdstk.Reference(pad, (100, 100)))
        top.user.sref(pad, 100, 100)
        # top.add(gdstk.Reference(pad, (300, 100), rotation=math.pi / 2))
        top.user.sref(pad, 300, 100, angle=math.degrees(math.pi / 2))
        # top.add(gdstk.Reference(pad, (500, 100), x_reflection=True))
        top.user.sref(pad, 500, 100, x_reflection=True)
        # top.add(gdstk.Reference(pad, (700, 100), rotation=math.pi, x_reflection=True))
        top.user.sref(pad, 700, 100, angle=math.degrees(math.pi), x_reflection=True)
        # top.add(gdstk.FlexPath([(0, 250), (500, 250), (500, 450)], 2.5, simple_path=True, **metal))
        top.user.path([(0, 250), (500, 250), (500, 450)], width=2.5, **metal)
        # top.add(gdstk.Polygon([(800, 300), (900, 300), (850, 400)], layer=4))
        top.user.boundary([(800, 300), (900, 300), (850, 400)], layer=4)
        # top.add(gdstk.Label("TOP", (10, 480), layer=63))
        top.user.text(10, 480, "TOP", layer=63)

# lib.write_gds(out)
