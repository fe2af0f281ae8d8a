# SPDX-License-Identifier: MIT
"""carvelle.merge: joins part libraries into one library, through the C++
merge of carvelle_merge.hpp (the compiled module carvelle._compiled_merge,
or the carvelle-merge tool carried by the package where that module is
missing)."""

import enum
import os
import shutil
import signal
import subprocess
import sys
import threading
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Tuple, Union

PathName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class MergeFailure(enum.IntEnum):
    """Why a merge did not complete (the numbers of carvelle::MergeFailure)."""
    NO_PARTS = 1
    OUTPUT_IS_PART = 2
    OPEN = 3
    NOT_A_LIBRARY = 4
    UNITS_DIFFER = 5
    DUPLICATE_STRUCTURE = 6
    WRITE = 7
    HEAD_DIFFERS = 8
    PART_CHANGED = 9
    INTERRUPTED = 10
    CYCLE = 11
    PART_REPEATED = 12
    NOT_IN_OASIS = 13


# carvelle-merge's exit status for each kind of refusal (its man page's table).
_EXIT_FAILURES: Dict[int, MergeFailure] = {10 + failure: failure for failure in MergeFailure}


class MergeError(Exception):
    """A merge that was refused or failed; no output file was left.

    `failure` is a MergeFailure, from the compiled module or from the exit
    status of the carvelle-merge program that runs in its place (None for a
    status that names no refusal, such as a signal's)."""

    def __init__(self, failure: Optional[MergeFailure], message: str) -> None:
        super().__init__(message)
        self.failure = failure
        self.message = message


class MergeResult(NamedTuple):
    bytes: int        # size of the output
    structures: int   # structures in it


def _tool() -> str:
    """The carvelle-merge program: beside the package's modules, else on PATH."""
    name = "carvelle-merge.exe" if sys.platform == "win32" else "carvelle-merge"
    bundled = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    found = bundled if os.path.exists(bundled) else shutil.which(name)
    if found is None:
        raise MergeError(None, "neither the compiled module carvelle._compiled_merge nor the program %s is available"
                         % name)
    return found


def _run_tool(output: PathName, parts: Sequence[PathName]) -> Tuple[int, str, int, int]:
    """The compiled module's answer, from the carvelle-merge program."""
    if not parts:
        return int(MergeFailure.NO_PARTS), "no parts to merge", 0, 0  # the program would take it for a usage error
    command = [_tool(), "-v", "--", os.fsdecode(output)] + [os.fsdecode(p) for p in parts]
    forwarded = _Forwarded()
    try:
        # SIGINT and SIGTERM go on to the program, which then removes its
        # temporary output and ends: it is waited for, never killed, and
        # never left running for nobody.
        with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as program:
            forwarded.to(program)
            stdout, stderr = program.communicate()
    finally:
        forwarded.release()
    done = subprocess.CompletedProcess(command, program.returncode, stdout, stderr)
    if done.returncode != 0:
        message = done.stderr.strip()
        if message.startswith("carvelle-merge: "):
            message = message[len("carvelle-merge: "):]
        failure = _EXIT_FAILURES.get(done.returncode)
        return (-1 if failure is None else int(failure)), message, 0, 0
    counts = done.stdout.rsplit(":", 1)[-1].split()  # "OUT: BYTES bytes, STRUCTURES structures"
    return 0, "", int(counts[0]), int(counts[2])


class _Forwarded:
    """SIGINT and SIGTERM while the program runs (on the main thread, the
    only one that runs handlers): each is sent on to the program, then,
    once the program has ended, raised again in this process under the
    handlers it had."""

    def __init__(self) -> None:
        self.previous: Dict[int, Any] = {}
        self.received: List[int] = []
        self.program: Optional["subprocess.Popen[str]"] = None
        if threading.current_thread() is not threading.main_thread():
            return
        for signum in self.signals():
            previous = signal.getsignal(signum)
            if previous is not None and previous != signal.SIG_IGN:
                self.previous[signum] = previous
                signal.signal(signum, self.forward)

    def forward(self, signum: int, frame: Any) -> None:
        self.received.append(signum)
        if self.program is not None:
            self.program.send_signal(signum)

    def to(self, program: "subprocess.Popen[str]") -> None:
        self.program = program
        for signum in self.received:  # came while it started
            program.send_signal(signum)

    @staticmethod
    def signals() -> Tuple[int, ...]:
        # Windows sends a console's Ctrl-C to the program itself, and has no SIGINT to send it.
        return (signal.SIGTERM,) if sys.platform == "win32" else (signal.SIGINT, signal.SIGTERM)

    def release(self) -> None:
        for signum, previous in self.previous.items():
            signal.signal(signum, previous)
        for signum in dict.fromkeys(self.received):
            signal.raise_signal(signum)


def merge(output: PathName, parts: Union[PathName, Sequence[PathName]]) -> MergeResult:
    """Joins the part libraries into the library output: one head (LIBNAME is
    output as given), then every structure of every part in part order, byte
    for byte, then ENDLIB. Raises MergeError, leaving no output, when the
    parts' UNITS differ, a structure name is defined twice, or a part is not
    one complete library. Memory stays constant; the GIL is released.
    A single str, bytes or path-like object is one part. Parts named ``*.gz``
    are decompressed as they are read, and an output named ``*.gz`` is written
    as gzip (bytes is then the compressed size). An output named ``*.oas`` is
    an OASIS file: each element of the parts goes through the library's OASIS
    writer, and one that OASIS cannot hold raises MergeError with failure
    NOT_IN_OASIS.

    Parameters
    ----------
    output : str, bytes or os.PathLike
        The library to write; it must not be one of the parts.
    parts : path, or sequence of paths
        The part libraries, in the order their structures are written.

    Returns
    -------
    MergeResult
        `bytes`, the output's size, and `structures`, how many it holds.

    Raises
    ------
    MergeError
        With `failure` (a MergeFailure) naming the kind of refusal; no
        output is left.

    Examples
    --------
    >>> carvelle.merge("chip.gds", ["part-0.gds", "part-1.gds"])
    MergeResult(bytes=554, structures=2)
    """
    if isinstance(parts, (str, bytes, os.PathLike)):
        parts = [parts]
    try:
        from ._compiled_merge import merge as run
    except ImportError:
        run = _run_tool
    failure, message, size, structures = run(output, list(parts))
    if failure != 0:
        raise MergeError(MergeFailure(failure) if failure > 0 else None, message)
    return MergeResult(size, structures)
