# SPDX-License-Identifier: MIT
"""carvelle.write_parallel and carvelle.merge: a layout written by tasks on a
process pool and on a Dask cluster equals the same layout written at once,
record for record (timestamps aside), and KLayout reads it; a failing task,
a killed worker and a refused merge leave no output and no parts."""

import os
import shutil
import struct
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

import pytest

import carvelle
from layout_tasks import BOXES, die, fail, tile, top

BGNLIB, BGNSTR = 0x0102, 0x0502
TILES = 6


def records(data):
    """(tag, payload) pairs, the BGNLIB and BGNSTR timestamps zeroed."""
    out, offset = [], 0
    while offset < len(data):
        length, tag = struct.unpack_from(">HH", data, offset)
        assert length >= 4 and offset + length <= len(data), "bad record at byte %d" % offset
        payload = data[offset + 4:offset + length]
        out.append((tag, bytes(24) if tag in (BGNLIB, BGNSTR) else payload))
        offset += length
    return out


def tasks():
    return [carvelle.Task(tile, i) for i in range(TILES)] + [carvelle.Task(top, TILES)]


def at_once(path):
    """The same layout written by one Library, task after task."""
    with carvelle.Library(path) as lib:
        for task in tasks():
            task.function(lib, *task.args)
    return records(open(path, "rb").read())


def klayout_reads(path):
    """Cells and boxes that KLayout counts in the file."""
    script = ("import pya\nl = pya.Layout()\nl.read(gds)\n"
              "print(l.cells(), sum(c.shapes(i).size() for c in l.each_cell() for i in l.layer_indexes()))\n")
    folder = os.path.dirname(path)
    with open(os.path.join(folder, "count.py"), "w") as f:
        f.write(script)
    done = subprocess.run(["klayout", "-b", "-r", os.path.join(folder, "count.py"), "-rd", "gds=" + path],
                          capture_output=True, text=True, check=True)
    return tuple(int(n) for n in done.stdout.split()[-2:])


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


@pytest.mark.parametrize("executor", ["process pool", "dask"])
def test_parts_merge_into_the_library_written_at_once(tmp_path, executor, request):
    expected = at_once(str(tmp_path / "chip.gds"))
    parts = tmp_path / "parts"
    parts.mkdir()
    run = {"executor": request.getfixturevalue("dask_client")} if executor == "dask" else {"workers": 2}
    written = carvelle.write_parallel(str(tmp_path / "chip.gds"), tasks(), parts_dir=str(parts), **run)
    data = open(tmp_path / "chip.gds", "rb").read()
    assert records(data) == expected
    assert (written.bytes, written.structures, written.tasks) == (len(data), TILES + 1, TILES + 1)
    assert os.listdir(parts) == []
    if shutil.which("klayout"):
        assert klayout_reads(str(tmp_path / "chip.gds")) == (TILES + 1, TILES * BOXES)


def test_structures_no_task_defines_are_reported_after_the_merge(tmp_path):
    with pytest.warns(carvelle.UndefinedStructureWarning, match="MISSING") as caught:
        work = [carvelle.Task(tile, 0), carvelle.Task(top, 1, ["MISSING"])]
        carvelle.write_parallel(str(tmp_path / "chip.gds"), work, workers=1)
    assert len(caught) == 1  # TILE0, which the TOP part refers to, is no warning


@pytest.mark.parametrize("broken, cause", [(fail, ValueError), (die, Exception)])
def test_a_failing_task_or_a_killed_worker_leaves_no_output_and_no_parts(tmp_path, broken, cause):
    out = tmp_path / "chip.gds"
    out.write_bytes(b"old")
    work = [carvelle.Task(tile, 0), carvelle.Task(broken), carvelle.Task(tile, 1)]
    with pytest.raises(carvelle.TaskError, match=r"%s\(\) \(2 of 3\)" % broken.__name__) as raised:
        carvelle.write_parallel(str(out), work, executor=ProcessPoolExecutor(2), parts_dir=str(tmp_path))
    assert isinstance(raised.value.__cause__, cause) and raised.value.task.function is broken
    assert out.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["chip.gds"]


def test_a_refused_merge_raises_merge_error_and_leaves_no_output(tmp_path):
    with pytest.raises(carvelle.MergeError, match='structure "TILE0" is defined in part') as raised:
        carvelle.write_parallel(str(tmp_path / "chip.gds"), [carvelle.Task(tile, 0), carvelle.Task(tile, 0)],
                                workers=2)
    assert raised.value.failure == carvelle.MergeFailure.DUPLICATE_STRUCTURE
    assert os.listdir(tmp_path) == []


def test_merge_refusals_and_the_program_in_place_of_the_compiled_module(tmp_path, monkeypatch):
    a, b, micro = (str(tmp_path / name) for name in ("a.gds", "b.gds", "micro.gds"))
    for path, index in ((a, 0), (b, 1)):
        with carvelle.Library(path) as lib:
            tile(lib, index)
    with carvelle.Library(micro, unit=1e-6, precision=1e-10) as lib:
        tile(lib, 2)
    with open(str(tmp_path / "cut.gds"), "wb") as f:
        f.write(open(a, "rb").read()[:-10])
    refusals = [([a, micro], carvelle.MergeFailure.UNITS_DIFFER, "micro.gds has user unit"),
                ([a, str(tmp_path / "cut.gds")], carvelle.MergeFailure.NOT_A_LIBRARY, "cut short"),
                ([], carvelle.MergeFailure.NO_PARTS, "no parts")]
    for parts, failure, says in refusals:
        with pytest.raises(carvelle.MergeError, match=says) as raised:
            carvelle.merge(tmp_path / "out.gds", parts)
        assert raised.value.failure == failure
    assert carvelle.merge(tmp_path / "out.gds", [a, b]) == (os.path.getsize(tmp_path / "out.gds"), 2)
    compiled = open(tmp_path / "out.gds", "rb").read()

    # Without the compiled module, the carvelle-merge program does the same.
    monkeypatch.setitem(sys.modules, "carvelle._compiled_merge", None)
    assert carvelle.merge(tmp_path / "out.gds", [a, b]) == (len(compiled), 2)
    assert records(open(tmp_path / "out.gds", "rb").read()) == records(compiled)
    with pytest.raises(carvelle.MergeError, match="micro.gds has user unit") as raised:
        carvelle.merge(tmp_path / "out.gds", [a, micro])
    assert raised.value.failure is None
