# SPDX-License-Identifier: MIT
"""Signals and dead processes around carvelle.write_parallel and the merge
program: a signal that comes while a call cleans up is held, not let cut
it in half; the process ends by the signal it got, with no parts and no
traceback of the library's own; a driver killed by SIGKILL takes its pool's
workers along, and the next call removes its parts; a pool of the caller's
is left working and waited for; the program that merges in place of the
compiled module gets the signal and is waited for."""

import os
import signal
import subprocess
import sys
import time
from concurrent.futures import ProcessPoolExecutor

import pytest

import carvelle
from layout_tasks import fail, nap, tile

DRIVER = """
import sys, carvelle
from layout_tasks import nap
carvelle.write_parallel(sys.argv[1] + "/chip.gds", [carvelle.Task(nap, 600, sys.argv[2])] * 4, workers=2,
                        parts_dir=sys.argv[3])
"""


def dead(pid):
    """Whether a process has ended (a zombie that nobody reaps has)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] in "ZX"
    except OSError:
        return True


def wait_for(condition, what):
    deadline = time.monotonic() + 120  # events of a second or less: a busy machine still tells
    while not condition():
        assert time.monotonic() < deadline, "still waiting for " + what
        time.sleep(0.02)


def start(tmp_path, script=DRIVER):
    """A driver running write_parallel of four 600 s tasks on two workers, once both have begun."""
    running, parts = tmp_path / "running", tmp_path / "parts"
    running.mkdir()
    parts.mkdir()
    # A session of its own, as under coreutils timeout: its group is the driver and its workers.
    driver = subprocess.Popen([sys.executable, "-c", script, str(tmp_path), str(running), str(parts)],
                              preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
                              start_new_session=True, stderr=subprocess.PIPE, text=True)
    wait_for(lambda: len(os.listdir(running)) == 2, "two tasks running")
    return driver, [int(name.split("-")[0]) for name in os.listdir(running)], parts


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
def test_a_signal_again_during_the_clean_up_is_held_and_the_driver_ends_by_it(tmp_path, signum):
    driver, workers, parts = start(tmp_path)
    try:
        # coreutils timeout: the signal to the driver, then to its whole group (workers and driver again).
        driver.send_signal(signum)
        os.killpg(driver.pid, signum)
        os.killpg(driver.pid, signum)
        _, errors = driver.communicate()
        assert driver.returncode == -signum, errors
        assert "carvelle._parallel." not in errors and "_Stopped" not in errors  # no private class
        assert ("Traceback" in errors) == (signum == signal.SIGINT)  # KeyboardInterrupt's own only
        assert os.listdir(parts) == []
        wait_for(lambda: all(map(dead, workers)), "the workers' end")
    finally:
        driver.kill()
        for pid in workers:
            if not dead(pid):
                os.kill(pid, signal.SIGKILL)


# A signal that lands in the clean-up itself, at its start: held until the parts are gone.
SIGNALLED_CLEAN_UP = """
import os, signal, sys, carvelle
from carvelle import _parallel
from layout_tasks import tile
close = _parallel._Run.close
def signalled(run):
    os.kill(os.getpid(), signal.SIGTERM)
    close(run)
_parallel._Run.close = signalled
carvelle.write_parallel(sys.argv[1] + "/chip.gds", [carvelle.Task(tile, 0)], workers=1, parts_dir=sys.argv[3])
"""


def test_a_signal_in_the_clean_up_waits_for_its_end(tmp_path):
    parts = tmp_path / "parts"
    parts.mkdir()
    driver = subprocess.run([sys.executable, "-c", SIGNALLED_CLEAN_UP, str(tmp_path), "", str(parts)],
                            capture_output=True, text=True)
    assert driver.returncode == -signal.SIGTERM, driver.stderr
    assert "Traceback" not in driver.stderr and os.listdir(parts) == []


def test_a_driver_killed_takes_its_workers_along_and_the_next_call_removes_its_parts(tmp_path):
    driver, workers, parts = start(tmp_path)
    try:
        driver.kill()
        driver.wait()
        wait_for(lambda: all(map(dead, workers)), "the workers' end")  # tasks of 600 s: never, unless killed
        assert len(os.listdir(parts)) == 1
        carvelle.write_parallel(str(tmp_path / "chip.gds"), [carvelle.Task(tile, 0)], workers=1,
                                parts_dir=str(parts))
        assert os.listdir(parts) == []
    finally:
        for pid in workers:
            if not dead(pid):
                os.kill(pid, signal.SIGKILL)


def test_a_folder_of_a_live_driver_or_of_another_host_is_left_alone(tmp_path):
    own = carvelle._parallel._owner()
    for name, owner in (("alive", "%d %s" % (os.getppid(), own)), ("elsewhere", "999999 other-host " + own)):
        (tmp_path / ("carvelle-parts-" + name)).mkdir()
        (tmp_path / ("carvelle-parts-" + name) / "carvelle-parts-folder").write_text(owner)
    carvelle.write_parallel(str(tmp_path / "chip.gds"), [carvelle.Task(tile, 0)], workers=1)
    assert sorted(os.listdir(tmp_path)) == ["carvelle-parts-alive", "carvelle-parts-elsewhere", "chip.gds"]


CALLER_POOL = """
import sys, carvelle
from concurrent.futures import ProcessPoolExecutor
from layout_tasks import nap
with ProcessPoolExecutor(2) as pool:
    carvelle.write_parallel(sys.argv[1] + "/chip.gds", [carvelle.Task(nap, 600, sys.argv[2])] * 4, executor=pool,
                            parts_dir=sys.argv[3])
"""


def test_a_pool_of_the_callers_is_waited_for_after_a_failure_and_not_after_sigterm(tmp_path):
    running = tmp_path / "running"
    running.mkdir()
    with ProcessPoolExecutor(2) as pool:
        work = [carvelle.Task(fail)] + [carvelle.Task(nap, 0.2, str(running))] * 6
        with pytest.raises(carvelle.TaskError, match=r"fail\(\) \(1 of 7\)"):
            carvelle.write_parallel(str(tmp_path / "chip.gds"), work, executor=pool, parts_dir=str(tmp_path))
        assert os.listdir(running) == []  # none of the call's tasks runs after it
        # The pool is the caller's still: neither shut down nor broken.
        carvelle.write_parallel(str(tmp_path / "chip.gds"), [carvelle.Task(tile, 0)], executor=pool)
        assert pool.submit(len, "ab").result() == 2
    # SIGTERM ends the call at once, 600 s tasks running or not; the driver ends by it.
    (tmp_path / "term").mkdir()
    driver, workers, parts = start(tmp_path / "term", CALLER_POOL)
    try:
        driver.send_signal(signal.SIGTERM)
        assert driver.wait() == -signal.SIGTERM
        os.killpg(driver.pid, signal.SIGKILL)  # the workers, the caller's, hold the driver's stderr open
        assert "stopped by SIGTERM while task nap(600, " in driver.stderr.read()
        assert os.listdir(parts) == []
    finally:
        driver.kill()
        for pid in workers:
            if not dead(pid):
                os.kill(pid, signal.SIGKILL)


STAND_IN = """#!%s
# Stands in for carvelle-merge: makes its temporary, says it is ready, and on
# SIGINT or SIGTERM removes the temporary and ends by the signal.
import os, signal, sys
temporary = sys.argv[3] + ".merging-stand-in"
def clean(signum, frame):
    os.remove(temporary)
    signal.signal(signum, signal.SIG_DFL)
    signal.raise_signal(signum)
signal.signal(signal.SIGINT, clean)
signal.signal(signal.SIGTERM, clean)
open(temporary, "w").close()
open(sys.argv[3] + ".ready", "w").write(str(os.getpid()))
while True:
    signal.pause()
"""

MERGER = """
import sys
sys.modules["carvelle._compiled_merge"] = None
import carvelle
carvelle.merge(sys.argv[1] + "/out.gds", [sys.argv[1] + "/a.gds"])
"""


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT])
def test_the_merge_program_gets_the_signal_and_is_waited_for(tmp_path, signum):
    program = tmp_path / "bin" / "carvelle-merge"
    program.parent.mkdir()
    program.write_text(STAND_IN % sys.executable)
    program.chmod(0o755)
    env = dict(os.environ, PATH=str(program.parent))
    merger = subprocess.Popen([sys.executable, "-c", MERGER, str(tmp_path)], env=env,
                              preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    ready = tmp_path / "out.gds.ready"
    wait_for(lambda: ready.exists() and ready.read_text(), "the program's start")
    pid = int(ready.read_text())
    try:
        merger.send_signal(signum)  # to the Python process alone: it must pass it on
        assert merger.wait() == -signum
        assert dead(pid)  # ended, and reaped by the merger that waited for it
        assert sorted(os.listdir(tmp_path)) == ["bin", "out.gds.ready"]  # the temporary removed
    finally:
        merger.kill()
        if not dead(pid):
            os.kill(pid, signal.SIGKILL)
