# SPDX-License-Identifier: MIT
"""Library and Structure: the API above the backends, written once."""

import os
import stat
import threading
import warnings
import weakref
from types import TracebackType
from typing import TYPE_CHECKING, Any, Dict, List, NoReturn, Optional, Set, Tuple, Type, Union

from . import _rules, _values
from ._backend import backend
from ._batch_writers import BatchWriters
from ._errors import Error, Result, UndefinedStructureWarning, file_name_bytes, why_not_writable
from ._references import NAME_MOST, References, shown
from ._units import Units
from ._user import UserUnitView

PathName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

if TYPE_CHECKING:  # both backends have the surface of the compiled one
    from ._compiled import StructureBase, Writer
else:
    StructureBase, Writer = backend.StructureBase, backend.Writer


class Structure(References, BatchWriters, StructureBase):
    """The open structure of a Library; its methods write elements into it.

    Made by Library.structure(), never directly. Coordinates are integers in
    database units (bool and floats are refused: the integer door stays
    exact); `structure.user` takes numbers in user units. Keyword arguments
    default to 0, mag to 1.0 and angles to 0.0. Batch writers take numpy
    arrays and write every element in one call.

    Attributes
    ----------
    name : str or bytes
        The name as given to Library.structure().

    Examples
    --------
    >>> with lib.structure("TOP") as top:
    ...     top.box(0, 0, 2000, 500, layer=1)           # database units
    ...     top.user.box(0, 0.75, 2.0, 1.25, layer=1)   # user units
    """

    _view = UserUnitView   # the class of `user`; another under a rule set
    _limits: Any = None    # the rule set, under one

    def __init__(self, writer: Writer, serial: int, name: Any, library: "Library") -> None:
        super().__init__(writer, serial)
        self.name = name
        self._library = weakref.ref(library)
        self._user: Optional[UserUnitView] = None
        self._user_scale = library.units.scale
        self._name_bytes: bytes = _values.text_bytes(name, "name") or b""
        self._graph = library._graph  # not the Library: dropping it must end it at once
        self._refers: Set[bytes] = set()
        self._known: Dict[Any, bytes] = {}

    @property
    def library(self) -> Optional["Library"]:
        """The Library (None once it has been dropped)."""
        return self._library()

    @property
    def closed(self) -> bool:
        """True once the structure has ended (end(), its with block, or the library's end)."""
        return bool(self._writer.open_serial != self._serial)

    @property
    def user(self) -> UserUnitView:
        """The same element writers, taking coordinates in user units (see UserUnitView)."""
        if self._user is None:
            self._user = self._view(self._writer, self._serial, self._user_scale)
            self._user._name_bytes, self._user._graph, self._user._refers = self._name_bytes, self._graph, self._refers
            self._user._limits = self._limits
            self._user._known = {}
        return self._user

    def end(self) -> None:
        """Ends the structure (GDS_EndStructure): writes ENDSTR.

        Leaving the structure's with block calls it.

        Raises
        ------
        Error
            GDS_ERR_STRUCT_NOT_OPEN when the structure has already ended;
            GDS_ERR_WRITE when the disk fails.

        Examples
        --------
        >>> top = lib.structure("TOP")
        >>> top.box(0, 0, 10, 10, layer=1)
        >>> top.end()
        """
        if self.closed:
            raise Error(Result.GDS_ERR_STRUCT_NOT_OPEN, "GDS_EndStructure")
        self._writer.end_structure()

    def __enter__(self) -> "Structure":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        if not self.closed:
            try:
                self.end()
            except Error:
                if _finished(kind, value):
                    raise

    def __repr__(self) -> str:
        return "<carvelle.Structure %r %s>" % (self.name, "ended" if self.closed else "open")


class _RuledView(_rules.Ruled, UserUnitView):
    """The user view of a _RuledStructure."""


class _RuledStructure(_rules.Ruled, Structure):
    """A Structure of a library with a rule set: each call is tested first."""

    _view = _RuledView


def _finished(kind: Optional[Type[BaseException]], value: Optional[BaseException]) -> bool:
    """True when a with block ended its work: no exception, or sys.exit()
    with a success status (a script that exits cleanly from inside the
    block has finished the file, not failed it)."""
    if kind is None:
        return True
    return issubclass(kind, SystemExit) and getattr(value, "code", 1) in (None, 0)


class Library:
    """One GDSII file being written (GDS_BeginLib ... GDS_EndLib).

    Units, by keyword only: Library(path, unit=1e-6, precision=1e-9) in
    metres, as gdspy and gdstk take them, or Library(path, user_unit=1e-3,
    meter_unit=1e-9) as the UNITS record holds them (the default); the two
    forms cannot be mixed. Each must be finite and greater than 0.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        The file to write; a name ending in ``.gz`` gives a gzip file,
        compressed while it is written, and one ending in ``.oas`` a strict
        OASIS file from the same calls (what OASIS cannot hold raises
        `carvelle.Error` with code ``GDS_ERR_RANGE``: see the OASIS page).
    unit : float, optional
        The user unit in metres (1e-6: micrometres), with `precision`.
    precision : float, optional
        The database unit in metres (1e-9: a 1 nm grid), with `unit`.
    user_unit : float, optional
        The database unit in user units, as UNITS holds it (default 1e-3).
    meter_unit : float, optional
        The database unit in metres, as UNITS holds it (default 1e-9).
    keep_incomplete : bool, optional
        Rename an unfinished file to NAME.incomplete instead of removing it.
    timestamp : datetime.datetime or 0, optional
        The time of BGNLIB and of every BGNSTR (GDS_BeginLibAt), for files
        that are the same byte for byte on every run: a datetime in UTC (a
        naive one is read as UTC), or 0 for twelve zero words, as KLayout
        and magic write when told to leave the time out. By default the
        local time of each record, or SOURCE_DATE_EPOCH's time when that
        variable holds seconds since 1970; unlike the variable, this touches
        no other library of the process.
    rules : str, optional
        A rule set, as ``carvelle-info --check=`` takes it: a profile
        (``"fab"``, ``"readers"``), then ``RULE=N``, ``RULE=off`` or
        ``RULE``, comma-separated (``"fab,max-vertices=8191"``). An element
        or structure that breaks it raises RuleError before anything is
        written; a batch writer tests every row before the first is
        written. The rules of the whole library (one-top, undefined,
        cycles, duplicates) are carvelle.check()'s.

    Raises
    ------
    Error
        GDS_ERR_OPEN when the file cannot be created (`Error.detail` says
        why).
    TypeError
        When both forms of units are given, units are given by position, or
        `timestamp` is neither a datetime nor 0.
    ValueError
        When a unit is not finite and greater than 0, or lies outside what
        UNITS holds (2**-260 to 2**252: RangeError), the name holds NUL, or
        the timestamp lies before 1970; or a rule set names no profile or
        rule, or gives a rule a value it does not take (before the file is
        made).

    Examples
    --------
    >>> with carvelle.Library("chip.gds", unit=1e-6, precision=1e-9) as lib:
    ...     with lib.structure("TOP") as top:
    ...         top.box(0, 0, 1000, 500, layer=1)

    The file is begun at construction. Use it as a context manager or call
    close(); dropping the last reference to it also ends it. Ending ends an
    open structure first. When an exception leaves the with block (or
    ending fails), nothing is left under the file's name: the file is
    removed, or with keep_incomplete=True renamed to NAME.incomplete; the
    exception on its way out is never replaced by an error from ending.
    sys.exit() with status 0 or None is no failure: the file is finished
    as when the block ends normally (KeyboardInterrupt and every other
    exception, a failing exit status included, remove it).

    One library may be written from several threads: each call (an
    element, a batch, a structure's begin or end, close) runs whole while
    the others wait, in the order they come for the library; elements of
    calls from different threads are never mixed within one call.

    After os.fork() (a multiprocessing worker, a pre-forking server) the
    library belongs to the parent: in the child every call on it raises
    Error GDS_ERR_STOPPED and writes nothing, and its end (close, a with
    block, the finalizer at exit) only frees the child's copy, silently.
    The parent writes on and finishes the file as if no fork had happened.

    A Library opened on the file that a live Library of this process is
    still writing ends that one first, with a RuntimeWarning: the file then
    holds the new run alone.
    """

    def __init__(self, path: PathName, *positional: NoReturn, user_unit: Optional[float] = None,
                 meter_unit: Optional[float] = None, unit: Optional[float] = None, precision: Optional[float] = None,
                 keep_incomplete: bool = False, timestamp: Optional[Any] = None, rules: Optional[str] = None) -> None:
        if positional:
            raise TypeError("Library() takes the units by keyword only: Library(path, unit=1e-6, precision=1e-9) "
                            "in metres, or Library(path, user_unit=1e-3, meter_unit=1e-9) as UNITS holds them; "
                            "%d more positional argument%s given" % (len(positional), "s" * (len(positional) > 1)))
        self.units = Units.from_arguments(user_unit, meter_unit, unit, precision)
        seconds = _values.timestamp_seconds(timestamp)
        self.path = path
        self.keep_incomplete = keep_incomplete
        self.rules = rules
        self._limits = None if rules is None else _rules.Limits(rules)
        self._graph: Dict[bytes, Set[bytes]] = {}
        self._open_name = b""
        self._file: Optional[Tuple[int, int]] = None
        self._pid = os.getpid()
        name = file_name_bytes(path)
        self._name = name
        _end_earlier_writer_of(name)
        try:
            self._writer = (Writer(name, self.units.user_unit, self.units.meter_unit) if seconds is None
                            else Writer(name, self.units.user_unit, self.units.meter_unit, seconds))
        except Error as error:
            if error.code == Result.GDS_ERR_OPEN:
                error.detail = why_not_writable(name)
            raise
        self._file = _register(name, self)
        if name.lower().endswith(b".gz"):
            _warn_about_thread_setting()

    @property
    def closed(self) -> bool:
        """True once the library has ended (close(), its with block, or being dropped)."""
        return self._writer.handle is None

    @property
    def handle(self) -> Optional[int]:
        """The GdsHandle as an integer (None once closed), for direct C calls."""
        return self._writer.handle

    def structure(self, name: Union[str, bytes]) -> Structure:
        """Begins the structure name (GDS_BeginStructure) and returns it.

        Use it as a context manager, or call its end(). One structure is
        open at a time.

        Parameters
        ----------
        name : str or bytes
            Not empty, at most 65,530 bytes (a str as UTF-8); unique in the
            library.

        Returns
        -------
        Structure
            The open structure, whose methods write its elements.

        Raises
        ------
        Error
            GDS_ERR_STRUCT_OPEN while another structure is open,
            GDS_ERR_STRUCT_DUPLICATE for a name begun before,
            GDS_ERR_STOPPED when the library is closed.
        TypeError, ValueError
            For a name that is not str or bytes, empty or too long.
        RuleError
            For a name that breaks the library's rule set (too long, or a
            character outside A-Z a-z 0-9 _ ? $); the structure is not begun.

        Examples
        --------
        >>> with lib.structure("VIA") as via:
        ...     via.square(-100, -100, 200, layer=3)
        """
        data = _values.text_bytes(name, "name")
        if data is None:
            raise TypeError("name must be str or bytes, not None")
        if not data:
            raise ValueError("a structure name must not be empty")
        if len(data) > NAME_MOST:
            raise ValueError("the structure name is %d bytes; a name holds at most 65,530" % len(data))
        if self.closed:
            raise Error(Result.GDS_ERR_STOPPED, "GDS_BeginStructure",
                        detail="the library %s is closed" % shown(self._name))
        if self._writer.open_serial:
            raise Error(Result.GDS_ERR_STRUCT_OPEN, "GDS_BeginStructure",
                        detail="structure %s is open; end it first" % shown(self._open_name))
        if self._limits is not None:
            self._limits.name(data)
        serial = self._writer.begin_structure(data)
        self._open_name = data
        if self._limits is None:
            return Structure(self._writer, serial, name, self)
        ruled = _RuledStructure(self._writer, serial, name, self)
        ruled._limits = self._limits
        return ruled

    def undefined_structures(self) -> List[str]:
        """Names given to sref, aref or srefs that no structure of this
        library has (so far).

        Returns
        -------
        list of str
            The names, sorted; empty when every reference is defined.

        Examples
        --------
        >>> top.sref("PAD", 0, 0)
        >>> lib.undefined_structures()
        ['PAD']
        """
        missing = self._writer.referenced - self._writer.defined
        return sorted(name.decode("utf-8", "surrogateescape") for name in missing)

    def close(self) -> None:
        """Ends the library: ends the open structure if there is one, writes
        ENDLIB and closes the file (GDS_EndLib).

        The handle is released whatever the result; a second close does
        nothing. Leaving the library's with block calls it.

        Raises
        ------
        Error
            GDS_ERR_WRITE for a failed write (the file is then treated as
            incomplete: removed, or renamed with keep_incomplete).

        Warns
        -----
        UndefinedStructureWarning
            For structures that are referenced but never defined.

        Examples
        --------
        >>> lib = carvelle.Library("chip.gds")
        >>> with lib.structure("TOP") as top:
        ...     top.box(0, 0, 10, 10)
        >>> lib.close()
        """
        self._end(complete=True)

    def _end(self, complete: bool) -> None:
        """Ends the file; raises the first error from ending only when the
        run is complete (no exception is on its way out)."""
        writer: Optional[Writer] = getattr(self, "_writer", None)  # None when __init__ failed
        if writer is None or writer.handle is None:
            return
        if os.getpid() != self._pid:
            # A child of a fork: the file is the parent's. The library only
            # frees the child's copy (GDS_ERR_STOPPED); nothing is removed,
            # renamed or reported.
            try:
                writer.end_library()
            except Error:
                pass
            return
        first = None
        if writer.open_serial:
            try:
                writer.end_structure()
            except Error as error:
                if writer.handle is None:
                    return  # another thread's close ended the library meanwhile, and finishes it
                # Not open: another thread ended it between the test and the call.
                if error.code != Result.GDS_ERR_STRUCT_NOT_OPEN:
                    first = error
        try:
            writer.end_library()
        except Error as error:
            first = first or error
        _unregister(self._file, self)
        if not complete or first is not None:
            self._set_aside()
        missing = self.undefined_structures()
        if missing and complete:
            warnings.warn("%s: structures referenced but never defined: %s"
                          % (os.fsdecode(self.path), ", ".join(missing)), UndefinedStructureWarning, stacklevel=3)
        if complete and first is not None:
            raise first

    def _set_aside(self) -> None:
        """Removes the unfinished file from its name (to NAME.incomplete when
        asked): only a regular file that is still the one this run wrote."""
        if self._file is None or _file_key(self._name) != self._file:
            return
        try:
            if self.keep_incomplete:
                os.replace(self._name, self._name + b".incomplete")
            else:
                os.remove(self._name)
        except OSError as error:
            warnings.warn("%s: the incomplete file stays under its name: %s" % (os.fsdecode(self.path), error),
                          RuntimeWarning, stacklevel=4)

    def __enter__(self) -> "Library":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self._end(complete=_finished(kind, value))

    def __del__(self) -> None:
        try:
            self._end(complete=True)
        except Exception:
            pass

    def __repr__(self) -> str:
        return "<carvelle.Library %r %s>" % (self.path, "closed" if self.closed else "open")


def _warn_about_thread_setting() -> None:
    """The library takes a bad CARVELLE_GZIP_THREADS silently (clamped, or
    the default); Python says so, once per value."""
    text = os.environ.get("CARVELLE_GZIP_THREADS", "")
    if not text or text in _warned_settings:
        return
    if not text.isascii() or not text.isdigit():
        problem = "is not a whole number from 1 to 16: the default is used"
    elif int(text) == 0:
        problem = "is 0: the default is used"
    elif int(text) > 16:
        problem = "is above 16: 16 threads compress"
    else:
        return
    _warned_settings.add(text)
    warnings.warn("CARVELLE_GZIP_THREADS=%r %s" % (text, problem), RuntimeWarning, stacklevel=3)


_warned_settings: Set[str] = set()


# ------------------------------------------------ one live writer per file

_live: Dict[Tuple[int, int], "weakref.ref[Library]"] = {}
_live_lock = threading.Lock()


def _file_key(name: bytes) -> Optional[Tuple[int, int]]:
    """(device, inode) of a regular file; None for anything else."""
    try:
        found = os.stat(name)
    except (OSError, ValueError):
        return None
    return (found.st_dev, found.st_ino) if stat.S_ISREG(found.st_mode) else None


def _register(name: bytes, library: Library) -> Optional[Tuple[int, int]]:
    key = _file_key(name)
    if key is not None:
        with _live_lock:
            _live[key] = weakref.ref(library)
    return key


def _unregister(key: Optional[Tuple[int, int]], library: Library) -> None:
    with _live_lock:
        if key is not None and key in _live and _live[key]() in (library, None):
            del _live[key]


def _end_earlier_writer_of(name: bytes) -> None:
    """Ends a live Library writing the file at name: its later flushes would
    land in the new file."""
    key = _file_key(name)
    with _live_lock:
        earlier = _live.get(key) if key is not None else None
    library = earlier() if earlier is not None else None
    if library is None or library.closed:
        return
    warnings.warn("%s: a Library of this process was still writing this file; it is ended first"
                  % os.fsdecode(library.path), RuntimeWarning, stacklevel=3)
    try:
        library._end(complete=True)
    except Error:
        pass  # the new run truncates the file anyway
