# SPDX-License-Identifier: MIT
"""User units and their own door, the numpy batch writers, and the
structures that are referenced but never defined."""

import os
import struct
import subprocess
import sys
import warnings

import carvelle
import pytest

from conftest import masked, records

np = pytest.importorskip("numpy")

UNITS, XY, BOUNDARY, BOX = 0x0305, 0x1003, 0x0800, 0x2D00


def real8(data):
    """An eight-byte real of the file: sign, excess-64 exponent of 16, 56-bit fraction."""
    word = struct.unpack(">Q", data)[0]
    sign = -1.0 if word >> 63 else 1.0
    return sign * (word & (2**56 - 1)) / 2.0**56 * 16.0 ** (((word >> 56) & 0x7F) - 64)


def payloads(path, tag):
    return [p for t, p in records(path.read_bytes()) if t == tag]


class TestUnits:
    def test_unit_and_precision_are_metres_as_in_gdspy(self, in_tmp):
        with carvelle.Library("u.gds", unit=1e-6, precision=1e-9) as lib:
            assert lib.units.scale == 1000.0
        (units,) = payloads(in_tmp / "u.gds", UNITS)
        assert real8(units[:8]) == pytest.approx(1e-3, rel=1e-15)
        assert real8(units[8:]) == pytest.approx(1e-9, rel=1e-15)

    def test_the_two_forms_cannot_be_mixed(self, in_tmp):
        with pytest.raises(TypeError):
            carvelle.Library("m.gds", user_unit=1e-3, unit=1e-6)
        with pytest.raises(TypeError):
            carvelle.Library("m.gds", 1e-3, precision=1e-9)
        assert not (in_tmp / "m.gds").exists()

    def test_user_units_round_halves_away_from_zero(self, in_tmp):
        # 4 database units per user unit: every product below is exact.
        with carvelle.Library("r.gds", unit=1.0, precision=0.25) as lib, lib.structure("R") as r:
            r.user.box(0.125, -0.125, 0.625, -0.375)                 # 0.5, -0.5, 2.5, -1.5
            r.box(1, -1, 3, -2)
            r.user.boundary(np.array([[0.1, 0.0], [1.0, 0.0], [0.0, 1]]))
            r.boundary([(0, 0), (4, 0), (0, 4)])
            r.user.boxes(np.array([[0.125, 0.375, -0.625, 2]]))
            r.boxes(np.array([[1, 2, -3, 8]]))
        xy = payloads(in_tmp / "r.gds", XY)
        assert xy[0] == xy[1] and xy[2] == xy[3] and xy[4] == xy[5]

    def test_user_values_that_cannot_be_written_are_refused(self, in_tmp):
        with carvelle.Library("o.gds", unit=1e-6, precision=1e-9) as lib, lib.structure("O") as o:
            with pytest.raises(OverflowError):
                o.user.box(0, 0, 2147484.0, 1)                       # 2^31 + 353 nm
            with pytest.raises(ValueError):
                o.user.square(float("nan"), 0, 1)
            with pytest.raises(ValueError):
                o.user.boxes(np.array([[0, 0, np.inf, 1]]))
            with pytest.raises(TypeError):
                o.box(0.0, 0, 1, 1)                                  # the integer door stays exact
            o.user.box(0, 0, 2147483.647, 1)
        assert BOX in [t for t, _ in records((in_tmp / "o.gds").read_bytes())]


class TestBatches:
    def test_batches_write_what_the_single_calls_write(self, in_tmp):
        corners = np.array([[0, 0, 10, 10], [-5, -5, 5, 0x7FFFFFFF]], dtype=np.int32)
        vertices = np.array([[0, 0], [9, 0], [9, 9], [1, 1], [8, 1], [8, 8], [1, 8]], dtype=np.int64)
        offsets = [0, 3, 7]
        positions = np.array([[1, 2], [3, 4]])

        def write(batched):
            with carvelle.Library("b.gds") as lib, lib.structure("B") as b:
                if batched:
                    b.boxes(corners, layer=[1, 0xFFFF], boxtype=3)
                    b.boundaries(vertices, offsets, layer=2, datatype=[5, 6], plex=[7, -1])
                    b.paths(vertices, np.array(offsets), width=[10, 20], layer=4, pathtype=[0, 2])
                    b.srefs("LEAF", positions, mag=[1.5, 2.0], angle=90.0, strans=0x8000)
                    b.texts(positions, ["one", b"two"], layer=[5, 6], texttype=7, width=[1, 2])
                else:
                    for corner, layer in zip(corners.tolist(), [1, 0xFFFF]):
                        b.box(*corner, layer=layer, boxtype=3)
                    for (start, end), datatype, plex in zip([(0, 3), (3, 7)], [5, 6], [7, -1]):
                        b.boundary(vertices[start:end], layer=2, datatype=datatype, plex=plex)
                    for (start, end), width, pathtype in zip([(0, 3), (3, 7)], [10, 20], [0, 2]):
                        b.path(vertices[start:end].tolist(), width=width, layer=4, pathtype=pathtype)
                    for (x, y), mag in zip(positions.tolist(), [1.5, 2.0]):
                        b.sref("LEAF", x, y, mag=mag, angle=90.0, strans=0x8000)
                    for (x, y), text, layer, width in zip(positions.tolist(), ["one", b"two"], [5, 6], [1, 2]):
                        b.text(x, y, text, layer=layer, texttype=7, width=width)
            return masked((in_tmp / "b.gds").read_bytes())

        assert write(batched=True) == write(batched=False)

    def test_a_refused_element_names_its_index_and_the_earlier_ones_stay(self, in_tmp):
        vertices = np.array([[0, 0], [1, 0], [0, 1]] * 2 + [[0, 0], [1, 1]], dtype=np.int32)
        with carvelle.Library("i.gds") as lib, lib.structure("I") as s:
            with pytest.raises(carvelle.Error) as caught:
                s.boundaries(vertices, [0, 3, 6, 8])
            assert (caught.value.index, caught.value.code) == (2, 11)
            assert "element 2" in str(caught.value)
        assert len(payloads(in_tmp / "i.gds", BOUNDARY)) == 2

    def test_shapes_and_types_are_checked_before_anything_is_written(self, in_tmp):
        with carvelle.Library("c.gds") as lib, lib.structure("C") as s:
            with pytest.raises(ValueError):
                s.boxes(np.zeros((3, 3), dtype=np.int32))
            with pytest.raises(TypeError):
                s.boxes(np.zeros((1, 4)))                            # floats
            with pytest.raises(OverflowError):
                s.boxes(np.array([[0, 0, 2**31, 1]]))
            with pytest.raises(ValueError):
                s.boxes(np.zeros((2, 4), dtype=np.int32), layer=[1, 2, 3])
            with pytest.raises(OverflowError):
                s.boxes(np.zeros((1, 4), dtype=np.int32), layer=70000)
            with pytest.raises(ValueError):
                s.boundaries(np.zeros((4, 2), dtype=np.int32), [0, 3])     # does not end at 4
            with pytest.raises(ValueError):
                s.paths(np.zeros((4, 2), dtype=np.int32), [0, 3, 2, 4])   # decreasing
            with pytest.raises(ValueError):
                s.texts(np.zeros((2, 2), dtype=np.int32), ["a"])
        assert BOX not in [t for t, _ in records((in_tmp / "c.gds").read_bytes())]

    def test_an_ended_structure_takes_no_batch(self, in_tmp):
        with carvelle.Library("e.gds") as lib:
            s = lib.structure("E")
            s.end()
            with pytest.raises(carvelle.Error) as caught:
                s.boxes(np.zeros((1, 4), dtype=np.int32))
        assert caught.value.code == 8


def test_structures_referenced_but_never_defined_are_reported(in_tmp):
    lib = carvelle.Library("g.gds")
    with lib.structure("TOP") as top:
        top.sref("LATER", 0, 0)
        top.sref("PADD", 0, 0)
        top.aref(b"GHOST", (0, 0), (1, 0), (0, 1), 1, 1)
        top.srefs("MANY", np.zeros((2, 2), dtype=np.int32))
    lib.structure("LATER").end()
    assert lib.undefined_structures() == ["GHOST", "MANY", "PADD"]
    with pytest.warns(carvelle.UndefinedStructureWarning, match="GHOST, MANY, PADD"):
        lib.close()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with carvelle.Library("ok.gds") as lib:
            lib.structure("B").end()
            with lib.structure("A") as a:
                a.sref("B", 0, 0)


FIFO_READER = r"""
import os, sys, threading, time
import numpy as np
import carvelle
fifo = sys.argv[1]
reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)   # so that the library's open does not wait
lib = carvelle.Library(fifo)
os.set_blocking(reader, True)

opened = []

def write():
    with lib, lib.structure("G") as g:
        opened.append(g)
        g.boxes(np.zeros((100000, 4), dtype=np.int32))

thread = threading.Thread(target=write)
thread.start()
outcome = {}

def attempt(name, call):   # waits for the batch: no RuntimeError; then lands after it, or finds it all ended
    try:
        call()
        outcome[name] = "ok"
    except carvelle.Error as error:
        outcome[name] = error.name

total, others, waited = 0, [], False
while True:   # needs the GIL while the batch blocks on the full pipe
    chunk = os.read(reader, 1 << 20)
    if not chunk:
        break
    if not total:   # the first bytes come from the batch: it is busy, on both backends
        others = [threading.Thread(target=attempt, args=("box", lambda: opened[0].box(0, 0, 1, 1))),
                  threading.Thread(target=attempt, args=("close", lib.close))]
        for other in others:
            other.start()
        # The batch has megabytes to go and waits on the pipe for this reader: the others wait for the batch.
        time.sleep(0.3)
        waited = all(other.is_alive() for other in others)
    total += len(chunk)
thread.join()
for other in others:
    other.join()
print(total, outcome["box"], outcome["close"], waited)
"""


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
def test_a_batch_lets_other_threads_run_while_it_writes(tmp_path):
    """The batch writes into a pipe that this process's main thread reads:
    were the GIL held while the batch writes, nobody would read and the
    child would hang. Meanwhile an element call and close, each of another
    thread, wait for the batch (neither has ended while the batch waits on
    the pipe): the box after the batch (44 bytes) or refused as the
    structure or the library has ended, close then ends the library or finds
    it ended."""
    fifo = tmp_path / "pipe.gds"
    os.mkfifo(fifo)
    result = subprocess.run([sys.executable, "-c", FIFO_READER, str(fifo)], capture_output=True, text=True,
                            timeout=100, env=os.environ)
    assert result.returncode == 0, result.stderr
    total, box, close, waited = result.stdout.split()
    assert box in ("ok", "GDS_ERR_STRUCT_NOT_OPEN", "GDS_ERR_STOPPED") and close == "ok" and waited == "True"
    assert int(total) >= 100000 * 44 + 44 * (box == "ok")
