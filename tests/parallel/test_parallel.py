# SPDX-License-Identifier: MIT
"""carvelle.write_parallel and carvelle.merge: a layout written by tasks on a
process pool and on a Dask cluster equals the same layout written at once,
record for record (timestamps aside), and KLayout reads it; a failing task,
a killed worker, a refused merge and a signal leave no output, no parts and
no task running; a task run twice does not mix its parts."""

import gzip
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
from concurrent.futures import Future, ProcessPoolExecutor, ThreadPoolExecutor

import pytest

import carvelle
import carvelle._merge
import carvelle._parallel
from layout_tasks import BOXES, attempt, die, fail, nap, tile, top

BGNLIB, BGNSTR, LIBNAME = 0x0102, 0x0502, 0x0206
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


def named(recs, path):
    """recs with LIBNAME as the merge writes it for the output path."""
    name = os.fsencode(str(path))
    return [(tag, name + b"\0" * (len(name) % 2) if tag == LIBNAME else payload) for tag, payload in recs]


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


def test_a_gz_output_holds_the_library_the_plain_output_holds(tmp_path):
    expected = at_once(str(tmp_path / "chip.gds"))
    out = tmp_path / "chip.gds.gz"
    written = carvelle.write_parallel(str(out), tasks(), workers=2)
    assert records(gzip.decompress(out.read_bytes())) == named(expected, out)
    assert (written.bytes, written.structures) == (os.path.getsize(out), TILES + 1)
    # A .oas output: the parts stay GDSII, the merge converts.
    oas = tmp_path / "chip.oas"
    converted = carvelle.write_parallel(str(oas), tasks(), workers=2)
    assert oas.read_bytes()[:13] == b"%SEMI-OASIS\r\n"
    assert (converted.bytes, converted.structures) == (os.path.getsize(oas), TILES + 1)
    assert sorted(os.listdir(tmp_path)) == ["chip.gds", "chip.gds.gz", "chip.oas"]
    if shutil.which("klayout"):
        assert klayout_reads(str(out)) == (TILES + 1, TILES * BOXES)
        assert klayout_reads(str(oas)) == (TILES + 1, TILES * BOXES)


def test_structures_no_task_defines_are_reported_after_the_merge(tmp_path):
    out = str(tmp_path / "chip.gds")
    with pytest.warns(carvelle.UndefinedStructureWarning) as caught:
        work = [carvelle.Task(tile, 0), carvelle.Task(top, 2, ["MISSING", "GONE"])]
        carvelle.write_parallel(out, work, workers=1)
    # TILE0, which the TOP part refers to, is no warning
    assert [str(w.message) for w in caught] == [out + ": structures referenced but never defined: GONE, MISSING, TILE1"]


@pytest.mark.parametrize("broken, cause", [(fail, ValueError), (die, Exception)])
def test_a_failing_task_or_a_killed_worker_leaves_no_output_and_no_parts(tmp_path, broken, cause):
    out = tmp_path / "chip.gds"
    out.write_bytes(b"old")
    running, begun = tmp_path / "running", tmp_path / "begun"
    running.mkdir()
    begun.mkdir()
    work = [carvelle.Task(tile, 0), carvelle.Task(broken)] + [carvelle.Task(nap, 0.02, str(running), str(begun))] * 20
    with ProcessPoolExecutor(2) as pool:
        with pytest.raises(carvelle.TaskError, match=r"%s\(\) \(2 of 22\)" % broken.__name__) as raised:
            carvelle.write_parallel(str(out), work, executor=pool, parts_dir=str(tmp_path))
    assert isinstance(raised.value.__cause__, cause)
    # A failing task is the error's task. A killed worker breaks the pool, which cannot tell
    # which running task killed it: on a busy machine tile(0) may still be running beside die().
    assert raised.value.task.function is broken if broken is fail else raised.value.task in raised.value.tasks
    # Of the tasks that fail with the pool, those that had begun: the first two, and the naps
    # the other worker began before the pool saw the death (on a busy machine, one or more).
    assert broken in [t.function for t in raised.value.tasks]
    assert len(raised.value.tasks) <= 2 + len(os.listdir(begun))
    assert "carvelle-parts" not in str(raised.value)
    assert out.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["begun", "chip.gds", "running"]


def test_a_refused_merge_names_the_tasks_and_leaves_no_output(tmp_path):
    log, out = tmp_path / "log", tmp_path / "out"
    log.mkdir()  # the two tasks draw boxes of different widths into their structure T
    out.mkdir()
    with pytest.raises(carvelle.MergeError) as raised:
        work = [carvelle.Task(attempt, str(log), name=name) for name in ("left", "right")]
        carvelle.write_parallel(str(out / "chip.gds"), work, workers=1)
    assert raised.value.failure == carvelle.MergeFailure.DUPLICATE_STRUCTURE
    assert str(raised.value).startswith('structure "T" is defined in task left (1 of 2) '
                                        'and again in task right (2 of 2) with other records')
    assert os.listdir(out) == []


@pytest.fixture
def executor(request):
    if request.param == "dask":
        yield request.getfixturevalue("dask_client")
        return
    with ProcessPoolExecutor(2) as pool:
        yield pool


@pytest.mark.parametrize("executor", ["process pool", "dask"], indirect=True)
def test_a_failure_cancels_a_thousand_tasks_at_once(tmp_path, executor):
    running = tmp_path / "running"
    running.mkdir()
    work = [carvelle.Task(fail)] + [carvelle.Task(nap, 0.5, str(running))] * 999
    cancels = lambda: [m for _, m in executor.get_events(executor.id) if m["action"] == "cancel"]  # noqa: E731
    before = cancels() if hasattr(executor, "get_events") else []
    began = time.monotonic()
    with pytest.raises(carvelle.TaskError, match=r"fail\(\) \(1 of 1000\)"):
        carvelle.write_parallel(str(tmp_path / "chip.gds"), work, executor=executor, parts_dir=str(tmp_path))
    assert time.monotonic() - began < 120  # the tasks take 250 s on two workers: a busy machine still tells
    assert sorted(os.listdir(tmp_path)) == ["running"]
    if hasattr(executor, "get_events"):  # one message to the scheduler, where each costs a round trip or more
        assert len(cancels()) == len(before) + 1 and cancels()[-1]["count"] >= 100  # of the hundreds waiting
    else:  # a pool's running tasks are waited for; a cluster's find the folder gone
        assert os.listdir(running) == []


class RunsTwice:
    """Runs every task twice, one attempt after the other, as a cluster does
    when it takes a worker for lost: the caller gets the first attempt's
    result, the second writes after it."""

    def __init__(self, client=None):
        self.client = client

    def submit(self, function, *args):
        future = Future()
        if self.client is not None:
            first = self.client.submit(function, *args, pure=False)
            first.result()
            self.client.submit(function, *args, pure=False).result()
            future.set_result(first.result())
        else:
            future.set_result(function(*args))
            function(*args)
        return future


@pytest.mark.parametrize("cluster", [False, True])
def test_a_task_run_twice_merges_the_part_of_the_result_received(tmp_path, monkeypatch, cluster, request):
    # In this process both attempts draw the same name first, and the second draws again.
    tokens = iter(["same", "same", "other"])
    monkeypatch.setattr(carvelle._parallel, "_token", lambda: next(tokens))
    log = tmp_path / "log"
    log.mkdir()
    executor = RunsTwice(request.getfixturevalue("dask_client") if cluster else None)
    carvelle.write_parallel(str(tmp_path / "chip.gds"), [carvelle.Task(attempt, str(log))], executor=executor)
    assert sorted(os.listdir(log)) == ["0", "1"]
    xy = [payload for tag, payload in records(open(tmp_path / "chip.gds", "rb").read()) if tag == 0x1003]
    assert xy == [struct.pack(">10i", 0, 0, 1, 0, 1, 1, 0, 1, 0, 0)]  # the first attempt's box


def test_a_worker_that_cannot_see_the_parts_folder_is_refused_at_the_start(tmp_path):
    other = tmp_path / "other"
    other.mkdir()

    class Elsewhere(ThreadPoolExecutor):
        """Workers on a host that mounts another folder where the parts folder is."""
        submitted = 0

        def submit(self, function, *args):
            Elsewhere.submitted += 1
            return super().submit(function, args[0].replace(str(tmp_path), str(other)), *args[1:])

    with Elsewhere(1) as pool, pytest.raises(FileNotFoundError, match="a worker cannot see the parts folder"):
        carvelle.write_parallel(str(tmp_path / "chip.gds"), [carvelle.Task(tile, 0)], executor=pool)
    assert Elsewhere.submitted == 1 and os.listdir(tmp_path) == ["other"]


CALLER = """
import sys, carvelle
from layout_tasks import nap
carvelle.write_parallel(sys.argv[1] + "/chip.gds", [carvelle.Task(nap, 60, sys.argv[2])] * 4, workers=2,
                        parts_dir=sys.argv[3])
"""


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT])
def test_a_signal_to_the_caller_removes_the_parts_and_stops_the_workers(tmp_path, signum):
    running, parts = tmp_path / "running", tmp_path / "parts"
    running.mkdir()
    parts.mkdir()
    # Started in the background, a process inherits SIGINT ignored; a caller gets it at its default.
    caller = subprocess.Popen([sys.executable, "-c", CALLER, str(tmp_path), str(running), str(parts)],
                              preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    deadline = time.monotonic() + 120
    while len(os.listdir(running)) < 2 and time.monotonic() < deadline:
        time.sleep(0.05)
    workers = [int(name.split("-")[0]) for name in os.listdir(running)]
    assert len(workers) == 2
    try:
        caller.send_signal(signum)
        assert caller.wait(45) == -signum  # not after the tasks, which take 60 s
        assert os.listdir(parts) == [] and not [pid for pid in workers if os.path.exists("/proc/%d" % pid)]
    finally:  # nothing left behind when the test fails
        caller.kill()
        for pid in filter(lambda pid: os.path.exists("/proc/%d" % pid), workers):
            os.kill(pid, signal.SIGKILL)


def test_merge_refusals_and_the_program_in_place_of_the_compiled_module(tmp_path, monkeypatch):
    a, b, micro = (str(tmp_path / name) for name in ("a.gds", "b.gds", "micro.gds"))
    for path, index in ((a, 0), (b, 1)):
        with carvelle.Library(path) as lib:
            tile(lib, index)
    with carvelle.Library(micro, unit=1e-6, precision=1e-10) as lib:
        tile(lib, 2)
    with open(str(tmp_path / "cut.gds"), "wb") as f:
        f.write(open(a, "rb").read()[:-10])
    odd = str(tmp_path / "odd.gds")
    with carvelle.Library(odd) as lib:
        with lib.structure("ODD") as s:
            s.path([(0, 0), (100, 0)], width=3, layer=2)
    # Two parts that each reference the other's structure: read alone, fine; joined, a cycle.
    for name, here, there in (("ab.gds", "A", "B"), ("ba.gds", "B", "A")):
        with carvelle.Library(str(tmp_path / name)) as lib:
            with lib.structure(here) as s:
                s.sref(there, 0, 0)
    refusals = [([a, micro], carvelle.MergeFailure.UNITS_DIFFER, "UNITS differ: part .*micro.gds has user unit"),
                ([a, str(tmp_path / "cut.gds")], carvelle.MergeFailure.NOT_A_LIBRARY, "cut short"),
                ([str(tmp_path / "ab.gds"), str(tmp_path / "ba.gds")], carvelle.MergeFailure.CYCLE, "A -> B -> A"),
                ([a, b, a], carvelle.MergeFailure.PART_REPEATED, "is the same file as part"),
                ([], carvelle.MergeFailure.NO_PARTS, "no parts")]

    def merges():
        for parts, failure, says in refusals:
            with pytest.raises(carvelle.MergeError, match=says) as raised:
                carvelle.merge(tmp_path / "out.gds", parts)
            assert raised.value.failure == failure
        assert carvelle.merge(tmp_path / "out.gds", a) == (os.path.getsize(tmp_path / "out.gds"), 1)
        assert carvelle.merge(tmp_path / "out.gds", [a, b]) == (os.path.getsize(tmp_path / "out.gds"), 2)
        plain = open(tmp_path / "out.gds", "rb").read()
        # A .gz part, and a .gz output, hold the same library.
        with open(a + ".gz", "wb") as f:
            f.write(gzip.compress(open(a, "rb").read()))
        zipped = tmp_path / "out.gds.gz"
        assert carvelle.merge(zipped, [a + ".gz", b]) == (os.path.getsize(zipped), 2)
        assert records(gzip.decompress(zipped.read_bytes())) == named(records(plain), zipped)
        # A .oas output converts; an element OASIS cannot hold refuses it, leaving nothing.
        oas = tmp_path / "out.oas"
        assert carvelle.merge(oas, [a + ".gz", b]) == (os.path.getsize(oas), 2)
        assert oas.read_bytes()[:13] == b"%SEMI-OASIS\r\n"
        os.remove(str(oas))
        with pytest.raises(carvelle.MergeError, match="structure ODD: the PATH at byte .*OASIS cannot hold") as raised:
            carvelle.merge(oas, [a, odd])
        assert raised.value.failure == carvelle.MergeFailure.NOT_IN_OASIS and not oas.exists()
        return plain

    compiled = merges()
    # Without the compiled module, the carvelle-merge program carried beside the package does the same.
    monkeypatch.setitem(sys.modules, "carvelle._compiled_merge", None)
    package = tmp_path / "package"
    package.mkdir()
    shutil.copy(shutil.which("carvelle-merge"), str(package))
    monkeypatch.setattr(carvelle._merge, "__file__", str(package / "_merge.py"))
    monkeypatch.setenv("PATH", "")
    assert records(merges()) == records(compiled)
