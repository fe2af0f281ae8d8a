# SPDX-License-Identifier: MIT
"""The fallback backend: the library's functions through ctypes, where no
compiled module can be had (a bare DLL, another interpreter). Same API as
the compiled backend, a few times slower per call."""

import ctypes
import functools
import threading
from array import array
from typing import Any, Optional, Set, Tuple

from . import _loader, _values
from ._errors import Error, Result
from ._values import I32_MAX, I32_MIN, W16_MAX, W16_MIN, c16, i32, real, text_bytes, w16

NAME = "ctypes"
LoadError = _loader.LoadError
_ERROR_BUFFER_SIZE = 56  # GDS_ERROR_BUFFER_SIZE
_P32 = ctypes.POINTER(ctypes.c_int32)
_EMPTY = (ctypes.c_int32 * 1)()  # a valid pointer for empty lists: the library reports the count


def _functions() -> Any:
    return _loader.load()[1]


def load(path: Optional[str] = None) -> str:
    return _loader.load(path)[0]


def library_path() -> str:
    return _loader.load()[0]


def error_message(code: int) -> str:
    code = _values.index_in(code, I32_MIN, I32_MAX, "code")
    buffer = ctypes.create_string_buffer(_ERROR_BUFFER_SIZE)
    _functions().GDS_GetError(code, buffer, _ERROR_BUFFER_SIZE)
    return buffer.value.decode("ascii", "replace")


def _check(code: int, function: str) -> None:
    if code != 0:
        raise Error(code, function)


def _pointer(column: Any) -> Any:
    if len(column) == 0:
        return ctypes.cast(_EMPTY, _P32)
    if isinstance(column, array):
        return ctypes.cast(column.buffer_info()[0], _P32)
    return column.ctypes.data_as(_P32)


def _xy(points: Any, ys: Any) -> Tuple[Any, Any, int, Any]:
    """(xs pointer, ys pointer, count, keep-alive) for the point arguments."""
    columns = _values.int32_columns(points, ys)
    return _pointer(columns[0]), _pointer(columns[1]), len(columns[0]), columns


class Writer:
    """One library being written: its handle and the structure open in it."""

    def __init__(self, path: bytes, user_unit: float, meter_unit: float) -> None:
        self._f = _functions()
        self._handle: Optional[int] = None
        self.open_serial = 0
        self._serials = 0
        self.referenced: Set[bytes] = set()
        self.defined: Set[bytes] = set()
        self._lock = threading.RLock()
        handle = ctypes.c_void_p()
        code = self._f.GDS_BeginLib(path, user_unit, meter_unit, ctypes.byref(handle))
        if code != 0:
            if handle.value:
                # The handle exists even when the file could not be begun.
                self._f.GDS_EndLib(handle.value)
            raise Error(code, "GDS_BeginLib")
        self._handle = handle.value

    @property
    def handle(self) -> Optional[int]:
        return self._handle

    def begin_structure(self, name: Optional[bytes]) -> int:
        _check(self._f.GDS_BeginStructure(self._handle, name), "GDS_BeginStructure")
        self.defined.add(name)  # type: ignore[arg-type]
        self._serials += 1
        self.open_serial = self._serials
        return self.open_serial

    def end_structure(self) -> None:
        self.open_serial = 0
        _check(self._f.GDS_EndStructure(self._handle), "GDS_EndStructure")

    def end_library(self) -> None:
        handle, self._handle = self._handle, None
        self.open_serial = 0
        if handle is not None:
            _check(self._f.GDS_EndLib(handle), "GDS_EndLib")

    def __del__(self) -> None:
        if self._handle is not None:
            self._f.GDS_EndLib(self._handle)
            self._handle = None


class StructureBase:
    """The element writers of an open structure (coordinates in database units)."""

    def __init__(self, writer: Writer, serial: int) -> None:
        self._writer = writer
        self._serial = serial

    def _h(self, function: str) -> Optional[int]:
        if self._writer.open_serial != self._serial:
            # This structure has ended: do not write into whatever is open now.
            raise Error(Result.GDS_ERR_STRUCT_NOT_OPEN, function)
        return self._writer.handle

    def boundary(self, points: Any, ys: Any = None, *, layer: int = 0, datatype: int = 0, elflags: int = 0,
                 plex: int = 0) -> None:
        xs_p, ys_p, count, keep = _xy(points, ys)
        _check(self._writer._f.GDS_Boundary(
            self._h("GDS_Boundary"), xs_p, ys_p, count, w16(layer, "layer"), w16(datatype, "datatype"),
            w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Boundary")

    def box(self, x1: int, y1: int, x2: int, y2: int, *, layer: int = 0, boxtype: int = 0, elflags: int = 0,
            plex: int = 0) -> None:
        # The common call in plain ints takes plain range tests; anything
        # else takes the checking path for its proper exception.
        if (type(x1) is int and type(y1) is int and type(x2) is int and type(y2) is int and type(layer) is int
                and type(boxtype) is int and type(elflags) is int and type(plex) is int
                and I32_MIN <= x1 <= I32_MAX and I32_MIN <= y1 <= I32_MAX and I32_MIN <= x2 <= I32_MAX
                and I32_MIN <= y2 <= I32_MAX and W16_MIN <= layer <= W16_MAX and W16_MIN <= boxtype <= W16_MAX
                and W16_MIN <= elflags <= W16_MAX and I32_MIN <= plex <= I32_MAX):
            code = self._writer._f.GDS_Box(self._h("GDS_Box"), x1, y1, x2, y2, layer, boxtype, elflags, plex)
            if code:
                raise Error(code, "GDS_Box")
            return
        _check(self._writer._f.GDS_Box(
            self._h("GDS_Box"), i32(x1, "x1"), i32(y1, "y1"), i32(x2, "x2"), i32(y2, "y2"),
            w16(layer, "layer"), w16(boxtype, "boxtype"), w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Box")

    def box_wh(self, x: int, y: int, w: int, h: int, *, layer: int = 0, boxtype: int = 0, elflags: int = 0,
               plex: int = 0) -> None:
        _check(self._writer._f.GDS_BoxWH(
            self._h("GDS_BoxWH"), i32(x, "x"), i32(y, "y"), i32(w, "w"), i32(h, "h"),
            w16(layer, "layer"), w16(boxtype, "boxtype"), w16(elflags, "elflags"), i32(plex, "plex")), "GDS_BoxWH")

    def square(self, x: int, y: int, side: int, *, layer: int = 0, boxtype: int = 0, elflags: int = 0,
               plex: int = 0) -> None:
        _check(self._writer._f.GDS_Square(
            self._h("GDS_Square"), i32(x, "x"), i32(y, "y"), i32(side, "side"),
            w16(layer, "layer"), w16(boxtype, "boxtype"), w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Square")

    def path(self, points: Any, ys: Any = None, *, width: int = 0, layer: int = 0, datatype: int = 0,
             pathtype: int = 0, elflags: int = 0, plex: int = 0) -> None:
        xs_p, ys_p, count, keep = _xy(points, ys)
        _check(self._writer._f.GDS_Path(
            self._h("GDS_Path"), xs_p, ys_p, count, i32(width, "width"), w16(layer, "layer"),
            w16(datatype, "datatype"), w16(pathtype, "pathtype"), w16(elflags, "elflags"), i32(plex, "plex")),
            "GDS_Path")

    def circle(self, cx: int, cy: int, radius: int, count: int, *, layer: int = 0, datatype: int = 0,
               elflags: int = 0, plex: int = 0) -> None:
        _check(self._writer._f.GDS_Circle(
            self._h("GDS_Circle"), i32(cx, "cx"), i32(cy, "cy"), i32(radius, "radius"), c16(count, "count"),
            w16(layer, "layer"), w16(datatype, "datatype"), w16(elflags, "elflags"), i32(plex, "plex")),
            "GDS_Circle")

    def arc(self, cx: int, cy: int, radius: int, start_angle: float, end_angle: float, count: int, *,
            width: int = 0, layer: int = 0, datatype: int = 0, pathtype: int = 0, elflags: int = 0,
            plex: int = 0) -> None:
        _check(self._writer._f.GDS_Arc(
            self._h("GDS_Arc"), i32(cx, "cx"), i32(cy, "cy"), i32(radius, "radius"),
            real(start_angle, "start_angle"), real(end_angle, "end_angle"), c16(count, "count"),
            i32(width, "width"), w16(layer, "layer"), w16(datatype, "datatype"), w16(pathtype, "pathtype"),
            w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Arc")

    def sector(self, cx: int, cy: int, radius: int, start_angle: float, end_angle: float, count: int, *,
               layer: int = 0, datatype: int = 0, elflags: int = 0, plex: int = 0) -> None:
        _check(self._writer._f.GDS_Sector(
            self._h("GDS_Sector"), i32(cx, "cx"), i32(cy, "cy"), i32(radius, "radius"),
            real(start_angle, "start_angle"), real(end_angle, "end_angle"), c16(count, "count"),
            w16(layer, "layer"), w16(datatype, "datatype"), w16(elflags, "elflags"), i32(plex, "plex")),
            "GDS_Sector")

    def text(self, x: int, y: int, text: Any, *, layer: int = 0, texttype: int = 0, presentation: int = 0,
             pathtype: int = 0, width: int = 0, strans: int = 0, mag: float = 1.0, angle: float = 0.0,
             elflags: int = 0, plex: int = 0) -> None:
        _check(self._writer._f.GDS_Text(
            self._h("GDS_Text"), i32(x, "x"), i32(y, "y"), text_bytes(text, "text"), w16(layer, "layer"),
            w16(texttype, "texttype"), w16(presentation, "presentation"), w16(pathtype, "pathtype"),
            i32(width, "width"), w16(strans, "strans"), real(mag, "mag"), real(angle, "angle"),
            w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Text")

    def sref(self, sname: Any, x: int, y: int, *, strans: int = 0, mag: float = 1.0, angle: float = 0.0,
             elflags: int = 0, plex: int = 0) -> None:
        name = text_bytes(sname, "sname")
        _check(self._writer._f.GDS_Sref(
            self._h("GDS_Sref"), name, i32(x, "x"), i32(y, "y"), w16(strans, "strans"), real(mag, "mag"),
            real(angle, "angle"), w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Sref")
        self._writer.referenced.add(name)  # type: ignore[arg-type]

    def aref(self, sname: Any, origin: Any, col_corner: Any, row_corner: Any, cols: int, rows: int, *,
             strans: int = 0, mag: float = 1.0, angle: float = 0.0, elflags: int = 0, plex: int = 0) -> None:
        corners = [_values.pair(origin, "origin"), _values.pair(col_corner, "col_corner"),
                   _values.pair(row_corner, "row_corner")]
        xs = (ctypes.c_int32 * 3)(*(c[0] for c in corners))
        ys = (ctypes.c_int32 * 3)(*(c[1] for c in corners))
        name = text_bytes(sname, "sname")
        _check(self._writer._f.GDS_Aref(
            self._h("GDS_Aref"), name, xs, ys, w16(cols, "cols"), w16(rows, "rows"), w16(strans, "strans"),
            real(mag, "mag"), real(angle, "angle"), w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Aref")
        self._writer.referenced.add(name)  # type: ignore[arg-type]

    def node(self, points: Any, ys: Any = None, *, layer: int = 0, nodetype: int = 0, elflags: int = 0,
             plex: int = 0) -> None:
        xs_p, ys_p, count, keep = _xy(points, ys)
        _check(self._writer._f.GDS_Node(
            self._h("GDS_Node"), xs_p, ys_p, count, w16(layer, "layer"), w16(nodetype, "nodetype"),
            w16(elflags, "elflags"), i32(plex, "plex")), "GDS_Node")

    # ------------------------------------------------ batches (checked arrays)

    def _batch(self, function: str, count: int, call: Any) -> None:
        """Runs call(handle, i) for i in range(count); the first refusal
        raises Error naming its index."""
        handle = self._h(function)
        for index in range(count):
            code = call(handle, index)
            if code:
                raise Error(code, function, index=index)

    def _write_boxes(self, corners: Any, layer: Any, boxtype: Any, elflags: Any, plex: Any) -> None:
        c = corners.tolist()
        columns = [_repeat(a) for a in (layer, boxtype, elflags, plex)]
        box = self._writer._f.GDS_Box
        self._batch("GDS_Box", len(c), lambda h, i: box(h, *c[i], *(v(i) for v in columns)))

    def _write_boundaries(self, vertices: Any, offsets: Any, layer: Any, datatype: Any, elflags: Any,
                          plex: Any) -> None:
        columns = [_repeat(a) for a in (layer, datatype, elflags, plex)]
        boundary = self._writer._f.GDS_Boundary
        self._batch("GDS_Boundary", len(offsets) - 1, lambda h, i: _ragged_call(
            boundary, h, vertices, offsets, i, [v(i) for v in columns]))

    def _write_paths(self, vertices: Any, offsets: Any, width: Any, layer: Any, datatype: Any, pathtype: Any,
                     elflags: Any, plex: Any) -> None:
        columns = [_repeat(a) for a in (width, layer, datatype, pathtype, elflags, plex)]
        path = self._writer._f.GDS_Path
        self._batch("GDS_Path", len(offsets) - 1, lambda h, i: _ragged_call(
            path, h, vertices, offsets, i, [v(i) for v in columns]))

    def _write_srefs(self, sname: bytes, positions: Any, strans: Any, mag: Any, angle: Any, elflags: Any,
                     plex: Any) -> None:
        p = positions.tolist()
        columns = [_repeat(a) for a in (strans, mag, angle, elflags, plex)]
        sref = self._writer._f.GDS_Sref
        self._batch("GDS_Sref", len(p), lambda h, i: sref(h, sname, *p[i], *(v(i) for v in columns)))
        self._writer.referenced.add(sname)

    def _write_texts(self, positions: Any, strings: Tuple[bytes, ...], layer: Any, texttype: Any,
                     presentation: Any, pathtype: Any, width: Any, strans: Any, mag: Any, angle: Any,
                     elflags: Any, plex: Any) -> None:
        p = positions.tolist()
        columns = [_repeat(a) for a in (layer, texttype, presentation, pathtype, width, strans, mag, angle,
                                        elflags, plex)]
        text = self._writer._f.GDS_Text
        self._batch("GDS_Text", len(p), lambda h, i: text(h, *p[i], strings[i], *(v(i) for v in columns)))


def _repeat(values: Any) -> Any:
    """i -> the value of element i of a column of length N or 1."""
    items = values.tolist()
    if len(items) == 1:
        only = items[0]
        return lambda i: only
    return items.__getitem__


def _ragged_call(function: Any, handle: Any, vertices: Any, offsets: Any, index: int, after: Any) -> int:
    start, end = int(offsets[index]), int(offsets[index + 1])
    piece = vertices[start:end]
    xs, ys = _values.numpy_int32(piece[:, 0], "xs"), _values.numpy_int32(piece[:, 1], "ys")
    return int(function(handle, _pointer(xs), _pointer(ys), end - start, *after))


# ctypes lets go of the GIL in every C call: one call at a time per writer,
# as the compiled module keeps it; a call meeting another one in flight
# (an element, a batch, close) is refused, never run beside it.
def _exclusive(method: Any, writer_of: Any) -> Any:
    @functools.wraps(method)
    def call(self: Any, *args: Any, **kwargs: Any) -> Any:
        lock = writer_of(self)._lock
        if not lock.acquire(False):
            raise RuntimeError("the library is being written by a call in another thread")
        try:
            return method(self, *args, **kwargs)
        finally:
            lock.release()
    return call


for _name in ("begin_structure", "end_structure", "end_library"):
    setattr(Writer, _name, _exclusive(getattr(Writer, _name), lambda writer: writer))
for _name, _method in list(vars(StructureBase).items()):
    if callable(_method) and not _name.startswith("__") and _name not in ("_h", "_batch"):
        setattr(StructureBase, _name, _exclusive(_method, lambda structure: structure._writer))
