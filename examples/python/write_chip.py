#!/usr/bin/env python3
"""Writes a small test chip through the carvelle package.

    python3 examples/python/write_chip.py [chip.gds]

From a source checkout the package is taken from python/ and the library from
build/ when carvelle is not installed; CARVELLE_LIBRARY names another library.
"""

import os
import sys

try:
    import carvelle
except ImportError:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
    import carvelle

METAL1, METAL2, VIA, OUTLINE, LABEL = 1, 2, 3, 10, 63
PITCH = 2000  # database units of 1 nm: 2 um


def write(path):
    with carvelle.Library(path, user_unit=1e-3, meter_unit=1e-9) as lib:
        with lib.structure("VIA1") as via:
            via.square(-100, -100, 200, layer=VIA)
            via.box(-200, -200, 200, 200, layer=METAL1)
            via.box_wh(-200, -200, 400, 400, layer=METAL2)

        with lib.structure("PAD") as pad:
            pad.boundary([(-5000, -5000), (5000, -5000), (5000, 5000), (-5000, 5000)], layer=METAL2)
            pad.circle(0, 0, 3000, 64, layer=VIA)
            pad.node([(0, 0)], layer=METAL2)

        with lib.structure("TOP") as top:
            top.box(0, 0, 100000, 60000, layer=OUTLINE)
            # a 10 x 4 via field with a 2 um pitch
            top.aref("VIA1", (20000, 20000), (20000 + 10 * PITCH, 20000), (20000, 20000 + 4 * PITCH),
                     10, 4)
            for i, x in enumerate((10000, 90000)):
                top.sref("PAD", x, 10000, angle=90.0 * i)
                top.text(x, 17000, "PAD%d" % i, layer=LABEL, mag=2.0)
            # wiring from the pads to the via field
            top.path([(10000, 10000), (10000, 20000), (20000, 20000)], width=400, layer=METAL1)
            top.path([90000, 90000, 38000], [10000, 26000, 26000], width=400, layer=METAL2, pathtype=2)
            top.arc(50000, 45000, 8000, 0.0, 180.0, 48, width=300, layer=METAL1)
            top.sector(50000, 45000, 5000, 180.0, 360.0, 32, layer=METAL2)
            top.sref("VIA1", 90000, 26000, strans=0x8000)  # reflected about the x axis
    return path


if __name__ == "__main__":
    out = write(sys.argv[1] if len(sys.argv) > 1 else "chip.gds")
    print("wrote %s with %s" % (out, carvelle.library_path()))
