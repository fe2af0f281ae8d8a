# SPDX-License-Identifier: MIT
# Run inside KLayout: klayout -b -r klayout_check.py -rd gds=FILE
# Reads the chip of examples/python/write_chip.py and checks what it holds.
import sys

import pya

layout = pya.Layout()
layout.read(gds)  # noqa: F821 (set by -rd)
problems = []


def expect(what, got, wanted):
    if got != wanted:
        problems.append("%s: got %r, expected %r" % (what, got, wanted))


expect("cells", sorted(c.name for c in layout.each_cell()), ["PAD", "TOP", "VIA1"])
expect("dbu", round(layout.dbu, 9), 0.001)
top = layout.cell("TOP")
expect("top cells", [c.name for c in layout.top_cells()], ["TOP"])
instances = list(top.each_inst())
arrays = [i for i in instances if i.is_regular_array()]
# KLayout may hold the two array vectors in either order.
expect("arrays", [sorted([(str(i.a), i.na), (str(i.b), i.nb)]) for i in arrays],
       [[("0,2000", 4), ("2000,0", 10)]])
expect("instances", len(instances), 4)
expect("outline", top.bbox().width(), 100000)
pad = layout.cell("PAD")
via_layer = layout.find_layer(3, 0)
expect("circle points", [s.polygon.num_points() for s in pad.shapes(via_layer).each()], [64])
texts = sorted(s.text_string for s in top.shapes(layout.find_layer(63, 0)).each() if s.is_text())
expect("texts", texts, ["PAD0", "PAD1"])
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("KLayout read %s: %d cells, top bbox %s" % (gds, layout.cells(), top.bbox()))  # noqa: F821
