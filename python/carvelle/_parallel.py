# SPDX-License-Identifier: MIT
"""carvelle.write_parallel: one library from tasks run on an executor.

Each task writes its structures into a part library of its own, on any
executor with submit() in the concurrent.futures sense (a
ProcessPoolExecutor by default; a Dask distributed.Client works as it is);
the parts are then merged, in task order, into the output and removed.
"""

import ctypes
import multiprocessing
import os
import queue
import secrets
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time
import warnings
from concurrent.futures import BrokenExecutor
from typing import Any, Callable, Dict, Iterable, List, NamedTuple, Optional, Sequence, Set, Tuple, Union

from ._errors import UndefinedStructureWarning
from ._library import Library, PathName
from ._merge import MergeError, merge

# In the parts folder from its making to its removal: a worker that cannot
# see it does not share the folder with the caller.
_MARKER = "carvelle-parts-folder"
# The marker's name while the caller removes the folder.
_CLOSING = "carvelle-parts-closing"


class Task:
    """function(library, *args, **kwargs), run on a worker: it writes its
    structures into the part library it is given. function must be
    picklable (a module-level function) for a process pool or a cluster."""

    def __init__(self, function: Callable[..., Any], *args: Any, name: Optional[str] = None, **kwargs: Any) -> None:
        self.function = function
        self.args = args
        self.kwargs = kwargs
        if name is None:
            shown = ", ".join([repr(a) for a in args] + ["%s=%r" % item for item in kwargs.items()])
            name = "%s(%s)" % (getattr(function, "__name__", "task"), shown if len(shown) <= 60 else shown[:57] + "...")
        self.name = name

    def __repr__(self) -> str:
        return "<carvelle.Task %s>" % self.name


class TaskError(RuntimeError):
    """A task failed, or a worker died under it: no output was written and
    the parts were removed. `task` is the task named (its index in `index`),
    `tasks` every task named; the task's own exception is __cause__.

    A process pool cannot tell which task killed its worker: the tasks that
    were running when it died are all named."""

    def __init__(self, message: str, jobs: Sequence[Task], indices: Sequence[int]) -> None:
        super().__init__(message)
        self.index = indices[0]
        self.task = jobs[self.index]
        self.tasks = [jobs[i] for i in indices]


class ParallelResult(NamedTuple):
    bytes: int                 # size of the output
    structures: int            # structures in it
    tasks: int
    generate_seconds: float    # from the first submit to the last part written
    merge_seconds: float


def _token() -> str:
    return secrets.token_hex(8)


def _reserve(scratch: str, index: int) -> str:
    """A part name for this attempt alone. A cluster may run a task twice
    (a worker it took for lost still runs), and two attempts writing one
    file would leave a part mixing both."""
    while True:
        part = os.path.join(scratch, "part-%06d-%s.gds" % (index, _token()))
        try:
            os.close(os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
            return part
        except FileExistsError:
            continue


def _sees(scratch: str) -> bool:
    """Runs on a worker: whether it sees the caller's parts folder."""
    return os.path.exists(os.path.join(scratch, _MARKER))


def _write_part(scratch: str, index: int, options: Dict[str, Any], function: Callable[..., Any],
                args: Tuple[Any, ...], kwargs: Dict[str, Any]) -> Tuple[str, Set[bytes], Set[bytes]]:
    """Runs on a worker: one attempt of a task into a part of its own; the
    part's name and the names it defines and references."""
    if not _sees(scratch):
        # Removed by the caller (the call failed or was interrupted), or not shared with this host.
        raise FileNotFoundError("the parts folder %s is gone or cannot be seen from %s"
                                % (scratch, socket.gethostname()))
    part = _reserve(scratch, index)
    with warnings.catch_warnings():
        # A part refers to structures of other parts; the whole is checked after the merge.
        warnings.simplefilter("ignore", UndefinedStructureWarning)
        lib = Library(part, **options)
        with lib:
            function(lib, *args, **kwargs)
    return part, set(lib._writer.defined), set(lib._writer.referenced)


# The signals that end a call as they would end the process.
_STOPPING = tuple(getattr(signal, name) for name in ("SIGINT", "SIGTERM", "SIGHUP") if hasattr(signal, name))


class _Stopped(BaseException):
    """A signal whose handler was the default, raised so that the call
    cleans up before the process ends by that signal."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


class _Signals:
    """SIGINT, SIGTERM and SIGHUP while one call runs (on the main thread,
    the only one that runs handlers). The first one ends the call's body: the
    handler the process had runs (KeyboardInterrupt, or the caller's own), or,
    where that is the default, _Stopped is raised. Any later one is held
    while the call cleans up, then raised again under the handlers the
    process had: a second Ctrl-C, or coreutils timeout's SIGTERM to the
    caller and then to its group, cannot cut the clean-up in half."""

    def __init__(self) -> None:
        self.owner = os.getpid()
        self.previous: Dict[int, Any] = {}
        self.stopped: Optional[int] = None  # the signal that raised _Stopped
        self.held: List[int] = []
        self.holding = False

    def install(self) -> None:
        if threading.current_thread() is not threading.main_thread():
            return
        for signum in _STOPPING:
            previous = signal.getsignal(signum)
            if previous is None or previous == signal.SIG_IGN:  # set outside Python, or ignored: left alone
                continue
            self.previous[signum] = previous
            signal.signal(signum, self.handle)

    def handle(self, signum: int, frame: Any) -> None:
        previous = self.previous.get(signum, signal.SIG_DFL)
        if os.getpid() != self.owner:  # a pool worker forked during the call: as it would have been
            signal.signal(signum, previous)
            if callable(previous):
                previous(signum, frame)
            else:
                signal.raise_signal(signum)
            return
        if self.holding:
            self.held.append(signum)
            return
        self.holding = True  # from here on, until the body goes on
        if not callable(previous):
            self.stopped = signum
            raise _Stopped(signum)
        previous(signum, frame)  # raises KeyboardInterrupt, or whatever the caller's handler raises
        self.holding = False  # the caller's handler let the call go on

    def hold(self) -> None:
        self.holding = True

    def release(self, error: Optional[BaseException]) -> None:
        """Puts the process's handlers back, then raises what was held:
        the process ends by the signal that stopped the call."""
        for signum, previous in self.previous.items():
            signal.signal(signum, previous)
        self.previous = {}
        again = ([] if self.stopped is None else [self.stopped]) + self.held
        for signum in dict.fromkeys(again):
            if not (signum == signal.SIGINT and isinstance(error, KeyboardInterrupt)):  # already on its way
                signal.raise_signal(signum)


def _end_with_driver(driver: int) -> None:
    """Runs first in each worker of the default pool: the worker ends when
    the process that started it dies, even by SIGKILL, rather than run its
    task for nobody. Linux sends it a signal when its parent ends; elsewhere
    a thread waits for the parent's end."""
    if sys.platform.startswith("linux"):
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            set_parent_death_signal = 1  # PR_SET_PDEATHSIG
            if libc.prctl(set_parent_death_signal, ctypes.c_ulong(signal.SIGKILL), ctypes.c_ulong(0),
                          ctypes.c_ulong(0), ctypes.c_ulong(0)) == 0:
                if not _alive(driver):  # died before the signal was asked for
                    os._exit(1)
                return
        except (OSError, AttributeError):
            pass
    parent = multiprocessing.parent_process()
    if parent is not None:
        threading.Thread(target=_exit_after, args=(parent,), name="carvelle-driver-watch", daemon=True).start()


def _exit_after(parent: Any) -> None:
    parent.join()
    os._exit(1)


def _alive(pid: int) -> bool:
    if sys.platform == "win32":
        return True  # os.kill would end the process; a folder is left rather than risked
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except OSError:
        pass  # another user's: alive
    return True


def _owner() -> str:
    """This host and, on Linux, its process-id namespace: two containers
    may share a host name and a folder, not their process ids."""
    try:
        space = os.readlink("/proc/self/ns/pid")
    except OSError:
        space = "-"
    return "%s %s" % (socket.gethostname(), space)


def _remove_stale(folder: str) -> None:
    """Removes the parts folders that calls of dead processes on this host
    left in folder (a driver killed by SIGKILL cannot remove its own)."""
    here = _owner()
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        if not name.startswith("carvelle-parts-"):
            continue
        for marker in (_MARKER, _CLOSING):
            try:
                with open(os.path.join(folder, name, marker), encoding="utf-8") as owned_by:
                    pid, _, owner = owned_by.read().partition(" ")
                break
            except OSError:
                continue
        else:
            continue  # no marker yet: a folder its call is making
        try:
            if owner != here or _alive(int(pid)):
                continue
        except ValueError:
            continue
        shutil.rmtree(os.path.join(folder, name), ignore_errors=True)


class _Run:
    """One call's futures, pool and parts folder."""

    def __init__(self, executor: Any, owned: bool, scratch: str, jobs: List[Task]) -> None:
        self.executor = executor
        self.owned = owned
        self.scratch = scratch
        self.jobs = jobs
        self.futures: List[Any] = []

    def probe(self) -> None:
        if not self.executor.submit(_sees, self.scratch).result():
            raise FileNotFoundError("write_parallel: a worker cannot see the parts folder %s: give parts_dir a "
                                    "folder that every worker and this process share" % self.scratch)

    def generate(self, options: Dict[str, Any]) -> List[Tuple[str, Set[bytes], Set[bytes]]]:
        """Every task's result, in task order, or TaskError at the first failure."""
        done: "queue.Queue[int]" = queue.Queue()
        for index, job in enumerate(self.jobs):
            future = self.executor.submit(_write_part, self.scratch, index, options, job.function, job.args,
                                          job.kwargs)
            future.add_done_callback(lambda _, index=index: done.put(index))
            self.futures.append(future)
        results: List[Any] = [None] * len(self.jobs)
        for _ in self.jobs:
            while True:
                try:
                    index = done.get(timeout=0.5)  # a timeout, so that Ctrl-C gets through on Windows too
                    break
                except queue.Empty:
                    continue
            try:
                results[index] = self.futures[index].result()
            except Exception as error:
                raise self.failed(index, error) from error
        return results

    def named(self, indices: Sequence[int]) -> str:
        return ", ".join("task %s (%d of %d)" % (self.jobs[i].name, i + 1, len(self.jobs)) for i in indices)

    def failed(self, index: int, error: BaseException) -> TaskError:
        why = "%s: %s" % (type(error).__name__, error)
        if isinstance(error, BrokenExecutor):
            # Every task not done fails with the pool; those that had reserved a part were running.
            indices = self.running() or [index]
            return TaskError("a worker died while it ran %s: %s" % (self.named(indices), why), self.jobs, indices)
        return TaskError("%s failed: %s" % (self.named([index]), why), self.jobs, [index])

    def started(self) -> List[int]:
        try:
            names = os.listdir(self.scratch)
        except OSError:
            return []
        return [int(name.split("-")[1]) for name in names if name.startswith("part-")]

    def running(self) -> List[int]:
        """The tasks that had begun a part and not ended."""
        return sorted(set(self.started()) - {i for i, f in enumerate(self.futures) if _succeeded(f)})

    def stop(self, signals: _Signals, wait: bool) -> None:
        """Cancels every task not done, in one call where the executor has
        one (Dask: one message, where a cancel per future costs a round
        trip); kills an own pool's workers, or, when wait is true, waits for
        the tasks running on the caller's pool until they end or a signal
        comes, so that none runs after the call."""
        outstanding = [future for future in self.futures if not future.done()]
        cancel_all = getattr(self.executor, "cancel", None)
        if callable(cancel_all):
            cancel_all(outstanding)
            return  # a cluster's running tasks find the folder gone
        if self.owned and _kill_workers(self.executor):
            return  # the broken pool fails the tasks left (a cancelled one would trip its manager thread)
        for future in outstanding:
            future.cancel()
        if not wait:
            return  # stopped by a signal: a task running finds the folder gone
        left = [future for future in outstanding if not future.cancelled()]
        ended = threading.Semaphore(0)
        for future in left:
            future.add_done_callback(lambda _: ended.release())
        for _ in left:
            while not ended.acquire(timeout=0.25):  # a timeout, so that a held signal is seen
                if signals.held:
                    return  # asked again: the process is to end, not to wait

    def close(self) -> None:
        if self.owned:
            self.executor.shutdown(wait=True)
        # The marker goes first, so that no task begins a part after this, but
        # its owner stays to the last file: a folder that a SIGKILL cut short
        # is still known as this process's by the next call's _remove_stale.
        closing = os.path.join(self.scratch, _CLOSING)
        try:
            os.replace(os.path.join(self.scratch, _MARKER), closing)
        except OSError:
            pass
        for _ in range(20):  # a cluster's task still running may add a part while the folder goes
            try:
                names = os.listdir(self.scratch)
            except FileNotFoundError:
                return
            except OSError:
                names = []
            for name in sorted(names, key=lambda name: name == _CLOSING):
                try:
                    os.remove(os.path.join(self.scratch, name))
                except OSError:
                    pass
            try:
                os.rmdir(self.scratch)
                return
            except FileNotFoundError:
                return
            except OSError:
                time.sleep(0.05)


def _succeeded(future: Any) -> bool:
    return bool(future.done() and not future.cancelled() and future.exception() is None)


def _kill_workers(pool: Any) -> bool:
    """Ends a process pool's workers now, not after the tasks they run."""
    kill = getattr(pool, "kill_workers", None)  # Python 3.14
    if callable(kill):
        kill()
        return True
    processes = getattr(pool, "_processes", None)
    if not isinstance(processes, dict):
        return False
    for process in list(processes.values()):
        try:
            process.kill()
        except (OSError, ValueError, AttributeError):
            pass
    return True


def write_parallel(path: PathName, tasks: Iterable[Union[Task, Callable[..., Any]]], *, executor: Any = None,
                   workers: Optional[int] = None, parts_dir: Optional[PathName] = None,
                   **library_options: Any) -> ParallelResult:
    """Writes the library path from tasks run on executor, each into a part
    library of its own, then merges the parts in task order and removes them.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        The library to write. A path ending in .gz gives a gzip library:
        the parts stay plain, and the merge compresses. A path ending in
        .oas gives an OASIS file: the parts stay GDSII, and the merge
        converts them.
    tasks : iterable of Task or callable
        carvelle.Task objects, or functions taking the part Library.
    executor : optional
        Anything with ``submit(function, *args)`` returning a future with
        result(), cancel() and add_done_callback(): a ProcessPoolExecutor of
        `workers` processes by default (shut down at the end), a Dask
        distributed.Client, an mpi4py.futures.MPIPoolExecutor, ...
    workers : int, optional
        The default pool's processes (os.cpu_count() when None).
    parts_dir : path, optional
        Where the parts go (a folder of their own is made and removed inside
        it); the output's folder by default. On a cluster it must be a
        folder every worker and this process can reach: a worker that
        cannot see it makes the call fail at its start (FileNotFoundError).
    library_options : keyword arguments
        The units, as Library takes them (unit=, precision=, or user_unit=,
        meter_unit=); every part gets the same.

    Returns
    -------
    ParallelResult
        The output's size and structure count, the tasks run, and the
        seconds spent generating and merging.

    Raises
    ------
    TaskError
        A task failed or its worker died (the task is named).
    MergeError
        The merge refused the parts (the tasks are named).

    Examples
    --------
    >>> def tile(lib, index):
    ...     with lib.structure("TILE%d" % index) as s:
    ...         s.box(0, 0, 1000, 1000, layer=1)
    >>> carvelle.write_parallel("chip.gds", [carvelle.Task(tile, i) for i in range(4)], workers=2)

    Notes
    -----

    Each attempt at a task writes a part of its own, and only the part of
    the attempt whose result arrives is merged: a task that a cluster runs
    twice cannot mix two parts. A failing task (or a worker that dies)
    raises TaskError naming the task, a refused merge MergeError naming the
    tasks; either way the other tasks are cancelled, those running on a
    pool of the caller's are waited for, no output is written and the parts
    are removed. So does Ctrl-C, or SIGTERM or SIGHUP where its handler is
    the default, which then end the process as they would have (SIGTERM and
    SIGHUP without waiting for the caller's pool, and naming the tasks cut
    short on standard error); a signal during the clean-up is held until it
    ends. The default pool's workers are stopped at once, and end with the
    process that started them even when it is killed; the parts folder of
    a killed call is removed by the next call into the same folder on the
    same host. An mpi4py.futures MPIPoolExecutor works as it is. Structures
    referenced but defined by no task are reported with
    UndefinedStructureWarning, as Library.close does."""
    jobs = [job if isinstance(job, Task) else Task(job) for job in tasks]
    folder = os.path.abspath(os.fsdecode(parts_dir) if parts_dir is not None else os.path.dirname(
        os.path.abspath(os.fsdecode(path))))
    _remove_stale(folder)
    owned = executor is None
    if owned:  # first: a refused worker count leaves no folder behind (the pool starts no process yet)
        from concurrent.futures import ProcessPoolExecutor
        executor = ProcessPoolExecutor(max_workers=workers, initializer=_end_with_driver, initargs=(os.getpid(),))
    signals = _Signals()
    run: Optional[_Run] = None
    error: Optional[BaseException] = None
    report = ""
    try:
        signals.install()
        run = _Run(executor, owned, tempfile.mkdtemp(prefix="carvelle-parts-", dir=folder), jobs)
        with open(os.path.join(run.scratch, _MARKER), "w", encoding="utf-8") as marker:
            marker.write("%d %s" % (os.getpid(), _owner()))  # whose folder, for _remove_stale
        started = time.perf_counter()
        run.probe()
        results = run.generate(library_options)
        generated = time.perf_counter()
        parts = [part for part, _, _ in results]
        try:
            result = merge(path, parts)
        except MergeError as refused:
            raise _named(refused, parts, jobs) from None
        merged = time.perf_counter()
    except BaseException as caught:
        error = caught
        signals.hold()
        if run is not None:
            if isinstance(caught, _Stopped):
                # The process ends by the signal: its log is the only place to say which tasks it cut short.
                running = run.running()
                report = "carvelle.write_parallel: stopped by %s%s; the parts were removed\n" % (
                    signal.Signals(caught.signum).name, " while %s ran" % run.named(running) if running else "")
            run.stop(signals, wait=not isinstance(caught, _Stopped))
        raise
    finally:
        signals.hold()  # from here the clean-up runs to its end, whatever comes
        if run is not None:
            run.close()
        elif owned:
            executor.shutdown(wait=True)
        if report:
            sys.stderr.write(report)
            sys.stderr.flush()
        signals.release(error)
    defined: Set[bytes] = set()
    referenced: Set[bytes] = set()
    for _, these, those in results:
        defined |= these
        referenced |= those
    missing = sorted(name.decode("utf-8", "surrogateescape") for name in referenced - defined)
    if missing:
        warnings.warn("%s: structures referenced but never defined: %s" % (os.fsdecode(path), ", ".join(missing)),
                      UndefinedStructureWarning, stacklevel=2)
    return ParallelResult(result.bytes, result.structures, len(jobs), generated - started, merged - generated)


def _named(error: MergeError, parts: Sequence[str], jobs: Sequence[Task]) -> MergeError:
    """The merge's refusal with each part named by its task: the parts are gone when the caller reads it."""
    message = error.message
    for index, part in enumerate(parts):
        task = "task %s (%d of %d)" % (jobs[index].name, index + 1, len(jobs))
        message = message.replace("part " + part, task).replace(part, task)
    return MergeError(error.failure, message)
