# SPDX-License-Identifier: MIT
"""The tasks of the parallel tests, in a module of their own: Dask's worker
processes import it by name (it is on PYTHONPATH)."""

import os
import random
import signal
import time
import uuid

BOXES = 200


def tile(lib, index):
    """Random boxes on five layers, the same for the same index."""
    rng = random.Random(index)
    with lib.structure("TILE%d" % index) as cell:
        for _ in range(BOXES):
            x, y = rng.randrange(10000), rng.randrange(10000)
            cell.box(x, y, x + rng.randrange(1, 500), y + rng.randrange(1, 500), layer=rng.randrange(5))


def top(lib, tiles, extra=()):
    with lib.structure("TOP") as cell:
        for index in range(tiles):
            cell.sref("TILE%d" % index, 10000 * index, 0)
        for name in extra:
            cell.sref(name, 0, 0)


def fail(lib):
    with lib.structure("HALF") as cell:
        cell.box(0, 0, 1, 1)
        raise ValueError("no more shapes")


def die(lib):
    with lib.structure("DEAD") as cell:
        cell.box(0, 0, 1, 1)
        os.kill(os.getpid(), signal.SIGKILL)


def nap(lib, seconds, running, begun=None):
    """Sleeps, with a file named by its process in running while it does
    (and one left in begun, when given, to count the naps that began)."""
    mark = os.path.join(running, "%d-%s" % (os.getpid(), uuid.uuid4().hex))
    open(mark, "w").close()
    if begun:
        open(os.path.join(begun, os.path.basename(mark)), "w").close()
    time.sleep(seconds)
    os.remove(mark)


def attempt(lib, log):
    """One box, as wide as the attempts before this one plus one (a file each in log)."""
    before = len(os.listdir(log))
    open(os.path.join(log, str(before)), "w").close()
    with lib.structure("T") as cell:
        cell.box(0, 0, before + 1, 1)
