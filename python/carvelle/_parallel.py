# SPDX-License-Identifier: MIT
"""carvelle.write_parallel: one library from tasks run on an executor.

Each task writes its structures into a part library of its own, on any
executor with submit() in the concurrent.futures sense (a
ProcessPoolExecutor by default; a Dask distributed.Client works as it is);
the parts are then merged, in task order, into the output and removed.
"""

import os
import queue
import secrets
import shutil
import signal
import socket
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


class _Terminated(BaseException):
    """SIGTERM during a call, raised so that the call cleans up."""


def _on_sigterm(owner: int) -> Callable[[int, Any], None]:
    def handler(signum: int, frame: Any) -> None:
        if os.getpid() != owner:  # a forked pool worker: die as it would have
            signal.signal(signum, signal.SIG_DFL)
            os.kill(os.getpid(), signum)
            return
        raise _Terminated()
    return handler


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

    def failed(self, index: int, error: BaseException) -> TaskError:
        def named(i: int) -> str:
            return "task %s (%d of %d)" % (self.jobs[i].name, i + 1, len(self.jobs))

        why = "%s: %s" % (type(error).__name__, error)
        if isinstance(error, BrokenExecutor):
            # Every task not done fails with the pool; those that had reserved a part were running.
            running = sorted(set(self.started()) - {i for i, f in enumerate(self.futures) if _succeeded(f)})
            indices = running or [index]
            return TaskError("a worker died while it ran %s: %s" % (", ".join(map(named, indices)), why),
                             self.jobs, indices)
        return TaskError("%s failed: %s" % (named(index), why), self.jobs, [index])

    def started(self) -> List[int]:
        try:
            names = os.listdir(self.scratch)
        except OSError:
            return []
        return [int(name.split("-")[1]) for name in names if name.startswith("part-")]

    def stop(self) -> None:
        """Cancels every task not done, in one call where the executor has
        one (Dask: one message, where a cancel per future costs a round
        trip); kills an own pool's workers, or waits for the tasks running
        on the caller's pool, so that none runs after the call."""
        outstanding = [future for future in self.futures if not future.done()]
        cancel_all = getattr(self.executor, "cancel", None)
        if callable(cancel_all):
            cancel_all(outstanding)
            return  # a cluster's running tasks find the folder gone
        if self.owned and _kill_workers(self.executor):
            return  # the broken pool fails the tasks left (a cancelled one would trip its manager thread)
        for future in outstanding:
            future.cancel()
        for future in outstanding:
            if not future.cancelled():
                try:
                    future.result()
                except BaseException:  # noqa: B036 - only waited for
                    pass

    def close(self) -> None:
        if self.owned:
            self.executor.shutdown(wait=True)
        try:
            os.remove(os.path.join(self.scratch, _MARKER))  # first: no task begins a part after this
        except OSError:
            pass
        for _ in range(20):  # a cluster's task still running may add a part while the folder goes
            shutil.rmtree(self.scratch, ignore_errors=True)
            if not os.path.exists(self.scratch):
                return
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
        the parts stay plain, and the merge compresses.
    tasks : iterable of Task or callable
        carvelle.Task objects, or functions taking the part Library.
    executor : optional
        Anything with ``submit(function, *args)`` returning a future with
        result(), cancel() and add_done_callback(): a ProcessPoolExecutor of
        `workers` processes by default (shut down at the end), a Dask
        distributed.Client, ...
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
    tasks; either way the other tasks are cancelled, no output is written
    and the parts are removed. So does SIGTERM (where its handler is the
    default) or Ctrl-C, which then end the process as they would have; the
    default pool's workers are stopped at once. Structures referenced but
    defined by no task are reported with UndefinedStructureWarning, as
    Library.close does."""
    jobs = [job if isinstance(job, Task) else Task(job) for job in tasks]
    folder = os.path.abspath(os.fsdecode(parts_dir) if parts_dir is not None else os.path.dirname(
        os.path.abspath(os.fsdecode(path))))
    owned = executor is None
    if owned:  # first: a refused worker count leaves no folder behind (the pool starts no process yet)
        from concurrent.futures import ProcessPoolExecutor
        executor = ProcessPoolExecutor(max_workers=workers)
    scratch = tempfile.mkdtemp(prefix="carvelle-parts-", dir=folder)
    with open(os.path.join(scratch, _MARKER), "wb"):
        pass
    run = _Run(executor, owned, scratch, jobs)
    catch_term = (threading.current_thread() is threading.main_thread()
                  and signal.getsignal(signal.SIGTERM) == signal.SIG_DFL)
    if catch_term:
        signal.signal(signal.SIGTERM, _on_sigterm(os.getpid()))
    terminated = False
    try:
        started = time.perf_counter()
        run.probe()
        results = run.generate(library_options)
        generated = time.perf_counter()
        parts = [part for part, _, _ in results]
        try:
            result = merge(path, parts)
        except MergeError as error:
            raise _named(error, parts, jobs) from None
        merged = time.perf_counter()
    except BaseException as error:
        terminated = isinstance(error, _Terminated)
        run.stop()
        raise
    finally:
        run.close()
        if catch_term:
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
        if terminated:
            os.kill(os.getpid(), signal.SIGTERM)
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
