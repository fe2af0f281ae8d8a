# SPDX-License-Identifier: MIT
"""carvelle.write_parallel: one library from tasks run on an executor.

Each task writes its structures into a part library of its own, on any
executor with submit() in the concurrent.futures sense (a
ProcessPoolExecutor by default; a Dask distributed.Client works as it is);
the parts are then merged, in task order, into the output and removed.
"""

import os
import shutil
import tempfile
import time
import warnings
from concurrent.futures import BrokenExecutor, CancelledError
from typing import Any, Callable, Dict, Iterable, List, NamedTuple, Optional, Sequence, Set, Tuple, Union

from ._errors import UndefinedStructureWarning
from ._library import Library, PathName
from ._merge import merge


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

    A process pool cannot tell which task killed its worker: all the tasks
    it was running fail with BrokenProcessPool, and all are named."""

    def __init__(self, jobs: Sequence[Task], failures: Sequence[Tuple[int, BaseException]]) -> None:
        named = [f for f in failures if not isinstance(f[1], (CancelledError, BrokenExecutor))]
        if not named:
            named = [f for f in failures if isinstance(f[1], BrokenExecutor)]
        index, error = named[0]
        tasks = ", ".join("%s (%d of %d)" % (jobs[i].name, i + 1, len(jobs)) for i, _ in named)
        what = "task %s failed" % tasks if len(named) == 1 else "a worker died while it ran the tasks %s" % tasks
        super().__init__("%s: %s: %s" % (what, type(error).__name__, error))
        self.task = jobs[index]
        self.index = index
        self.tasks = [jobs[i] for i, _ in named]


class ParallelResult(NamedTuple):
    bytes: int                 # size of the output
    structures: int            # structures in it
    tasks: int
    generate_seconds: float    # from the first submit to the last part written
    merge_seconds: float


def _write_part(part: str, options: Dict[str, Any], function: Callable[..., Any], args: Tuple[Any, ...],
                kwargs: Dict[str, Any]) -> Tuple[Set[bytes], Set[bytes]]:
    """Runs on a worker: one task into its part; the names it defines and references."""
    with warnings.catch_warnings():
        # A part refers to structures of other parts; the whole is checked after the merge.
        warnings.simplefilter("ignore", UndefinedStructureWarning)
        lib = Library(part, **options)
        with lib:
            function(lib, *args, **kwargs)
    return set(lib._writer.defined), set(lib._writer.referenced)


def write_parallel(path: PathName, tasks: Iterable[Union[Task, Callable[..., Any]]], *, executor: Any = None,
                   workers: Optional[int] = None, parts_dir: Optional[PathName] = None,
                   **library_options: Any) -> ParallelResult:
    """Writes the library path from tasks run on executor, each into a part
    library of its own, then merges the parts in task order and removes them.

    tasks: carvelle.Task objects, or functions taking the part Library.
    executor: anything with submit(function, *args) returning a future with
    result() and cancel(): a ProcessPoolExecutor of `workers` processes by
    default (shut down at the end), a Dask distributed.Client, ...
    parts_dir: where the parts go (a folder of their own is made and
    removed inside it); the output's folder by default. On a cluster it must
    be a folder every worker and this process can reach.
    library_options: the units, as Library takes them (unit=, precision=,
    or user_unit=, meter_unit=); every part gets the same.

    A failing task (or a worker that dies) raises TaskError naming the task,
    a refused merge MergeError; either way no output is written and the
    parts are removed. Structures referenced but defined by no task are
    reported with UndefinedStructureWarning, as Library.close does."""
    jobs = [job if isinstance(job, Task) else Task(job) for job in tasks]
    folder = os.fsdecode(parts_dir) if parts_dir is not None else os.path.dirname(os.path.abspath(os.fsdecode(path)))
    scratch = tempfile.mkdtemp(prefix="carvelle-parts-", dir=folder)
    owned = executor is None
    if owned:
        from concurrent.futures import ProcessPoolExecutor
        executor = ProcessPoolExecutor(max_workers=workers)
    futures: List[Any] = []
    try:
        started = time.perf_counter()
        parts = [os.path.join(scratch, "part-%06d.gds" % i) for i in range(len(jobs))]
        futures = [executor.submit(_write_part, part, library_options, job.function, job.args, job.kwargs)
                   for part, job in zip(parts, jobs)]
        names = _results(futures, jobs)
        generated = time.perf_counter()
        result = merge(path, parts)
        merged = time.perf_counter()
    finally:
        for future in futures:
            future.cancel()  # an interrupted call leaves no task to begin later
        if owned:
            executor.shutdown(wait=True)
        shutil.rmtree(scratch, ignore_errors=True)
    defined: Set[bytes] = set()
    referenced: Set[bytes] = set()
    for these, those in names:
        defined |= these
        referenced |= those
    missing = sorted(name.decode("utf-8", "surrogateescape") for name in referenced - defined)
    if missing:
        warnings.warn("%s: structures referenced but never defined: %s" % (os.fsdecode(path), ", ".join(missing)),
                      UndefinedStructureWarning, stacklevel=2)
    return ParallelResult(result.bytes, result.structures, len(jobs), generated - started, merged - generated)


def _results(futures: Sequence[Any], jobs: List[Task]) -> List[Tuple[Set[bytes], Set[bytes]]]:
    """Every task's names, in task order. The first failure cancels the tasks
    not begun and waits for those running, so that none writes a part after
    the parts are removed; then raises TaskError."""
    results = []
    failures: List[Tuple[int, BaseException]] = []
    for index, future in enumerate(futures):
        try:
            results.append(future.result())
        except Exception as error:
            failures.append((index, error))
            break
    if not failures:
        return results
    for future in futures[failures[0][0] + 1:]:
        future.cancel()
    for index in range(failures[0][0] + 1, len(futures)):
        try:
            futures[index].result()
        except (Exception, CancelledError) as error:
            failures.append((index, error))
    raise TaskError(jobs, failures) from failures[0][1]
