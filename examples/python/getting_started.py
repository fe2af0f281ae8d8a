#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A first library from Python: one structure with boxes, a triangle and a label.

    python3 examples/python/getting_started.py [chip.gds]
"""

import sys

import numpy as np

import carvelle

path = sys.argv[1] if len(sys.argv) > 1 else "chip.gds"
with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:   # as gdspy: micrometres, 1 nm grid
    with lib.structure("TOP") as top:
        top.box(0, 0, 1000, 500, layer=1)                  # integers in database units, exact
        top.user.box(0, 1.0, 1.0, 1.5, layer=1)            # numbers in user units, rounded to the grid
        top.boundary([(0, 0), (100, 0), (50, 80)], layer=2)
        top.text(0, -100, "TOP", layer=10)
        top.boxes(np.array([[0, 600, 100, 900], [200, 600, 300, 900]], dtype=np.int32), layer=[1, 2])
print("wrote", path)
