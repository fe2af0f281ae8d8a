# SPDX-License-Identifier: MIT
"""Shapes and types of the batch writers' arrays, checked once before any
element is written: both backends then loop over plain typed arrays.

Ragged data (polygons, paths) comes as one flat (M, 2) vertex array and an
offsets array of N + 1 entries, element i taking vertices offsets[i] to
offsets[i + 1] (the layout of Arrow and awkward). Per-element parameters
are a scalar or an array of length N; a scalar comes back as an array of
length 1, which the writers repeat.
"""

from typing import Any, Sequence, Tuple

from . import _values
from ._errors import RangeError


def numpy_module() -> Any:
    try:
        import numpy
    except ImportError:
        raise ImportError("the batch writers need numpy") from None
    return numpy


def _shaped(value: Any, width: int, what: str, kinds: str, holding: str) -> Any:
    """value as an (N, width) numpy array whose dtype kind is one of kinds."""
    data = numpy_module().asarray(_values.unmasked(value, what))
    if data.ndim != 2 or data.shape[1] != width:
        raise ValueError("%s must have shape (n, %d), not %s" % (what, width, data.shape))
    if data.dtype.kind not in kinds:
        raise TypeError("%s must hold %s, not %s" % (what, holding, data.dtype))
    return data


def rows(value: Any, width: int, what: str) -> Any:
    """An (N, width) C-contiguous int32 array."""
    return _values.numpy_int32(_shaped(value, width, what, "iu", "integers"), what)


def float_rows(value: Any, width: int, what: str) -> Any:
    """An (N, width) C-contiguous float64 array (the input itself when it is one)."""
    return numpy_module().ascontiguousarray(_shaped(value, width, what, "iuf", "numbers"), dtype="float64")


def ragged(vertices: Any, offsets: Any, most: int, what: str) -> Tuple[Any, Any]:
    """(vertices as (M, 2) int32, offsets as int64 of N + 1 entries); every
    element must have at most `most` vertices (its count is 16 bits)."""
    points = rows(vertices, 2, what)
    return points, element_offsets(offsets, len(points), most, what)


def element_offsets(offsets: Any, vertices: int, most: int, what: str) -> Any:
    """offsets as int64 of N + 1 entries from 0 to vertices, no element with
    more than `most` vertices."""
    np = numpy_module()
    starts = np.asarray(_values.unmasked(offsets, "offsets"))
    if starts.ndim != 1 or starts.size == 0 or starts.dtype.kind not in "iu":
        raise ValueError("offsets must be a 1-D integer array of N + 1 entries")
    starts = np.ascontiguousarray(starts, dtype=np.int64)
    if starts[0] != 0 or starts[-1] != vertices:
        raise ValueError("offsets must start at 0 and end at %d (the vertex count), not %d and %d"
                         % (vertices, starts[0], starts[-1]))
    counts = np.diff(starts)
    if counts.size and counts.min() < 0:
        raise ValueError("offsets decrease at element %d" % int(np.argmax(counts < 0)))
    if counts.size and counts.max() > most:
        raise RangeError("element %d of %s has %d vertices (at most %d)"
                         % (int(np.argmax(counts > most)), what, int(counts.max()), most))
    return starts


_KINDS = {
    "w16": ("int16", _values.W16_MIN, _values.W16_MAX),
    "u16": ("int16", _values.U16_MIN, _values.U16_MAX),
    "i32": ("int32", _values.I32_MIN, _values.I32_MAX),
}


def column(value: Any, count: int, kind: str, what: str) -> Any:
    """A parameter of N elements: int16 bits ("w16"), a 16-bit number ("u16"), int32 ("i32") or
    float64 ("f64"), of length N or (for a scalar) 1."""
    np = numpy_module()
    if np.ndim(_values.unmasked(value, what)) == 0:
        if _values.is_numpy(value):
            value = value.item()
        if kind == "f64":
            return np.array([_values.real(value, what)], dtype=np.float64)
        if kind in ("w16", "u16"):
            return np.array([(_values.w16 if kind == "w16" else _values.u16)(value, what)], dtype=np.int16)
        return np.array([_values.i32(value, what)], dtype=np.int32)
    data = np.asarray(value)
    if data.ndim != 1 or len(data) != count:
        raise ValueError("%s must be a scalar or an array of %d values, not shape %s" % (what, count, data.shape))
    if kind == "f64":
        if data.dtype.kind not in "iuf":
            raise TypeError("%s must hold numbers, not %s" % (what, data.dtype))
        return np.ascontiguousarray(data, dtype=np.float64)
    if data.dtype.kind not in "iu":
        raise TypeError("%s must hold integers, not %s" % (what, data.dtype))
    dtype, low, high = _KINDS[kind]
    if data.size and (int(data.min()) < low or int(data.max()) > high):
        raise RangeError("%s holds values outside %d..%d" % (what, low, high))
    # Unsigned 16-bit words keep their bits: 0x8000 becomes -32768.
    return np.ascontiguousarray(data.astype(np.int64).astype(dtype))


def strings(values: Sequence[object], count: int, what: str) -> Tuple[bytes, ...]:
    """N strings as UTF-8 bytes (a tuple: nobody can change it during the write)."""
    if isinstance(values, (str, bytes)):
        raise TypeError("%s must be a sequence of strings" % what)
    encoded = []
    for index, value in enumerate(values):
        data = _values.text_bytes(value, "%s[%d]" % (what, index))
        if data is None:
            raise TypeError("%s[%d] is None" % (what, index))
        encoded.append(data)
    if len(encoded) != count:
        raise ValueError("%d %s for %d positions" % (len(encoded), what, count))
    return tuple(encoded)
