#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A first library from Python: one structure with boxes, a triangle and a label.

    python3 examples/python/getting_started.py [chip.gds]
"""

import sys

import numpy as np

import carvelle

path = sys.argv[1] if len(sys.argv) > 1 else "chip.gds"
# as gdspy: a user unit of 1 um on a grid of 1 nm
with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
    with lib.structure("TOP") as top:
        top.box(0, 0, 2000, 500, layer=1)           # database units (nm), exact
        top.user.box(0, 0.75, 2.0, 1.25, layer=1)   # user units (um), rounded to the grid
        top.boundary([(2500, 0), (3500, 0), (3000, 1250)], layer=2)
        top.text(0, -300, "TOP", layer=10)
        corners = np.array([[4000, 0, 4500, 1250], [5000, 0, 5500, 1250]], dtype=np.int32)
        top.boxes(corners, layer=[1, 2])            # one call for a whole array
print("wrote", path)
