# SPDX-License-Identifier: MIT
"""Edges a user meets in a week of work: every range refusal a ValueError,
bool refused for reals, masked arrays refused, calls after close, units by
position, sys.exit() inside the with block, references of failed and empty
batches, threads, Ctrl-C in a long batch, the fallback's memory."""

import os
import signal
import subprocess
import sys
import threading

import carvelle
import pytest

from conftest import records

np = pytest.importorskip("numpy")
BOX, ENDLIB = 0x2D00, 0x0400


def count(path, tag):
    return sum(1 for t, _ in records(path.read_bytes()) if t == tag)


def test_every_range_refusal_is_a_value_error(in_tmp):
    with carvelle.Library("v.gds", unit=1e-6, precision=1e-9) as lib, lib.structure("T") as top:
        for call in (lambda: top.aref("A", (0, 0), (10, 0), (0, 10), 0, 1),     # cols=0
                     lambda: top.box(0, 0, 1, 1, layer=-1),                      # 65535 in the file
                     lambda: top.text(0, 0, "t", texttype=-1),
                     lambda: top.boxes(np.zeros((2, 4), np.int32), datatype=np.array([0, -1])),
                     lambda: top.box(0, 0, 2 ** 31, 1),
                     lambda: top.user.box(0, 0, 3e6, 1),
                     lambda: top.user.boxes(np.array([[0, 0, 3e6, 1], [0, 0, 1, 1]])),
                     lambda: top.boundaries(np.zeros((8190, 2), np.int32), [0, 8190])):
            with pytest.raises(ValueError) as caught:
                call()
            assert isinstance(caught.value, (carvelle.RangeError, OverflowError))
        for call in (lambda: top.sref("A", 0, 0, mag=True), lambda: top.sref("A", 0, 0, angle=np.True_),
                     lambda: top.srefs("A", [[0, 0]], mag=True), lambda: top.user.box(True, 0, 1, 1)):
            with pytest.raises(TypeError, match="bool"):
                call()
    with pytest.raises(TypeError, match="bool"):
        carvelle.Library("b.gds", unit=True, precision=1e-9)
    assert count(in_tmp / "v.gds", BOX) == 0 and not (in_tmp / "b.gds").exists()


def test_masked_arrays_are_refused_not_unmasked(in_tmp):
    hidden = np.ma.masked_array([[0, 0, 5, 5], [9, 9, 7, 7]], mask=[[0, 0, 0, 0], [1, 1, 1, 1]])
    with carvelle.Library("m.gds") as lib, lib.structure("T") as top:
        ring = np.ma.masked_array([[0, 0], [5, 0], [0, 5]], mask=[[0, 0], [0, 1], [0, 0]])
        for call in (lambda: top.boxes(hidden), lambda: top.user.boxes(hidden),
                     lambda: top.boxes(hidden.data, layer=np.ma.masked_array([1, 2], mask=[0, 1])),
                     lambda: top.boundaries(ring, [0, 3]), lambda: top.boundaries(ring.data, np.ma.array([0, 3])),
                     lambda: top.boundary(ring), lambda: top.user.boundary(ring),
                     lambda: top.boundary(ring[:, 0], ring[:, 1])):
            with pytest.raises(TypeError, match="masked"):
                call()
    assert count(in_tmp / "m.gds", BOX) == 0


def test_calls_on_a_closed_library_and_units_by_position(in_tmp):
    lib = carvelle.Library("c.gds")
    top = lib.structure("T")
    lib.close()
    for call in (lambda: top.box(0, 0, 1, 1), lambda: top.boxes(np.zeros((1, 4), np.int32)),
                 lambda: top.user.srefs("T2", [[0, 0]])):
        with pytest.raises(carvelle.Error) as caught:
            call()
        assert caught.value.name == "GDS_ERR_STOPPED" and "library is closed" in str(caught.value)
    with pytest.raises(TypeError, match=r"by keyword only: .*unit=1e-6, precision=1e-9"):
        carvelle.Library("p.gds", 1e-6, 1e-9)
    assert not (in_tmp / "p.gds").exists()


@pytest.mark.parametrize("code, kept", [(0, True), (None, True), (1, False), ("failed", False)])
def test_sys_exit_finishes_the_file_only_on_success(in_tmp, code, kept):
    with pytest.raises(SystemExit):
        with carvelle.Library("x.gds") as lib, lib.structure("T") as top:
            top.box(0, 0, 1, 1)
            sys.exit(code)
    assert (in_tmp / "x.gds").exists() == kept
    if kept:
        assert [t for t, _ in records((in_tmp / "x.gds").read_bytes())][-4:] == [0x1003, 0x1100, 0x0700, ENDLIB]
    with pytest.raises(KeyboardInterrupt):
        with carvelle.Library("k.gds"):
            raise KeyboardInterrupt
    assert not (in_tmp / "k.gds").exists()


def test_references_of_failed_and_empty_batches(in_tmp):
    with carvelle.Library("r.gds", unit=1e-6, precision=1e-9) as lib:
        with lib.structure("TOP") as top:
            top.srefs("EMPTY", np.zeros((0, 2), np.int32))
            with pytest.raises(ValueError) as caught:   # element 0 fails: nothing refers to FIRST
                top.user.srefs("FIRST", [[3e6, 0], [0, 0]])
            assert caught.value.index == 0
            with pytest.raises(ValueError) as caught:   # element 0 is written: SECOND is referred to
                top.user.srefs("SECOND", [[0, 0], [3e6, 0]])
            assert caught.value.index == 1
        assert lib.undefined_structures() == ["SECOND"]
        for name in ("EMPTY", "FIRST"):     # no reference was written, so no cycle to refuse
            with lib.structure(name) as cell:
                cell.sref("TOP", 0, 0)
        with lib.structure("SECOND") as cell, pytest.raises(ValueError, match="cycle"):
            cell.sref("TOP", 0, 0)


def test_threads_on_one_library_wait_for_each_other(in_tmp):
    """Each call runs whole while the others wait: every box of both threads
    is written (batches, whose C loop lets the GIL go, and single boxes)."""
    errors = []
    with carvelle.Library("t.gds") as lib, lib.structure("T") as top:
        def batches():
            try:
                for _ in range(40):
                    top.boxes(np.zeros((500, 4), np.int32))
            except Exception as error:
                errors.append(error)

        def singles():
            try:
                for i in range(20000):
                    top.box(0, 0, i, 1)
            except Exception as error:
                errors.append(error)
        threads = [threading.Thread(target=batches), threading.Thread(target=singles)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert errors == []
    assert count(in_tmp / "t.gds", BOX) == 40000


INTERRUPTED = r"""
import os, signal, sys, threading
import numpy as np
import carvelle
fifo, rows = sys.argv[1], int(sys.argv[2])
reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
lib = carvelle.Library(fifo, keep_incomplete=True)
os.set_blocking(reader, True)
total = [0]

def read():   # the batch waits on the full pipe until the signal is sent, so it cannot end first
    while True:
        chunk = os.read(reader, 1 << 16)
        if not chunk:
            break
        if not total[0]:
            os.kill(os.getpid(), signal.SIGINT)
        total[0] += len(chunk)

thread = threading.Thread(target=read)
thread.start()
corners = np.zeros((rows, 4), np.int32)
try:
    with lib, lib.structure("T") as top:
        top.boxes(corners)
    print("finished")
except KeyboardInterrupt:
    pass
thread.join()
print(total[0] // 44)
"""


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
def test_ctrl_c_stops_a_long_batch(tmp_path):
    fifo = tmp_path / "pipe.gds"
    os.mkfifo(fifo)
    rows = 2000000
    # Started in the background, a process inherits SIGINT ignored; a user's Ctrl-C finds it at its default.
    result = subprocess.run([sys.executable, "-c", INTERRUPTED, str(fifo), str(rows)], capture_output=True,
                            text=True, env=os.environ, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    assert result.returncode == 0, result.stderr
    assert "finished" not in result.stdout
    assert int(result.stdout) < rows // 2   # stopped soon after the signal, not at the batch's end


def test_the_fallback_streams_batches_in_chunks(in_tmp):
    """The ctypes batch writers convert a chunk of rows at a time: memory
    does not grow with the batch (it once held every row as Python lists)."""
    import tracemalloc
    rows = 60000   # as lists: 18 MiB
    corners = np.zeros((rows, 4), np.int32)
    corners[:, 2:] = np.arange(1000, 1000 + rows)[:, None]   # not small ints: each would be an object
    layers = np.ones(rows, np.int16)
    with carvelle.Library("f.gds") as lib, lib.structure("T") as top:
        tracemalloc.start()
        try:
            top.boxes(corners, layer=layers)
            _, peak = tracemalloc.get_traced_memory()
        finally:
            tracemalloc.stop()
    assert peak < 8 << 20, peak
    assert count(in_tmp / "f.gds", BOX) == rows
