#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Random rectangles on five layers, generated per shape in Python by
parallel tasks and merged into one library: the workload of the field's
largest layouts (metasurfaces, full-wafer masks), where computing the shapes
costs far more than writing them.

    python3 examples/python/parallel_chip.py chip.gds --shapes 2000000 --workers 2
    python3 examples/python/parallel_chip.py chip.gds --dask tcp://scheduler:8786 --parts-dir /shared/parts

The shapes are tiled into TILES structures (one task each) placed by one top
structure; --workers 1 runs the same tasks one after another.
"""

import argparse
import random
import time

import carvelle

LAYERS = 5
TILE_SIZE = 1_000_000    # database units (1 mm at 1 nm)
SHAPE_SIZE = 2_000


def tile(lib: carvelle.Library, index: int, shapes: int) -> None:
    """One tile: shapes random rectangles on LAYERS layers, the same for the same index."""
    rng = random.Random(index)
    with lib.structure("TILE%d" % index) as cell:
        for _ in range(shapes):
            x, y = rng.randrange(TILE_SIZE), rng.randrange(TILE_SIZE)
            cell.box(x, y, x + rng.randrange(1, SHAPE_SIZE), y + rng.randrange(1, SHAPE_SIZE),
                     layer=rng.randrange(LAYERS))


def top(lib: carvelle.Library, tiles: int, columns: int) -> None:
    """The top structure: the tiles on a grid."""
    with lib.structure("TOP") as cell:
        for index in range(tiles):
            cell.sref("TILE%d" % index, TILE_SIZE * (index % columns), TILE_SIZE * (index // columns))


def tasks(shapes: int, tiles: int) -> list:
    columns = max(int(tiles ** 0.5), 1)
    per_tile = [shapes // tiles + (1 if i < shapes % tiles else 0) for i in range(tiles)]
    return [carvelle.Task(tile, i, n) for i, n in enumerate(per_tile)] + [carvelle.Task(top, tiles, columns)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--shapes", type=int, default=1_000_000, help="rectangles in all (1 million)")
    parser.add_argument("--tiles", type=int, default=64, help="structures, one task each (64)")
    parser.add_argument("--workers", type=int, default=None, help="processes (default: one per core)")
    parser.add_argument("--dask", metavar="ADDRESS", help="a Dask scheduler ('local' for a LocalCluster)")
    parser.add_argument("--parts-dir", help="folder for the parts (default: the output's folder)")
    args = parser.parse_args()

    executor = None
    if args.dask:
        from distributed import Client, LocalCluster
        executor = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1) if args.dask == "local"
                          else args.dask)
    started = time.perf_counter()
    written = carvelle.write_parallel(args.output, tasks(args.shapes, args.tiles), executor=executor,
                                      workers=args.workers, parts_dir=args.parts_dir)
    seconds = time.perf_counter() - started
    print("%s: %d shapes in %d structures, %.1f MB; generated in %.2f s, merged in %.2f s, %.2f s in all"
          % (args.output, args.shapes, written.structures, written.bytes / 1e6, written.generate_seconds,
             written.merge_seconds, seconds))
    if executor is not None:
        executor.close()


if __name__ == "__main__":
    main()
