# SPDX-License-Identifier: MIT
"""The fallback backend: the library's functions through ctypes, where no
compiled module can be had (a bare DLL, another interpreter). Same API as
the compiled backend, a few times slower per call."""

import ctypes
import functools
import math
import threading
from array import array
from typing import Any, Callable, Dict, List, Optional, Set, Tuple

from . import _elements, _guards, _loader, _units, _values
from ._errors import Error, RangeError, Result
from ._values import (C16_MAX, C16_MIN, I32_MAX, I32_MIN, U16_MAX, U16_MIN, W16_MAX, W16_MIN, c16, i32, text_bytes,
                      u16, w16)

NAME = "ctypes"
LoadError = _loader.LoadError
_ERROR_BUFFER_SIZE = 56  # GDS_ERROR_BUFFER_SIZE
_P32 = ctypes.POINTER(ctypes.c_int32)
CLOSED = "the library is closed (close() or its with block ended it)"
# Rows of a batch converted to Python values at a time: the fallback's
# memory stays a few MiB whatever the batch's length.
_CHUNK = 16384
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


class Writer:
    """One library being written: its handle and the structure open in it."""

    def __init__(self, path: bytes, user_unit: float, meter_unit: float, time: Optional[int] = None) -> None:
        self._f = _functions()
        self._handle: Optional[int] = None
        self.open_serial = 0
        self._serials = 0
        self.referenced: Set[bytes] = set()
        self.defined: Set[bytes] = set()
        self._lock = threading.Lock()
        self._owner: Optional[int] = None  # the thread of the call holding _lock
        handle = ctypes.c_void_p()
        if time is None:
            function, code = "GDS_BeginLib", self._f.GDS_BeginLib(path, user_unit, meter_unit, ctypes.byref(handle))
        else:
            function = "GDS_BeginLibAt"
            code = self._f.GDS_BeginLibAt(path, user_unit, meter_unit, time, ctypes.byref(handle))
        if code != 0:
            if handle.value:
                # The handle exists even when the file could not be begun.
                self._f.GDS_EndLib(handle.value)
            raise Error(code, function)
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
    """The element writers of an open structure: in database units (scale 0),
    or in user units scaled by `scale` and rounded, halves away from zero.
    The element methods are made from the element table below the class."""

    def __init__(self, writer: Writer, serial: int, scale: float = 0.0) -> None:
        if not 0.0 <= scale < math.inf:
            raise ValueError("scale must be finite and not negative")
        self._writer = writer
        self._serial = serial
        self._scale = float(scale)
        self._coord: Callable[[object, str], int] = i32 if not scale else (
            lambda value, what: _units.to_database(value, self._scale, what))

    def _h(self, function: str) -> Optional[int]:
        if self._writer.handle is None:
            raise Error(Result.GDS_ERR_STOPPED, function, detail=CLOSED)
        if self._writer.open_serial != self._serial:
            # This structure has ended: do not write into whatever is open now.
            raise Error(Result.GDS_ERR_STRUCT_NOT_OPEN, function)
        return self._writer.handle

    def _xy(self, points: Any, ys: Any) -> Tuple[Any, Any, int, Any]:
        """(xs pointer, ys pointer, count, keep-alive) for the point arguments."""
        columns = _units.user_columns(points, ys, self._scale) if self._scale else _values.int32_columns(points, ys)
        return _pointer(columns[0]), _pointer(columns[1]), len(columns[0]), columns

    def _pair(self, point: Any, what: str) -> Tuple[int, int]:
        return _units.user_pair(point, what, self._scale) if self._scale else _values.pair(point, what)

    def _properties(self, pairs: Tuple[Tuple[int, bytes], ...]) -> None:
        """GDS_Property for each checked pair, on the element just written."""
        for attribute, value in pairs:
            code = self._writer._f.GDS_Property(self._writer.handle, attribute, value)
            if code:
                raise Error(code, "GDS_Property")

    def _write_batch(self, method: str, properties: Tuple[Tuple[int, bytes], ...], *arrays: Any) -> None:
        """The batch writer of an element over checked arrays (carvelle._batches)."""
        element = _elements.BY_METHOD[method]
        heads: List[Tuple[str, Tuple[Any, ...]]] = []
        at = 0
        for param in element.params[:element.positional]:
            if param.kind == "coord" and heads and heads[-1][0] == "coord":
                continue  # one (N, k) array holds a run of coordinates
            width = {"points": 2, "ys": 0, "text": 1}.get(param.kind, 1)
            heads.append((param.kind, arrays[at:at + width]))
            at += width
        heads = [h for h in heads if h[0] != "ys"]
        count = next(len(g[0]) if k == "coord" else len(g[1]) - 1 for k, g in heads if k in ("coord", "points"))
        user = self._scale
        function = getattr(self._writer._f, element.function)
        handle = self._h(element.function)
        written = 0
        try:
            for start in range(0, count, _CHUNK):
                stop = min(start + _CHUNK, count)
                getters = [_head(kind, given, user, start, stop) for kind, given in heads]
                for param, values in zip(element.keywords, arrays[at:]):
                    column = _repeat(values, start, stop)  # i -> [value of element i]
                    getters.append(_scaled(column, user, param.name) if user and param.kind == "coord" else column)
                for index in range(start, stop):
                    values = [value for get in getters for value in get(index)]
                    if element.rectangle:
                        values = _corners(*values[:4]) + values[4:]
                    code = function(handle, *values)
                    if code:
                        raise Error(code, element.function, index=index)
                    written = index + 1
                    for attribute, value in properties:
                        code = self._writer._f.GDS_Property(handle, attribute, value)
                        if code:
                            raise Error(code, "GDS_Property", index=index)
        finally:
            if element.reference and written:  # only a written element refers
                self._writer.referenced.add(arrays[0])


def _head(kind: str, given: Tuple[Any, ...], user: float, start: int, stop: int) -> Callable[[int], List[Any]]:
    """i -> the C arguments that a batch's head gives element i, for i in start..stop - 1."""
    if kind == "text":
        text = given[0]
        return (lambda i: [text[i]]) if isinstance(text, tuple) else (lambda i: [text])
    if kind == "coord":
        rows = given[0][start:stop].tolist()
        if not user:
            return lambda i: rows[i - start]  # type: ignore[no-any-return]
        return lambda i: [_batch_value(v, user, "coordinates", i) for v in rows[i - start]]
    vertices, offsets = given[0], given[1][start:stop + 1].tolist()
    keep: List[Any] = []

    def ragged(i: int) -> List[Any]:
        piece = vertices[offsets[i - start]:offsets[i - start + 1]]
        xs, ys = ([_batch_value(v, user, "vertices", i) for v in piece[:, k].tolist()] for k in (0, 1))
        keep[:] = [array(_values.INT32_CODE, xs), array(_values.INT32_CODE, ys)]  # alive until the next element
        return [_pointer(keep[0]), _pointer(keep[1]), len(xs)]
    return ragged


def _scaled(column: Callable[[int], List[Any]], user: float, what: str) -> Callable[[int], List[Any]]:
    return lambda i: [_batch_value(column(i)[0], user, what, i)]


def _batch_value(value: Any, scale: float, what: str, index: int) -> int:
    """A batch's coordinate: as it is, or in the user door scaled and rounded."""
    if not scale:
        return int(value)
    scaled = value * scale
    error: Optional[ValueError] = None
    if not math.isfinite(scaled):
        error = ValueError("%s of element %d is not finite in database units" % (what, index))
    else:
        number = _units.round_half_away(scaled)
        if I32_MIN <= number <= I32_MAX:
            return number
        error = RangeError("%s of element %d is outside the 32-bit range in database units" % (what, index))
    error.index = index  # type: ignore[attr-defined]  # the elements before it are written
    raise error


def _corners(x1: int, y1: int, x2: int, y2: int) -> List[Any]:
    """The four corners of a rectangle as GDS_Boundary takes them; the library repeats the first."""
    return [(ctypes.c_int32 * 4)(x1, x2, x2, x1), (ctypes.c_int32 * 4)(y1, y1, y2, y2), 4]


def _repeat(values: Any, start: int, stop: int) -> Callable[[int], List[Any]]:
    """i -> [the value of element i] of a column of length N or 1, for i in start..stop - 1."""
    if len(values) == 1:
        only = values.tolist()
        return lambda i: only  # type: ignore[no-any-return]
    items = values[start:stop].tolist()
    return lambda i: [items[i - start]]


# ------------------------------------------------ element methods, from the table

_RANGES = {"coord": (I32_MIN, I32_MAX), "i32": (I32_MIN, I32_MAX), "w16": (W16_MIN, W16_MAX), "u16": (U16_MIN, U16_MAX),
           "c16": (C16_MIN, C16_MAX)}


def _fast_path(element: _elements.Element) -> List[str]:
    """For an element of integers only: plain ints in range in the integer
    door go straight to the call (ctypes keeps a word's bits); anything else
    takes the checks below."""
    params = [p for p in element.params if p.kind != "props"]
    if any(p.kind not in _RANGES for p in params) or element.rectangle:
        return []
    tests = ["not self._scale", "properties is None"] + ["%s is None" % p.alias for p in params if p.alias]
    tests += ["(%stype(%s) is int and %d <= %s <= %d)"
              % ("%s is _ZERO or " % p.name if p.alias else "", p.name, _RANGES[p.kind][0], p.name, _RANGES[p.kind][1])
              for p in params]
    call = ", ".join(p.name for p in params)
    return ["if %s:" % " and ".join(tests),
            "    code = self._writer._f.%s(self._h(%r), %s)" % (element.function, element.function, call),
            "    if code:\n            raise Error(code, %r)" % element.function,
            "    return"]


_CONVERT = {"i32": "_i32", "w16": "_w16", "u16": "_u16", "c16": "_c16", "dim": "_dim", "real": "_finite", "mag": "_mag",
            "text": "_text"}


def _method(element: _elements.Element) -> Any:
    """The method of one element: its parameters as the table gives them,
    each converted by its kind, then the one C call."""
    signature, lines, call = [], [], []
    for index, param in enumerate(element.params):
        if index == element.positional:
            signature.append("*")
        if param.kind == "ys":
            signature.append("ys=None")
            continue
        signature.append(param.name if param.default is _elements.REQUIRED else "%s=_D%d" % (param.name, index))
        if param.alias:
            lines += ["if %s is not None:" % param.alias,
                      "    if %s is not _ZERO:" % param.name,
                      "        raise TypeError('%s() takes %s or its alias %s, not both')"
                      % (element.method, param.name, param.alias),
                      "    %s = %s" % (param.name, param.alias)]
        if param.kind == "points":
            lines.append("xs_p, ys_p, count, keep = self._xy(points, ys)")
            call += ["xs_p", "ys_p", "count"]
        elif param.kind == "pair":
            if not call or call[-1] != "_pairs":
                call.append("_pairs")
            lines.append("%s = self._pair(%s, %r)" % (param.name, param.name, param.name))
        elif param.kind == "coord":
            lines.append("%s = self._coord(%s, %r)" % (param.name, param.name, param.name))
            call.append(param.name)
        elif param.kind == "props":
            lines.append("pairs = _props(properties, %r)" % element.reference)
        else:
            lines.append("%s = %s(%s, %r)" % (param.name, _CONVERT[param.kind], param.name, param.name))
            call.append(param.name)
    signature += ["%s=None" % p.alias for p in element.params if p.alias]
    pairs = [p.name for p in element.params if p.kind == "pair"]
    if pairs:
        xs, ys = (", ".join(name + "[%d]" % k for name in pairs) for k in (0, 1))
        lines.append("_pairs = (_I3(%s), _I3(%s))" % (xs, ys))
        call[call.index("_pairs")] = "*_pairs"
    if element.rectangle:
        call = ["*_corners(%s)" % ", ".join(call[:4])] + call[4:]
    lines.append("code = self._writer._f.%s(self._h(%r), %s)" % (element.function, element.function, ", ".join(call)))
    lines.append("if code:\n        raise Error(code, %r)" % element.function)
    lines.append("if pairs:\n        self._properties(pairs)")
    if element.reference:
        lines.append("self._writer.referenced.add(%s)" % element.params[0].name)
    fast = _fast_path(element)
    if fast:
        lines = fast + lines
    source = "def %s(self, %s) -> None:\n    %s\n" % (element.method, ", ".join(signature), "\n    ".join(lines))
    namespace: Dict[str, Any] = {"_D%d" % i: p.default for i, p in enumerate(element.params)}
    namespace.update(_ZERO=_elements.ZERO, _I3=ctypes.c_int32 * 3, _corners=_corners, Error=Error, _i32=i32,
                     _w16=w16, _u16=u16, _c16=c16, _dim=_guards.dim, _finite=_guards.finite, _mag=_guards.mag,
                     _text=text_bytes, _props=_values.properties)
    exec(compile(source, "<carvelle %s>" % element.method, "exec"), namespace)
    method = namespace[element.method]
    method.__qualname__ = "StructureBase." + element.method
    method.__doc__ = _elements.docstring(element)
    return method


for _element in _elements.ELEMENTS:
    setattr(StructureBase, _element.method, _method(_element))


# ctypes lets go of the GIL in every C call: one call at a time per writer,
# as the compiled module keeps it; a call meeting another one in flight
# (an element, a batch, close) waits for it, never runs beside it. A call
# from the thread that holds the writer (a signal handler that ran in the
# middle of a batch) is refused: waiting would never end.
def _exclusive(method: Any, writer_of: Any) -> Any:
    @functools.wraps(method)
    def call(self: Any, *args: Any, **kwargs: Any) -> Any:
        writer = writer_of(self)
        me = threading.get_ident()
        if writer._owner == me:
            raise RuntimeError("the library is being written by the call that this code interrupted (a signal "
                               "handler); write from the handler's caller instead")
        with writer._lock:
            writer._owner = me
            try:
                return method(self, *args, **kwargs)
            finally:
                writer._owner = None
    return call


for _name in ("begin_structure", "end_structure", "end_library"):
    setattr(Writer, _name, _exclusive(getattr(Writer, _name), lambda writer: writer))
for _name, _method in list(vars(StructureBase).items()):
    if callable(_method) and (not _name.startswith("_") or _name == "_write_batch"):
        setattr(StructureBase, _name, _exclusive(_method, lambda structure: structure._writer))
