# SPDX-License-Identifier: MIT
"""Library and Structure: the API above the backends, written once."""

import os
import warnings
import weakref
from types import TracebackType
from typing import TYPE_CHECKING, Any, List, Optional, Type, Union

from . import _values
from ._backend import backend
from ._batches import BatchWriters
from ._errors import Error, Result, UndefinedStructureWarning, file_name_bytes, why_not_writable
from ._units import Units
from ._user import UserUnitView

PathName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

if TYPE_CHECKING:  # both backends have the surface of the compiled one
    from ._compiled import StructureBase, Writer
else:
    StructureBase, Writer = backend.StructureBase, backend.Writer


class Structure(BatchWriters, StructureBase):
    """The open structure of a Library; its methods write elements into it.

    Coordinates are integers in database units (bool and floats are refused:
    the integer door stays exact); `structure.user` takes numbers in user
    units. Keyword arguments default to 0, mag to 1.0 and angles to 0.0.
    Batch writers take numpy arrays and write every element in one call.
    """

    def __init__(self, writer: Writer, serial: int, name: Any, library: "Library") -> None:
        super().__init__(writer, serial)
        self.name = name
        self._library = weakref.ref(library)
        self._user: Optional[UserUnitView] = None
        self._user_scale = library.units.scale

    @property
    def library(self) -> Optional["Library"]:
        """The Library (None once it has been dropped)."""
        return self._library()

    @property
    def closed(self) -> bool:
        return bool(self._writer.open_serial != self._serial)

    @property
    def user(self) -> UserUnitView:
        """The element writers taking coordinates in user units."""
        if self._user is None:
            self._user = UserUnitView(self._writer, self._serial, self._user_scale)
        return self._user

    def end(self) -> None:
        """Ends the structure (GDS_EndStructure)."""
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
                if kind is None:
                    raise

    def __repr__(self) -> str:
        return "<carvelle.Structure %r %s>" % (self.name, "ended" if self.closed else "open")


class Library:
    """One GDSII file being written (GDS_BeginLib ... GDS_EndLib).

    Units: Library(path, unit=1e-6, precision=1e-9) in metres, as gdspy and
    gdstk take them, or Library(path, user_unit=1e-3, meter_unit=1e-9) as
    the UNITS record holds them (the default); the two forms cannot be mixed.

    The file is begun at construction. Use it as a context manager or call
    close(); dropping the last reference to it also ends it. Ending ends an
    open structure first; when an exception is on its way out of the with
    block, errors from ending are not raised over it.
    """

    def __init__(self, path: PathName, user_unit: Optional[float] = None, meter_unit: Optional[float] = None, *,
                 unit: Optional[float] = None, precision: Optional[float] = None) -> None:
        self.units = Units.from_arguments(user_unit, meter_unit, unit, precision)
        self.path = path
        name = file_name_bytes(path)
        try:
            self._writer = Writer(name, self.units.user_unit, self.units.meter_unit)
        except Error as error:
            if error.code == Result.GDS_ERR_OPEN:
                error.detail = why_not_writable(name)
            raise

    @property
    def closed(self) -> bool:
        return self._writer.handle is None

    @property
    def handle(self) -> Optional[int]:
        """The GdsHandle as an integer (None once closed), for direct C calls."""
        return self._writer.handle

    def structure(self, name: Union[str, bytes]) -> Structure:
        """Begins the structure name (str or bytes) and returns it; use it as
        a context manager or call its end()."""
        serial = self._writer.begin_structure(_values.text_bytes(name, "name"))
        return Structure(self._writer, serial, name, self)

    def undefined_structures(self) -> List[str]:
        """Names given to sref, aref or srefs that no structure of this
        library has (so far), sorted."""
        missing = self._writer.referenced - self._writer.defined
        return sorted(name.decode("utf-8", "surrogateescape") for name in missing)

    def close(self) -> None:
        """Ends the library: ends the open structure if there is one, writes
        ENDLIB and closes the file. The handle is released whatever the
        result; a second close does nothing. Raises Error for a failed
        write, and warns (UndefinedStructureWarning) about structures that
        are referenced but never defined."""
        self._end(raising=True)

    def _end(self, raising: bool) -> None:
        writer: Optional[Writer] = getattr(self, "_writer", None)  # None when __init__ failed
        if writer is None or writer.handle is None:
            return
        first = None
        if writer.open_serial:
            try:
                writer.end_structure()
            except Error as error:
                first = error
        try:
            writer.end_library()
        except Error as error:
            first = first or error
        missing = self.undefined_structures()
        if missing:
            warnings.warn("%s: structures referenced but never defined: %s"
                          % (os.fsdecode(self.path), ", ".join(missing)), UndefinedStructureWarning, stacklevel=3)
        if raising and first is not None:
            raise first

    def __enter__(self) -> "Library":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self._end(raising=kind is None)

    def __del__(self) -> None:
        try:
            self._end(raising=False)
        except Exception:
            pass

    def __repr__(self) -> str:
        return "<carvelle.Library %r %s>" % (self.path, "closed" if self.closed else "open")
