#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Element properties and a file that is the same on every run: a net name
and a width on shapes, an instance name on a reference, one mapping for a
whole batch, and a fixed time in BGNLIB and BGNSTR.

    python3 examples/python/properties.py [properties.gds]
"""

import datetime
import sys

import carvelle

path = sys.argv[1] if len(sys.argv) > 1 else "properties.gds"
# Naive datetimes are UTC; timestamp=0 would write zero words instead.
moment = datetime.datetime(2024, 3, 1, 12, 0)
with carvelle.Library(path, unit=1e-6, precision=1e-9, timestamp=moment) as lib:
    with lib.structure("INV") as inv:
        inv.box(0, 0, 2000, 4000, layer=1, properties={1: "VDD"})
    with lib.structure("TOP") as top:
        top.box(0, 0, 10000, 500, layer=2, properties={1: "VDD", 2: "W=0.5u"})
        top.sref(inv, 1000, 1000, properties={1: "U17"})
        # One mapping for every row of a batch; numbers are written in decimal.
        corners = [[x, 2000, x + 500, 2500] for x in range(0, 10000, 1000)]
        top.boxes(corners, layer=3, properties={1: "GND", 3: 42})
