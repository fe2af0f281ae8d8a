# SPDX-License-Identifier: MIT
"""Library and Structure: the API above the backends, written once."""

import os
import warnings
import weakref
from types import TracebackType
from typing import TYPE_CHECKING, Any, List, Optional, Sequence, Type, Union

from . import _arrays, _values
from ._backend import backend
from ._errors import Error, Result, UndefinedStructureWarning, file_name_bytes, why_not_writable
from ._units import UserUnitView, Units

PathName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_PATH_MOST = 32767      # a PATH's count is 16 bits; the library splits long ones
_BOUNDARY_MOST = 8189   # more is refused by the library, element by element

if TYPE_CHECKING:  # both backends have the surface of the compiled one
    from ._compiled import StructureBase, Writer
else:
    StructureBase, Writer = backend.StructureBase, backend.Writer


class Structure(StructureBase):
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
        self._scale = library.units.scale

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
        return UserUnitView(self, self._scale)

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

    # ------------------------------------------------------------ batches

    def boxes(self, corners: Any, *, layer: Any = 0, boxtype: Any = 0, elflags: Any = 0, plex: Any = 0) -> None:
        """BOX elements from an (N, 4) integer array of x1, y1, x2, y2."""
        data = _arrays.rows(corners, 4, "corners")
        n = len(data)
        self._write_boxes(data, _arrays.column(layer, n, "w16", "layer"), _arrays.column(boxtype, n, "w16", "boxtype"),
                          _arrays.column(elflags, n, "w16", "elflags"), _arrays.column(plex, n, "i32", "plex"))

    def boundaries(self, vertices: Any, offsets: Any, *, layer: Any = 0, datatype: Any = 0, elflags: Any = 0,
                   plex: Any = 0) -> None:
        """BOUNDARY elements: polygon i has the vertices offsets[i] to
        offsets[i + 1] of the (M, 2) array vertices."""
        points, starts = _arrays.ragged(vertices, offsets, _BOUNDARY_MOST + 1, "vertices")
        n = len(starts) - 1
        self._write_boundaries(points, starts, _arrays.column(layer, n, "w16", "layer"),
                               _arrays.column(datatype, n, "w16", "datatype"),
                               _arrays.column(elflags, n, "w16", "elflags"), _arrays.column(plex, n, "i32", "plex"))

    def paths(self, vertices: Any, offsets: Any, *, width: Any = 0, layer: Any = 0, datatype: Any = 0,
              pathtype: Any = 0, elflags: Any = 0, plex: Any = 0) -> None:
        """PATH elements: path i has the vertices offsets[i] to offsets[i + 1]."""
        points, starts = _arrays.ragged(vertices, offsets, _PATH_MOST, "vertices")
        n = len(starts) - 1
        self._write_paths(points, starts, _arrays.column(width, n, "i32", "width"),
                          _arrays.column(layer, n, "w16", "layer"), _arrays.column(datatype, n, "w16", "datatype"),
                          _arrays.column(pathtype, n, "w16", "pathtype"),
                          _arrays.column(elflags, n, "w16", "elflags"), _arrays.column(plex, n, "i32", "plex"))

    def srefs(self, sname: Any, positions: Any, *, strans: Any = 0, mag: Any = 1.0, angle: Any = 0.0,
              elflags: Any = 0, plex: Any = 0) -> None:
        """SREF elements placing sname at each row of an (N, 2) array."""
        name = _values.text_bytes(sname, "sname")
        if name is None:
            raise TypeError("sname must be str or bytes, not None")
        data = _arrays.rows(positions, 2, "positions")
        n = len(data)
        self._write_srefs(name, data, _arrays.column(strans, n, "w16", "strans"), _arrays.column(mag, n, "f64", "mag"),
                          _arrays.column(angle, n, "f64", "angle"), _arrays.column(elflags, n, "w16", "elflags"),
                          _arrays.column(plex, n, "i32", "plex"))

    def texts(self, positions: Any, strings: Sequence[Any], *, layer: Any = 0, texttype: Any = 0,
              presentation: Any = 0, pathtype: Any = 0, width: Any = 0, strans: Any = 0, mag: Any = 1.0,
              angle: Any = 0.0, elflags: Any = 0, plex: Any = 0) -> None:
        """TEXT elements: strings[i] at row i of an (N, 2) array."""
        data = _arrays.rows(positions, 2, "positions")
        n = len(data)
        self._write_texts(data, _arrays.strings(strings, n, "strings"), _arrays.column(layer, n, "w16", "layer"),
                          _arrays.column(texttype, n, "w16", "texttype"),
                          _arrays.column(presentation, n, "w16", "presentation"),
                          _arrays.column(pathtype, n, "w16", "pathtype"), _arrays.column(width, n, "i32", "width"),
                          _arrays.column(strans, n, "w16", "strans"), _arrays.column(mag, n, "f64", "mag"),
                          _arrays.column(angle, n, "f64", "angle"), _arrays.column(elflags, n, "w16", "elflags"),
                          _arrays.column(plex, n, "i32", "plex"))


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
