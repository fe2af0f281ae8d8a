# SPDX-License-Identifier: MIT
"""Checks that turn Python values into the C parameters of the library,
refusing instead of cutting: shared by both backends and the batch writers.

Coordinates, widths and PLEX numbers lie in the signed 32-bit range; layer
and type numbers take 0 to 65535 (the C API takes int16_t, so the library
cannot tell -1 from 65535: a negative number is refused here); bit words
take -32768 to 65535 (the 16 bits that reach the file, read signed or
unsigned); counts lie in -32768..32767. bool is neither an integer nor a
real here. A value outside its range raises RangeError, a ValueError.
"""

import calendar
import datetime
import operator
from array import array
from typing import Any, Iterable, Optional, Sequence, Tuple, cast

from ._errors import RangeError

I32_MIN, I32_MAX = -2147483648, 2147483647
W16_MIN, W16_MAX = -32768, 65535   # bit words
U16_MIN, U16_MAX = 0, 65535        # layer and type numbers
C16_MIN, C16_MAX = -32768, 32767   # counts

INT32_CODE = "i" if array("i").itemsize == 4 else "l"

# Two int32 columns: array.array or numpy arrays.
Columns = Tuple[Any, Any]


def index_in(value: object, low: int, high: int, what: str) -> int:
    if is_bool(value):
        raise TypeError("%s must be an integer, not bool" % what)
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError("%s must be an integer, not %s" % (what, type(value).__name__)) from None
    if not low <= number <= high:
        raise RangeError("%s=%d is outside %d..%d" % (what, number, low, high))
    return number


def i32(value: object, what: str) -> int:
    return index_in(value, I32_MIN, I32_MAX, what)


def w16(value: object, what: str) -> int:
    """A 16-bit word as the signed value whose bits reach the file."""
    number = index_in(value, W16_MIN, W16_MAX, what)
    return number - 65536 if number > 32767 else number


def u16(value: object, what: str) -> int:
    """A layer or type number (0..65535) as the signed value whose bits reach the file."""
    number = index_in(value, U16_MIN, U16_MAX, what)
    return number - 65536 if number > 32767 else number


def c16(value: object, what: str) -> int:
    return index_in(value, C16_MIN, C16_MAX, what)


def is_bool(value: object) -> bool:
    return isinstance(value, bool) or type(value).__name__ == "bool_"


def real(value: object, what: str) -> float:
    if isinstance(value, (str, bytes)) or is_bool(value):
        raise TypeError("%s must be a number, not %s" % (what, type(value).__name__))
    try:
        return float(value)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        raise TypeError("%s must be a number, not %s" % (what, type(value).__name__)) from None


def text_bytes(value: object, what: str) -> Optional[bytes]:
    """str (UTF-8) or bytes; None stays None (the library refuses a null string)."""
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


def is_numpy(value: object) -> bool:
    return type(value).__module__.split(".", 1)[0] == "numpy" and hasattr(value, "__array_interface__")


def unmasked(value: Any, what: str) -> Any:
    """value, unless it is a numpy masked array: its mask would be dropped by
    every conversion below, writing the hidden values as if they were data."""
    if any(kind.__module__.startswith("numpy.ma") for kind in type(value).__mro__):
        raise TypeError("%s is a masked array; pass value.compressed() or value.filled(fill_value) "
                        "to say what the masked entries become" % what)
    return value


def numpy_int32(column: Any, what: str) -> Any:
    """A C-contiguous int32 copy or view of an integer array."""
    import numpy as np
    if column.dtype.kind not in "iu":
        raise TypeError("%s must hold integers, not %s" % (what, column.dtype))
    if column.dtype != np.int32:
        if column.size and (int(column.min()) < I32_MIN or int(column.max()) > I32_MAX):
            raise RangeError("%s holds values outside the 32-bit range" % what)
        column = column.astype(np.int32)
    return np.ascontiguousarray(column)


def _sequence_column(values: Sequence[object], what: str) -> "array[int]":
    for value in values:
        if isinstance(value, bool):
            raise TypeError("%s must hold integers, not bool" % what)
    try:
        return array(INT32_CODE, values)  # type: ignore[arg-type]
    except OverflowError:
        raise RangeError("%s holds values outside the 32-bit range" % what) from None
    except TypeError:
        raise TypeError("%s must hold integers" % what) from None


def _column(values: Any, what: str) -> Any:
    if is_numpy(unmasked(values, what)):
        import numpy as np
        values = np.asarray(values)
        if values.ndim != 1:
            raise ValueError("%s must be one-dimensional" % what)
        return numpy_int32(values, what)
    if isinstance(values, (str, bytes)):
        raise TypeError("%s must be a sequence of integers" % what)
    return _sequence_column(list(values), what)


def int32_columns(points: Any, ys: Any = None, what: str = "points") -> Columns:
    """Two int32 columns (xs, ys) from the point arguments of an element.

    points: a sequence of (x, y) pairs, a numpy array of shape (n, 2), or,
    with ys given, the sequence (or 1-D array) of x values. C-contiguous
    int32 numpy columns are passed on without a copy.
    """
    if ys is not None:
        xs_column, ys_column = _column(points, "xs"), _column(ys, "ys")
        if len(xs_column) != len(ys_column):
            raise ValueError("xs has %d values but ys has %d" % (len(xs_column), len(ys_column)))
    elif is_numpy(unmasked(points, what)):
        import numpy as np
        points = np.asarray(points)
        if points.ndim != 2 or points.shape[1] != 2:
            raise ValueError("%s must have shape (n, 2), not %s" % (what, points.shape))
        xs_column, ys_column = numpy_int32(points[:, 0], what), numpy_int32(points[:, 1], what)
    else:
        if isinstance(points, (str, bytes)):
            raise TypeError("%s must be a sequence of (x, y) pairs" % what)
        try:
            pairs = [(p[0], p[1]) if len(p) == 2 else None for p in points]
        except TypeError:
            raise TypeError("%s must be a sequence of (x, y) pairs" % what) from None
        if None in pairs:
            raise ValueError("every point of %s must be an (x, y) pair" % what)
        xs_column = _sequence_column([p[0] for p in pairs], what)  # type: ignore[index]
        ys_column = _sequence_column([p[1] for p in pairs], what)  # type: ignore[index]
    if len(xs_column) > C16_MAX:
        raise RangeError("%d points do not fit the 16-bit count (at most %d)" % (len(xs_column), C16_MAX))
    return xs_column, ys_column


def length(value: Any, otherwise: int) -> int:
    """len(value), or otherwise for a value without one."""
    try:
        return len(value)
    except TypeError:
        return otherwise


def pair(point: object, what: str) -> Tuple[int, int]:
    try:
        coordinates = tuple(cast(Iterable[object], point))
    except TypeError:
        coordinates = ()
    if len(coordinates) != 2:
        raise TypeError("%s must be an (x, y) pair" % what)
    return i32(coordinates[0], what + ".x"), i32(coordinates[1], what + ".y")


# The Calma manual's limits on properties, which the library holds to: see
# GDS_Property in gds_api.h.
PROPERTY_ATTRIBUTE_MIN, PROPERTY_ATTRIBUTE_MAX = 1, 127
PROPERTY_VALUE_MAX = 126
PROPERTY_BYTES_MAX, REFERENCE_PROPERTY_BYTES_MAX = 128, 512


def property_value(value: object, what: str) -> bytes:
    """A property's value as PROPVALUE holds it: str as UTF-8, bytes as they
    are, numbers in decimal (the format's values are strings)."""
    if isinstance(value, bool) or type(value).__name__ == "bool_":
        raise TypeError("%s must be str, bytes or a number, not bool" % what)
    if isinstance(value, (str, bytes, bytearray, memoryview)):
        data = text_bytes(value, what)
        assert data is not None
        return data
    if hasattr(value, "__index__"):
        return b"%d" % operator.index(value)
    if isinstance(value, float) or type(value).__name__.startswith("float"):
        number = float(value)  # type: ignore[arg-type]
        if number != number or number in (float("inf"), float("-inf")):
            raise ValueError("%s=%r is not finite" % (what, number))
        return repr(number).encode("ascii")
    raise TypeError("%s must be str, bytes or a number, not %s" % (what, type(value).__name__))


def properties(mapping: object, reference: bool = False) -> Tuple[Tuple[int, bytes], ...]:
    """The (attribute, value bytes) pairs of an element's properties, checked
    against the format's limits before the element is written; None gives ()."""
    if mapping is None:
        return ()
    items = getattr(mapping, "items", None)
    if items is None:
        raise TypeError("properties must be a mapping {attribute: value}, not %s" % type(mapping).__name__)
    pairs = []
    size = 0
    for attribute, value in items():
        number = index_in(attribute, PROPERTY_ATTRIBUTE_MIN, PROPERTY_ATTRIBUTE_MAX, "property attribute")
        data = property_value(value, "property %d" % number)
        if len(data) > PROPERTY_VALUE_MAX:
            raise ValueError("property %d is %d bytes long; the format holds %d"
                             % (number, len(data), PROPERTY_VALUE_MAX))
        size += 2 + len(data) + (len(data) & 1)
        pairs.append((number, data))
    most = REFERENCE_PROPERTY_BYTES_MAX if reference else PROPERTY_BYTES_MAX
    if size > most:
        raise ValueError("the properties take %d bytes; an element holds %d" % (size, most))
    return tuple(pairs)


# GDS_TIME_ZERO: every word of BGNLIB's and BGNSTR's timestamps zero.
TIME_ZERO = -1


def timestamp_seconds(value: object) -> Optional[int]:
    """Library(timestamp=) as GDS_BeginLibAt takes it: None for the clock (or
    SOURCE_DATE_EPOCH); 0 for zero words; a datetime as seconds since 1970
    in UTC, a naive one read as UTC (so that the bytes do not depend on the
    machine's zone), fractions of a second dropped."""
    if value is None:
        return None
    if isinstance(value, datetime.datetime):
        aware = value if value.tzinfo is not None else value.replace(tzinfo=datetime.timezone.utc)
        seconds = calendar.timegm(aware.utctimetuple())
        if seconds < 0:
            raise ValueError("timestamp %s is before 1970, which the format's stamps do not hold" % value)
        return seconds
    if type(value) is int and value == 0:
        return TIME_ZERO
    raise TypeError("timestamp must be a datetime.datetime or 0, not %r" % (value,))
