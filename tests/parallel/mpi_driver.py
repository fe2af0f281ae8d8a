# SPDX-License-Identifier: MIT
"""The layout of the parallel tests written by carvelle.write_parallel on an
mpi4py.futures pool, in either form:

    mpiexec -n 3 python -m mpi4py.futures mpi_driver.py OUT PARTS KIND world
    mpiexec -n 1 python mpi_driver.py OUT PARTS KIND spawn

"world" takes the workers among the ranks mpiexec started (the form srun
runs too), "spawn" has MPIPoolExecutor start two. KIND is "same" (the
layout alone), "fail" (a task that raises among them) or "die" (a task
that kills its rank)."""

import sys

from mpi4py.futures import MPIPoolExecutor

import carvelle
from layout_tasks import die, fail, tile, top

TILES = 6


def main():
    out, parts, kind, form = sys.argv[1:5]
    work = [carvelle.Task(tile, i) for i in range(TILES)] + [carvelle.Task(top, TILES)]
    if kind != "same":
        work.insert(2, carvelle.Task({"fail": fail, "die": die}[kind]))
    with MPIPoolExecutor(**({"max_workers": 2} if form == "spawn" else {})) as pool:
        written = carvelle.write_parallel(out, work, executor=pool, parts_dir=parts)
    print("written: %d bytes, %d structures" % (written.bytes, written.structures))


# The workers of either form import this file too: the guard keeps them from running it.
if __name__ == "__main__":
    main()
