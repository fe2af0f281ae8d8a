# SPDX-License-Identifier: MIT
"""Carvelle from Python: write GDSII stream files through the Carvelle library.

    import carvelle

    with carvelle.Library("chip.gds") as lib:          # user unit 1e-3, meter unit 1e-9
        with lib.structure("TOP") as top:
            top.box(0, 0, 1000, 500, layer=1)
            top.boundary([(0, 0), (100, 0), (50, 80)], layer=2)
            top.text(0, -100, "chip", layer=63)

Every call goes straight to the library's C functions; nothing is kept in
Python. A call that the library refuses raises carvelle.Error with the
library's result code, its name and its message.

Integer parameters are checked before the call instead of being cut to their
C width: coordinates, widths and PLEX numbers must lie in the signed 32-bit
range; layers, types, bit words (elflags, strans, presentation), cols and rows
take any value from -32768 to 65535 (the 16 bits that reach the file, read
signed or unsigned); point counts and the count of circle, arc and sector lie
in -32768..32767. A value outside raises OverflowError, a non-integer
TypeError; the library is not called.
"""

import ctypes
import enum
import operator
import os
import sys
from array import array as _array

from . import _native

__all__ = ["Library", "Structure", "Error", "Result", "LoadError", "load", "library_path",
           "error_message", "__version__"]
__version__ = "1.0.0"

LoadError = _native.LoadError


class Result(enum.IntEnum):
    """The library's result codes."""
    GDS_OK = 0
    GDS_ERR_HANDLE = 1
    GDS_ERR_RANGE = 2
    GDS_ERR_OPEN = 3
    GDS_ERR_STARTED = 4
    GDS_ERR_STOPPED = 5
    GDS_ERR_STRUCT_NOT_CLOSED = 6
    GDS_ERR_STRUCT_OPEN = 7
    GDS_ERR_STRUCT_NOT_OPEN = 8
    GDS_ERR_STRUCT_DUPLICATE = 9
    GDS_ERR_TOO_MANY_POINTS = 10
    GDS_ERR_TOO_FEW_POINTS = 11
    GDS_ERR_PATH_POINTS = 12
    GDS_ERR_NO_STRING = 13
    GDS_ERR_STRING_LENGTH = 14
    GDS_ERR_TEXTTYPE = 15
    GDS_ERR_NODE_TOO_MANY = 16
    GDS_ERR_NODE_TOO_FEW = 17
    GDS_ERR_WRITE = 18
    GDS_ERR_NO_POINTS = 19


_ERROR_BUFFER_SIZE = 56  # GDS_ERROR_BUFFER_SIZE


def _functions():
    return _native.load()[1]


def load(path=None):
    """Loads the shared library now (from path, or by the usual search) and
    returns the path it was loaded from. Later calls return the same path."""
    return _native.load(path)[0]


def library_path():
    """Path of the loaded shared library (loading it if needed)."""
    return _native.load()[0]


def error_message(code):
    """The library's message for a result code (GDS_GetError), '' when unknown."""
    code = _int_in(code, -2147483648, 2147483647, "code")
    buffer = ctypes.create_string_buffer(_ERROR_BUFFER_SIZE)
    _functions().GDS_GetError(code, buffer, _ERROR_BUFFER_SIZE)
    return buffer.value.decode("ascii", "replace")


class Error(Exception):
    """A call that the library refused.

    code: the result code (int); name: its name in the C header
    ("GDS_ERR_STRUCT_NOT_OPEN"); message: the library's own text for it,
    byte for byte (some end with a space); function: the C function called.
    """

    def __init__(self, code, function=None):
        super().__init__(code, function)
        self.code = int(code)
        try:
            self.name = Result(self.code).name
        except ValueError:
            self.name = "GDS_ERR_%d" % self.code
        self.function = function
        try:
            self.message = error_message(self.code)
        except Exception:  # the library itself is unavailable
            self.message = ""

    def __str__(self):
        where = "%s: " % self.function if self.function else ""
        return "%s%s (%s, code %d)" % (where, self.message.strip() or "unknown result",
                                       self.name, self.code)


# Parameter ranges (see the module text).
_I32_MIN, _I32_MAX = -2147483648, 2147483647
_W16_MIN, _W16_MAX = -32768, 65535   # layers, types, bit words, cols, rows
_C16_MIN, _C16_MAX = -32768, 32767   # counts


def _int_in(value, low, high, what):
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError("%s must be an integer, not %s" % (what, type(value).__name__)) from None
    if not low <= number <= high:
        raise OverflowError("%s=%d is outside %d..%d" % (what, number, low, high))
    return number


def _i32(value, what):
    return _int_in(value, _I32_MIN, _I32_MAX, what)


def _w16(value, what):
    number = _int_in(value, _W16_MIN, _W16_MAX, what)
    return number - 65536 if number > 32767 else number


def _c16(value, what):
    return _int_in(value, _C16_MIN, _C16_MAX, what)


def _real(value, what):
    try:
        return float(value)
    except (TypeError, ValueError):
        raise TypeError("%s must be a number, not %s" % (what, type(value).__name__)) from None


def _text(value, what):
    """str (UTF-8) or bytes; None passes a null pointer (the library refuses it)."""
    if value is None:
        return None
    if isinstance(value, str):
        data = value.encode("utf-8")
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError("%s must be str or bytes, not %s" % (what, type(value).__name__))
    if b"\0" in data:
        raise ValueError("%s contains a NUL character" % what)
    return data


def _file_name(path):
    if isinstance(path, (bytes, bytearray)):
        data = bytes(path)
    else:
        path = os.fspath(path)
        if isinstance(path, bytes):
            data = path
        elif sys.platform == "win32":
            data = path.encode("mbcs")  # the library opens narrow (ANSI) names
        else:
            data = os.fsencode(path)
    if b"\0" in data:
        raise ValueError("file name contains a NUL character")
    return data


# ---------------------------------------------------------------- points

_INT32_CODE = "i" if _array("i").itemsize == 4 else "l"
_P32 = ctypes.POINTER(ctypes.c_int32)
_EMPTY = (ctypes.c_int32 * 1)()  # a valid pointer for empty lists: the library reports the count


def _is_numpy(value):
    return type(value).__module__.split(".", 1)[0] == "numpy" and hasattr(value, "__array_interface__")


def _numpy_column(np, column, what):
    """A C-contiguous int32 view of a 1-D integer array, copied only if needed."""
    if column.dtype.kind not in "iu" and column.dtype.kind != "b":
        raise TypeError("%s must hold integers, not %s" % (what, column.dtype))
    if column.dtype != np.int32:
        if column.size and (int(column.min()) < _I32_MIN or int(column.max()) > _I32_MAX):
            raise OverflowError("%s holds values outside the 32-bit range" % what)
        column = column.astype(np.int32)
    return np.ascontiguousarray(column)


def _sequence_column(values, what):
    try:
        return _array(_INT32_CODE, values)
    except OverflowError:
        raise OverflowError("%s holds values outside the 32-bit range" % what) from None
    except TypeError:
        raise TypeError("%s must hold integers" % what) from None


def _column(values, what):
    if _is_numpy(values):
        import numpy as np
        values = np.asarray(values)
        if values.ndim != 1:
            raise ValueError("%s must be one-dimensional" % what)
        return _numpy_column(np, values, what)
    if isinstance(values, (str, bytes)):
        raise TypeError("%s must be a sequence of integers" % what)
    return _sequence_column(values, what)


def _pointer(column):
    if len(column) == 0:
        return ctypes.cast(_EMPTY, _P32)
    if isinstance(column, _array):
        return ctypes.cast(column.buffer_info()[0], _P32)
    return column.ctypes.data_as(_P32)


def _xy(points, ys, what="points"):
    """(xs pointer, ys pointer, count, keep-alive) for the point arguments.

    points: a sequence of (x, y) pairs, a numpy array of shape (n, 2), or
    with ys given, the sequence (or 1-D numpy array) of x values. Two
    C-contiguous int32 numpy arrays are passed without a copy.
    """
    if ys is not None:
        xs_column = _column(points, "xs")
        ys_column = _column(ys, "ys")
        if len(xs_column) != len(ys_column):
            raise ValueError("xs has %d values but ys has %d" % (len(xs_column), len(ys_column)))
    elif _is_numpy(points):
        import numpy as np
        points = np.asarray(points)
        if points.ndim != 2 or points.shape[1] != 2:
            raise ValueError("%s must have shape (n, 2), not %s" % (what, points.shape))
        xs_column = _numpy_column(np, points[:, 0], what)
        ys_column = _numpy_column(np, points[:, 1], what)
    else:
        if isinstance(points, (str, bytes)):
            raise TypeError("%s must be a sequence of (x, y) pairs" % what)
        try:
            pairs = [(p[0], p[1]) if len(p) == 2 else None for p in points]
        except TypeError:
            raise TypeError("%s must be a sequence of (x, y) pairs" % what) from None
        if None in pairs:
            raise ValueError("every point of %s must be an (x, y) pair" % what)
        xs_column = _sequence_column([p[0] for p in pairs], what)
        ys_column = _sequence_column([p[1] for p in pairs], what)
    count = len(xs_column)
    if count > _C16_MAX:
        raise OverflowError("%d points do not fit the 16-bit count (at most %d)" % (count, _C16_MAX))
    return _pointer(xs_column), _pointer(ys_column), count, (xs_column, ys_column)


def _pair(point, what):
    try:
        x, y = point
    except (TypeError, ValueError):
        raise TypeError("%s must be an (x, y) pair" % what) from None
    return _i32(x, what + ".x"), _i32(y, what + ".y")


# ---------------------------------------------------------------- library

def _check(code, function):
    if code != 0:
        raise Error(code, function)


class Library:
    """One GDSII file being written (GDS_BeginLib ... GDS_EndLib).

    The file is begun at construction. Use it as a context manager, or call
    close(). Leaving the with block (also by an exception) ends a structure
    that is still open, then the library; when an exception is on its way,
    errors from ending are not raised over it.
    """

    def __init__(self, path, user_unit=1e-3, meter_unit=1e-9):
        functions = _functions()
        name = _file_name(path)
        handle = ctypes.c_void_p()
        code = functions.GDS_BeginLib(name, _real(user_unit, "user_unit"),
                                      _real(meter_unit, "meter_unit"), ctypes.byref(handle))
        self._handle = None
        self._structure = None
        self.path = path
        if code != 0:
            if handle.value:
                # The handle exists even when the file could not be begun.
                functions.GDS_EndLib(handle.value)
            raise Error(code, "GDS_BeginLib")
        self._handle = handle.value
        self._f = functions

    @property
    def closed(self):
        return self._handle is None

    @property
    def handle(self):
        """The GdsHandle as an integer (None once closed), for direct C calls."""
        return self._handle

    def structure(self, name):
        """Begins the structure name (str or bytes) and returns it; use it as
        a context manager or call its end()."""
        data = _text(name, "name")
        _check(self._f.GDS_BeginStructure(self._handle, data), "GDS_BeginStructure")
        self._structure = Structure(self, name)
        return self._structure

    def close(self):
        """Ends the library (GDS_EndLib): writes ENDLIB and closes the file.
        The handle is released whatever the result; a second close does
        nothing. Raises Error for a structure left open (the file is then
        closed without its last records) or a failed write."""
        handle, self._handle = self._handle, None
        if handle is None:
            return
        if self._structure is not None:
            self._structure._open = False
            self._structure = None
        _check(self._f.GDS_EndLib(handle), "GDS_EndLib")

    def _finish(self, raising):
        """Ends an open structure, then the library."""
        if self._handle is None:
            return
        first = None
        if self._structure is not None and self._structure._open:
            try:
                self._structure.end()
            except Error as error:
                first = error
        try:
            self.close()
        except Error as error:
            first = first or error
        if raising and first is not None:
            raise first

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        self._finish(raising=kind is None)
        return False

    def __del__(self):
        try:
            self._finish(raising=False)
        except Exception:
            pass

    def __repr__(self):
        state = "closed" if self._handle is None else "open"
        return "<carvelle.Library %r %s>" % (self.path, state)


class Structure:
    """The open structure of a Library; element methods write into it.

    Coordinates are in database units. Keyword arguments default to 0,
    mag to 1.0 and angles to 0.0.
    """

    def __init__(self, library, name):
        self._library = library
        self.name = name
        self._open = True

    @property
    def library(self):
        return self._library

    @property
    def closed(self):
        return not self._open

    def _h(self, function):
        if not self._open:
            # This structure has ended: do not write into whatever the
            # library has open now.
            raise Error(Result.GDS_ERR_STRUCT_NOT_OPEN, function)
        return self._library._handle

    def end(self):
        """Ends the structure (GDS_EndStructure)."""
        handle = self._h("GDS_EndStructure")
        self._open = False
        if self._library._structure is self:
            self._library._structure = None
        _check(self._library._f.GDS_EndStructure(handle), "GDS_EndStructure")

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        if self._open and self._library._handle is not None:
            try:
                self.end()
            except Error:
                if kind is None:
                    raise
        return False

    def __repr__(self):
        return "<carvelle.Structure %r %s>" % (self.name, "open" if self._open else "ended")

    # ------------------------------------------------------------ elements

    def boundary(self, points, ys=None, *, layer=0, datatype=0, elflags=0, plex=0):
        """BOUNDARY through the points (3 to 8189; the ring is closed by the
        library). points: (x, y) pairs, an (n, 2) array, or xs with ys."""
        xs_p, ys_p, count, keep = _xy(points, ys)
        _check(self._library._f.GDS_Boundary(
            self._h("GDS_Boundary"), xs_p, ys_p, count, _w16(layer, "layer"),
            _w16(datatype, "datatype"), _w16(elflags, "elflags"), _i32(plex, "plex")), "GDS_Boundary")

    def box(self, x1, y1, x2, y2, *, layer=0, boxtype=0, elflags=0, plex=0):
        """BOX with corners (x1, y1) and (x2, y2)."""
        # Fast path for the common call: plain range tests, ctypes converts
        # (a 16-bit value above 32767 goes over as its bits). Anything unusual
        # takes the checking path below for its proper exception.
        try:
            if (_I32_MIN <= x1 <= _I32_MAX and _I32_MIN <= y1 <= _I32_MAX and _I32_MIN <= x2 <= _I32_MAX
                    and _I32_MIN <= y2 <= _I32_MAX and _W16_MIN <= layer <= _W16_MAX
                    and _W16_MIN <= boxtype <= _W16_MAX and _W16_MIN <= elflags <= _W16_MAX
                    and _I32_MIN <= plex <= _I32_MAX):
                code = self._library._f.GDS_Box(self._h("GDS_Box"), x1, y1, x2, y2, layer, boxtype,
                                                elflags, plex)
                if code:
                    raise Error(code, "GDS_Box")
                return
        except (TypeError, ctypes.ArgumentError):
            pass
        _check(self._library._f.GDS_Box(
            self._h("GDS_Box"), _i32(x1, "x1"), _i32(y1, "y1"), _i32(x2, "x2"), _i32(y2, "y2"),
            _w16(layer, "layer"), _w16(boxtype, "boxtype"), _w16(elflags, "elflags"),
            _i32(plex, "plex")), "GDS_Box")

    def box_wh(self, x, y, w, h, *, layer=0, boxtype=0, elflags=0, plex=0):
        """BOX from (x, y) to (x + w, y + h)."""
        _check(self._library._f.GDS_BoxWH(
            self._h("GDS_BoxWH"), _i32(x, "x"), _i32(y, "y"), _i32(w, "w"), _i32(h, "h"),
            _w16(layer, "layer"), _w16(boxtype, "boxtype"), _w16(elflags, "elflags"),
            _i32(plex, "plex")), "GDS_BoxWH")

    def square(self, x, y, side, *, layer=0, boxtype=0, elflags=0, plex=0):
        """BOX from (x, y) to (x + side, y + side)."""
        _check(self._library._f.GDS_Square(
            self._h("GDS_Square"), _i32(x, "x"), _i32(y, "y"), _i32(side, "side"),
            _w16(layer, "layer"), _w16(boxtype, "boxtype"), _w16(elflags, "elflags"),
            _i32(plex, "plex")), "GDS_Square")

    def path(self, points, ys=None, *, width=0, layer=0, datatype=0, pathtype=0, elflags=0, plex=0):
        """PATH through the points (2 to 32767)."""
        xs_p, ys_p, count, keep = _xy(points, ys)
        _check(self._library._f.GDS_Path(
            self._h("GDS_Path"), xs_p, ys_p, count, _i32(width, "width"), _w16(layer, "layer"),
            _w16(datatype, "datatype"), _w16(pathtype, "pathtype"), _w16(elflags, "elflags"),
            _i32(plex, "plex")), "GDS_Path")

    def circle(self, cx, cy, radius, count, *, layer=0, datatype=0, elflags=0, plex=0):
        """Circle of count points (3 to 8189) written as a BOUNDARY."""
        _check(self._library._f.GDS_Circle(
            self._h("GDS_Circle"), _i32(cx, "cx"), _i32(cy, "cy"), _i32(radius, "radius"),
            _c16(count, "count"), _w16(layer, "layer"), _w16(datatype, "datatype"),
            _w16(elflags, "elflags"), _i32(plex, "plex")), "GDS_Circle")

    def arc(self, cx, cy, radius, start_angle, end_angle, count, *, width=0, layer=0,
            datatype=0, pathtype=0, elflags=0, plex=0):
        """Arc of count points (3 to 8189) written as a PATH; angles in degrees."""
        _check(self._library._f.GDS_Arc(
            self._h("GDS_Arc"), _i32(cx, "cx"), _i32(cy, "cy"), _i32(radius, "radius"),
            _real(start_angle, "start_angle"), _real(end_angle, "end_angle"),
            _c16(count, "count"), _i32(width, "width"), _w16(layer, "layer"),
            _w16(datatype, "datatype"), _w16(pathtype, "pathtype"), _w16(elflags, "elflags"),
            _i32(plex, "plex")), "GDS_Arc")

    def sector(self, cx, cy, radius, start_angle, end_angle, count, *, layer=0, datatype=0,
               elflags=0, plex=0):
        """Sector (the centre and count - 1 arc points) written as a BOUNDARY."""
        _check(self._library._f.GDS_Sector(
            self._h("GDS_Sector"), _i32(cx, "cx"), _i32(cy, "cy"), _i32(radius, "radius"),
            _real(start_angle, "start_angle"), _real(end_angle, "end_angle"),
            _c16(count, "count"), _w16(layer, "layer"), _w16(datatype, "datatype"),
            _w16(elflags, "elflags"), _i32(plex, "plex")), "GDS_Sector")

    def text(self, x, y, text, *, layer=0, texttype=0, presentation=0, pathtype=0, width=0,
             strans=0, mag=1.0, angle=0.0, elflags=0, plex=0):
        """TEXT element at (x, y); text is str (UTF-8) or bytes."""
        _check(self._library._f.GDS_Text(
            self._h("GDS_Text"), _i32(x, "x"), _i32(y, "y"), _text(text, "text"),
            _w16(layer, "layer"), _w16(texttype, "texttype"), _w16(presentation, "presentation"),
            _w16(pathtype, "pathtype"), _i32(width, "width"), _w16(strans, "strans"),
            _real(mag, "mag"), _real(angle, "angle"), _w16(elflags, "elflags"),
            _i32(plex, "plex")), "GDS_Text")

    def sref(self, sname, x, y, *, strans=0, mag=1.0, angle=0.0, elflags=0, plex=0):
        """SREF placing the structure sname at (x, y)."""
        _check(self._library._f.GDS_Sref(
            self._h("GDS_Sref"), _text(sname, "sname"), _i32(x, "x"), _i32(y, "y"),
            _w16(strans, "strans"), _real(mag, "mag"), _real(angle, "angle"),
            _w16(elflags, "elflags"), _i32(plex, "plex")), "GDS_Sref")

    def aref(self, sname, origin, col_corner, row_corner, cols, rows, *, strans=0, mag=1.0,
             angle=0.0, elflags=0, plex=0):
        """AREF of cols x rows instances of sname. origin, col_corner and
        row_corner are (x, y) pairs: the origin, the origin displaced by cols
        column pitches, and by rows row pitches."""
        corners = [_pair(origin, "origin"), _pair(col_corner, "col_corner"),
                   _pair(row_corner, "row_corner")]
        xs = (ctypes.c_int32 * 3)(*(c[0] for c in corners))
        ys = (ctypes.c_int32 * 3)(*(c[1] for c in corners))
        _check(self._library._f.GDS_Aref(
            self._h("GDS_Aref"), _text(sname, "sname"), xs, ys, _w16(cols, "cols"),
            _w16(rows, "rows"), _w16(strans, "strans"), _real(mag, "mag"), _real(angle, "angle"),
            _w16(elflags, "elflags"), _i32(plex, "plex")), "GDS_Aref")

    def node(self, points, ys=None, *, layer=0, nodetype=0, elflags=0, plex=0):
        """NODE of 1 to 50 points."""
        xs_p, ys_p, count, keep = _xy(points, ys)
        _check(self._library._f.GDS_Node(
            self._h("GDS_Node"), xs_p, ys_p, count, _w16(layer, "layer"),
            _w16(nodetype, "nodetype"), _w16(elflags, "elflags"), _i32(plex, "plex")), "GDS_Node")
