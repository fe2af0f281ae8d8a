#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A metasurface of square pillars on a grid, their sizes computed by numpy a
block of rows at a time and written by one boxes() call per block: memory
stays that of one block, whatever the number of shapes.

    python3 examples/python/many_shapes.py [metasurface.gds] [--shapes 300000000]
"""

import argparse

import numpy as np

import carvelle

PITCH = 500          # database units (nm): a 0.5 um grid
BLOCK = 1_000_000    # shapes computed and written per call


def pillars(rows, columns, first_row, row_count):
    """The (N, 4) corners of the pillars of rows first_row to first_row + row_count."""
    y, x = np.mgrid[first_row:first_row + row_count, 0:columns]
    # a lens-like profile: the pillars shrink away from the centre
    r2 = ((x - columns / 2) ** 2 + (y - rows / 2) ** 2) / ((rows ** 2 + columns ** 2) / 4)
    half = (50 + 180 * np.cos(np.pi * 6 * r2) ** 2).astype(np.int32)
    cx, cy = (x * PITCH).astype(np.int32), (y * PITCH).astype(np.int32)
    corners = np.stack([cx - half, cy - half, cx + half, cy + half], axis=-1)
    return corners.reshape(-1, 4)


def write(path, shapes):
    columns = max(int(shapes ** 0.5), 1)
    rows = shapes // columns
    per_block = max(BLOCK // columns, 1)
    with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
        with lib.structure("TOP") as top:
            for first in range(0, rows, per_block):
                count = min(per_block, rows - first)
                top.boxes(pillars(rows, columns, first, count), layer=1)
    return rows * columns


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output", nargs="?", default="metasurface.gds")
    parser.add_argument("--shapes", type=int, default=1_000_000, help="pillars in all (1 million)")
    args = parser.parse_args()
    print("wrote %s: %d pillars" % (args.output, write(args.output, args.shapes)))


if __name__ == "__main__":
    main()
