#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A disc of 5,000 vertices written as one BOUNDARY, and the same disc as two
halves of 2,501 vertices each. KLayout warns "Record length larger than
0x8000 encountered" on the first (its XY record is 40,012 bytes long) and
reads both alike; the halves keep every record under 32,768 bytes.

    python3 examples/python/long_records.py [discs.gds]
"""

import math
import sys

import carvelle

RADIUS = 100000   # database units (nm): a disc 200 um across
VERTICES = 5000   # one BOUNDARY: an XY record of 8 * 5001 + 4 bytes
LONGEST = 4094    # the most vertices whose XY record (closing point included) stays under 0x8000 bytes


def arc(start, stop, count):
    """count points of the circle from angle start to angle stop (radians), both ends included."""
    step = (stop - start) / (count - 1)
    return [(round(RADIUS * math.cos(start + i * step)), round(RADIUS * math.sin(start + i * step)))
            for i in range(count)]


path = sys.argv[1] if len(sys.argv) > 1 else "discs.gds"
with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
    with lib.structure("TOP") as top:
        # One record: readers that follow the 32,767-byte convention warn.
        whole = arc(0, 2 * math.pi, VERTICES + 1)[:-1]
        top.boundary(whole, layer=1)
        # Split along a diameter: two BOUNDARYs that meet edge to edge.
        upper = arc(0, math.pi, VERTICES // 2 + 1)
        lower = arc(math.pi, 2 * math.pi, VERTICES // 2 + 1)
        assert max(len(upper), len(lower)) <= LONGEST
        for half in (upper, lower):
            top.boundary([(x + 3 * RADIUS, y) for x, y in half], layer=2)
print("wrote", path)
