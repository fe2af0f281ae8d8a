#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A photonics layout in micrometres: ring resonators beside a bus waveguide,
with a bend and a taper at each end, the bends and tapers placed by rotated
and mirrored references.

    python3 examples/python/photonics.py [photonics.gds]
"""

import math
import sys

import carvelle

WAVEGUIDE, LABEL = 1, 63
WIDTH = 0.5          # waveguide width
GAP = 0.2            # between the bus and a ring
PITCH = 30.0         # each ring cell holds this much of the bus
BEND_RADIUS = 10.0
TAPER_LENGTH, TAPER_WIDTH = 15.0, 3.0


def ring_halves(cx, cy, radius, width, count=192):
    """A ring as two polygons, the upper and the lower half: each runs along
    the outer circle, then back along the inner one."""
    outer, inner = radius + width / 2, radius - width / 2
    halves = []
    for start in (0.0, math.pi):
        angles = [start + math.pi * i / (count // 2) for i in range(count // 2 + 1)]
        halves.append([(cx + outer * math.cos(a), cy + outer * math.sin(a)) for a in angles]
                      + [(cx + inner * math.cos(a), cy + inner * math.sin(a)) for a in reversed(angles)])
    return halves


def ring_name(radius):
    """RING_5, RING_7p5: a structure name of letters, digits and '_' only."""
    return "RING_" + ("%g" % radius).replace(".", "p")


def ring_cell(lib, name, radius):
    """A ring coupled to a straight piece of the bus, from x = -PITCH/2 to PITCH/2."""
    with lib.structure(name) as cell:
        cell.user.path([(-PITCH / 2, 0), (PITCH / 2, 0)], width=WIDTH, layer=WAVEGUIDE)
        centre = WIDTH + GAP + radius
        for half in ring_halves(0, centre, radius, WIDTH):
            cell.user.boundary(half, layer=WAVEGUIDE)
        cell.user.text(0, centre, "R=%g" % radius, layer=LABEL)


def bend_cell(lib):
    """A 90-degree bend from (0, 0) heading +x to (R, -R) heading -y."""
    angles = [math.pi / 2 * i / 45 for i in range(46)]
    points = [(BEND_RADIUS * math.sin(a), BEND_RADIUS * (math.cos(a) - 1)) for a in angles]
    with lib.structure("BEND") as cell:
        cell.user.path(points, width=WIDTH, layer=WAVEGUIDE)


def taper_cell(lib):
    """From the waveguide's width at (0, 0) to TAPER_WIDTH at (TAPER_LENGTH, 0)."""
    with lib.structure("TAPER") as cell:
        cell.user.boundary([(0, -WIDTH / 2), (TAPER_LENGTH, -TAPER_WIDTH / 2),
                            (TAPER_LENGTH, TAPER_WIDTH / 2), (0, WIDTH / 2)],
                           layer=WAVEGUIDE)


def write(path, radii=(5.0, 7.5, 10.0)):
    with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
        for radius in radii:
            ring_cell(lib, ring_name(radius), radius)
        bend_cell(lib)
        taper_cell(lib)
        with lib.structure("TOP") as top:
            left, right = -PITCH / 2, PITCH * (len(radii) - 0.5)
            for index, radius in enumerate(radii):
                top.user.sref(ring_name(radius), PITCH * index, 0)
            # right end: the bend as drawn, then the taper turned to point down
            top.user.sref("BEND", right, 0)
            top.user.sref("TAPER", right + BEND_RADIUS, -BEND_RADIUS, angle=270.0)
            # left end: the bend mirrored (about the x axis, then turned by 180 degrees)
            top.user.sref("BEND", left, 0, strans=0x8000, angle=180.0)
            top.user.sref("TAPER", left - BEND_RADIUS, -BEND_RADIUS, angle=270.0)
    return path


if __name__ == "__main__":
    print("wrote", write(sys.argv[1] if len(sys.argv) > 1 else "photonics.gds"))
