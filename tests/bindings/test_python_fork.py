# SPDX-License-Identifier: MIT
"""os.fork() with a Library open: the child ends however it likes, the
parent writes on, and the file holds every element of the parent and none of
the child. Each run forks inside a subprocess that the test waits for, so a
child or parent that would hang fails the test through ctest, never pytest."""

import gzip
import os
import struct
import subprocess
import sys

import pytest

from conftest import records

BOUNDARY, BOX, ENDLIB, XY = 0x0800, 0x2D00, 0x0400, 0x1003

# The child's endings: exit by sys.exit (finalizers and interpreter exit),
# by os._exit (none), after its own end of the library, and after trying to
# write (refused: the library is the parent's).
SCRIPT = r"""
import os, sys
import carvelle
ending, name = sys.argv[1], sys.argv[2]
lib = carvelle.Library(name)
top = lib.structure("TOP")
for i in range(3000):  # beyond one compressed piece, below the buffer's megabyte
    top.box(i, 0, i + 1, 7, layer=1)
child = os.fork()
if child == 0:
    if ending == "write":
        try:
            top.box(0, 0, 5, 5, layer=66)
        except carvelle.Error as error:
            assert error.code == carvelle.Result.GDS_ERR_STOPPED, error
        else:
            os._exit(3)
    if ending == "close":
        lib.close()  # frees the child's copy only, and raises nothing
    if ending == "_exit":
        os._exit(0)
    sys.exit(0)
_, status = os.waitpid(child, 0)
assert status == 0, status
for i in range(200000):  # several megabytes after the fork
    top.box(i, 10, i + 1, 17, layer=2)
top.end()
lib.close()
"""


def boxes_by_layer(data):
    found = {}
    kept = records(data)
    assert kept[-1][0] == ENDLIB and [tag for tag, _ in kept].count(ENDLIB) == 1
    layer = None
    for tag, payload in kept:
        if tag == 0x0D02:  # LAYER
            layer = struct.unpack(">h", payload)[0]
        if tag == 0x1100:  # ENDEL
            found[layer] = found.get(layer, 0) + 1
    return found


@pytest.mark.parametrize("name", ["forked.gds", "forked.gds.gz"])
def test_a_forked_child_leaves_the_parents_file_whole(tmp_path, name):
    environment = dict(os.environ, CARVELLE_GZIP_THREADS="2")
    for ending in ("exit", "_exit", "close", "write"):
        path = tmp_path / name
        subprocess.run([sys.executable, "-c", SCRIPT, ending, str(path)], check=True, env=environment)
        data = path.read_bytes()
        if name.endswith(".gz"):
            data = gzip.decompress(data)
        assert boxes_by_layer(data) == {1: 3000, 2: 200000}, ending
