# SPDX-License-Identifier: MIT
"""carvelle.write_parallel on mpi4py.futures under mpiexec (Open MPI): in the
form that takes its workers among the ranks started (python -m
mpi4py.futures, as under Slurm's srun) and with workers spawned by
MPIPoolExecutor, the file equals the one a Library writes at once; a task
that fails is named; a rank that dies is reported, with the task it ran,
and the job ends instead of hanging. No output and no parts are left by a
failure."""

import os
import shutil
import signal
import subprocess
import sys

import pytest

from test_parallel import at_once, records, TILES

pytest.importorskip("mpi4py")
if shutil.which("mpiexec") is None:
    pytest.skip("no mpiexec", allow_module_level=True)

DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mpi_driver.py")


def mpiexec(form, out, parts, kind):
    """mpiexec's exit status and output for one run of the driver."""
    # Open MPI refuses root without its consent, and more ranks than cores (2 here) without oversubscription.
    # An aborted job gets its SIGTERM after 3 s and its SIGKILL 3 s later (not 1 and 1): time enough, on a
    # busy machine, for the driver to remove the parts.
    command = ["mpiexec", "--oversubscribe", "--mca", "odls_base_sigkill_timeout", "3"]
    if os.geteuid() == 0:
        command.append("--allow-run-as-root")
    if form == "world":
        command += ["-n", "3", sys.executable, "-m", "mpi4py.futures", DRIVER]
    else:
        command += ["-n", "1", sys.executable, DRIVER]
    with subprocess.Popen(command + [out, parts, kind, form], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, start_new_session=True) as job:
        try:
            output, _ = job.communicate(timeout=300)  # a run takes 2 s: a hang, not a busy machine
        except subprocess.TimeoutExpired:
            os.killpg(job.pid, signal.SIGKILL)
            raise
    return job.returncode, output


@pytest.mark.parametrize("form", ["world", "spawn"])
def test_mpi_runs_write_the_library_written_at_once_and_name_a_failure(tmp_path, form):
    out, parts = str(tmp_path / "chip.gds"), tmp_path / "parts"
    parts.mkdir()
    expected = at_once(out)
    status, output = mpiexec(form, out, str(parts), "same")
    assert status == 0, output
    assert records(open(out, "rb").read()) == expected
    assert "written: %d bytes, %d structures" % (os.path.getsize(out), TILES + 1) in output
    os.remove(out)

    status, output = mpiexec(form, out, str(parts), "fail")
    assert status != 0
    assert "TaskError: task fail() (3 of 8) failed: ValueError: no more shapes" in output
    assert not os.path.exists(out) and os.listdir(parts) == []

    # The job is aborted: mpiexec says which rank died, the driver which task it ran, and removes the parts.
    status, output = mpiexec(form, out, str(parts), "die")
    assert status != 0
    assert "exited on signal 9 (Killed)" in output
    assert "carvelle.write_parallel: stopped by SIGTERM while task die() (3 of 8)" in output
    assert not os.path.exists(out) and os.listdir(parts) == []
