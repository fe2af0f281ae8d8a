# SPDX-License-Identifier: MIT
# A fragment shown on the site (Parallel generation on MPI); it is not run on its own.
import carvelle
from mpi4py.futures import MPIPoolExecutor

from chip_tasks import tile, top  # module-level functions: the ranks import them


def main():
    tasks = [carvelle.Task(tile, i) for i in range(4096)] + [carvelle.Task(top, 4096)]
    with MPIPoolExecutor() as pool:
        carvelle.write_parallel("/shared/chip.gds", tasks, executor=pool, parts_dir="/shared/parts")


# Every rank runs this file (python -m mpi4py.futures imports it under
# another name on the workers): the guard keeps the workers from calling main().
if __name__ == "__main__":
    main()
