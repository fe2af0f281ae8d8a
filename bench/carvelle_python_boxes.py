# SPDX-License-Identifier: MIT
# The same N boxes as carvelle_write, through the carvelle Python package.
# Run as: python3 carvelle_python_boxes.py COUNT FILE, with PYTHONPATH holding
# the package and CARVELLE_LIBRARY naming the library.
import sys
import time

import carvelle

count = int(sys.argv[1])
out = sys.argv[2]
start = time.perf_counter()
with carvelle.Library(out, user_unit=1e-3, meter_unit=1e-9) as lib:
    with lib.structure("TOP") as top:
        box = top.box
        for i in range(count):
            x = (i % 1000) * 200
            y = (i // 1000) * 200
            box(x, y, x + 100, y + 100, layer=1)
print("write_seconds=%.6f" % (time.perf_counter() - start))
