# SPDX-License-Identifier: MIT
# N boxes as gdspy Rectangles in one cell, then GdsLibrary.write_gds.
# Run as: python3 gdspy_boxes.py COUNT FILE
# Prints the time of building the cell and of write_gds alone.
import sys
import time
import gdspy
count = int(sys.argv[1])
out = sys.argv[2]
t0 = time.perf_counter()
lib = gdspy.GdsLibrary(unit=1e-6, precision=1e-9)
cell = gdspy.Cell("TOP", exclude_from_current=True)
lib.add(cell)
for i in range(count):
    x = (i % 1000) * 200
    y = (i // 1000) * 200
    cell.add(gdspy.Rectangle((x * 1e-3, y * 1e-3), ((x + 100) * 1e-3, (y + 100) * 1e-3), layer=1, datatype=0))
t1 = time.perf_counter()
lib.write_gds(out)
t2 = time.perf_counter()
print("build_seconds=%.6f write_seconds=%.6f" % (t1 - t0, t2 - t1))
