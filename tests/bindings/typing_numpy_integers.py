# SPDX-License-Identifier: MIT
"""Checked by mypy --strict beside the package, never run: numpy integers
go wherever an int goes, also mixed with ints in one point list."""
import numpy as np
import carvelle

with carvelle.Library("t.gds") as lib, lib.structure("T") as top:
    cols, rows = np.int64(3), np.int32(2)
    top.aref("A", (0, 0), (30, 0), (0, 20), cols, rows)
    top.aref("A", (np.int64(0), 0), [30, np.int64(0)], (0, 20), 3, 2, strans=np.int16(0))
    top.boundary([(0, 0), (np.int64(10), 0), (0, np.int32(10))], layer=np.int16(1))
    top.path([[0, 0], [np.int64(5), 5]], width=np.int64(2))
    top.user.boundary([(0.5, 0), (np.float64(1.5), 0), (0, np.int64(1))])
    top.user.aref("A", (0.5, np.int64(0)), (3, 0), (0, 2), np.int64(3), 2)
    top.box(np.int64(0), 0, 1, 1, layer=np.uint16(3))
