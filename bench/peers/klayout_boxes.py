# SPDX-License-Identifier: MIT
# N boxes through KLayout's layout database, then Layout.write as GDS2.
# Run as: klayout -b -r klayout_boxes.py -rd n=COUNT -rd out=FILE
# Prints the time of building the layout and of Layout.write alone.
import time
import pya
count = int(n)  # noqa: F821 - n and out are set by klayout -rd
t0 = time.perf_counter()
layout = pya.Layout()
layout.dbu = 0.001
top = layout.create_cell("TOP")
shapes = top.shapes(layout.layer(1, 0))
for i in range(count):
    x = (i % 1000) * 200
    y = (i // 1000) * 200
    shapes.insert(pya.Box(x, y, x + 100, y + 100))
t1 = time.perf_counter()
options = pya.SaveLayoutOptions()
options.format = "GDS2"
layout.write(out, options)  # noqa: F821
t2 = time.perf_counter()
print("build_seconds=%.6f write_seconds=%.6f" % (t1 - t0, t2 - t1))
