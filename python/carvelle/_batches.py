# SPDX-License-Identifier: MIT
"""The batch writers, for both doors, over the backends' _write_batch.

Each checks its arrays once, then the backend writes every element in one
call. The arrays follow the element table (_elements): the heads (corners,
vertices and offsets, positions, names), then one column per keyword
parameter in the C function's order. In the integer door coordinates are
int32; in the user door (a scale other than 0) they are float64, which the
backend scales and rounds element by element, without a temporary array.
"""

from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Union

from . import _arrays, _elements, _guards, _values

if TYPE_CHECKING:
    import numpy.typing as npt
    ArrayLike = npt.ArrayLike
else:
    ArrayLike = Any

_PATH_MOST = 32767      # a PATH's count is 16 bits; the library splits long ones
_BOUNDARY_MOST = 8189   # the library refuses more, element by element


def _guarded(data: Any, kind: str, what: str) -> Any:
    """Refuses the first mag or angle that readers would refuse, by index."""
    np = _arrays.numpy_module()
    with np.errstate(invalid="ignore"):
        bad = ~(np.abs(data) < _guards.REAL_LIMIT)
        if kind == "mag":
            bad |= ~(data >= _guards.REAL_MIN)
    if bad.any():
        index = int(np.argmax(bad))
        check = _guards.mag if kind == "mag" else _guards.finite
        check(float(data[index]), "%s[%d]" % (what, index))
    return data


class BatchWriters:
    """The batch writers of a Structure and of its user-unit view."""

    _scale: float

    if TYPE_CHECKING:  # the backend's
        def _write_batch(self, method: str, *arrays: Any) -> None: ...

    def _heads(self, value: Any, width: int, what: str) -> Any:
        if self._scale:
            return _arrays.float_rows(value, width, what)
        return _arrays.rows(value, width, what)

    def _ragged(self, vertices: Any, offsets: Any, most: int) -> List[Any]:
        if not self._scale:
            return list(_arrays.ragged(vertices, offsets, most, "vertices"))
        points = _arrays.float_rows(vertices, 2, "vertices")
        return [points, _arrays.element_offsets(offsets, len(points), most, "vertices")]

    def _columns(self, method: str, n: int, given: Dict[str, Any]) -> List[Any]:
        """One array per keyword parameter of the element, in the table's order."""
        np = _arrays.numpy_module()
        columns = []
        for param in _elements.BY_METHOD[method].keywords:
            value = given[param.name]
            alias = given.get(param.alias) if param.alias else None
            if alias is not None:
                if value is not _elements.ZERO:
                    raise TypeError("%s() takes %s or its alias %s, not both" % (method, param.name, param.alias))
                value = alias
            if param.kind == "coord" and self._scale:
                if np.ndim(value) == 0:
                    value = [_values.real(value, param.name)]
                data = np.ascontiguousarray(value, dtype=np.float64)
                if data.ndim != 1 or len(data) not in (1, n):
                    raise ValueError("%s must be a scalar or an array of %d values" % (param.name, n))
                columns.append(data)
            elif param.kind in ("real", "mag"):
                columns.append(_guarded(_arrays.column(value, n, "f64", param.name), param.kind, param.name))
            else:
                columns.append(_arrays.column(value, n, "w16" if param.kind == "w16" else "i32", param.name))
        return columns

    def boxes(self, corners: ArrayLike, *, layer: ArrayLike = 0, boxtype: ArrayLike = _elements.ZERO,
              elflags: ArrayLike = 0, plex: ArrayLike = 0, datatype: Optional[ArrayLike] = None) -> None:
        """BOX elements from an (N, 4) array of x1, y1, x2, y2; datatype= means boxtype."""
        data = self._heads(corners, 4, "corners")
        self._write_batch("box", data, *self._columns("box", len(data), dict(
            layer=layer, boxtype=boxtype, elflags=elflags, plex=plex, datatype=datatype)))

    def rectangles(self, corners: ArrayLike, *, layer: ArrayLike = 0, datatype: ArrayLike = 0,
                   elflags: ArrayLike = 0, plex: ArrayLike = 0) -> None:
        """Closed five-point BOUNDARY elements from an (N, 4) array of x1, y1, x2, y2."""
        data = self._heads(corners, 4, "corners")
        self._write_batch("rectangle", data, *self._columns("rectangle", len(data), dict(
            layer=layer, datatype=datatype, elflags=elflags, plex=plex)))

    def boundaries(self, vertices: ArrayLike, offsets: ArrayLike, *, layer: ArrayLike = 0,
                   datatype: ArrayLike = 0, elflags: ArrayLike = 0, plex: ArrayLike = 0) -> None:
        """BOUNDARY elements: polygon i has the vertices offsets[i] to
        offsets[i + 1] of the (M, 2) array vertices (3 to 8189 each)."""
        heads = self._ragged(vertices, offsets, _BOUNDARY_MOST)
        self._write_batch("boundary", *heads, *self._columns("boundary", len(heads[1]) - 1, dict(
            layer=layer, datatype=datatype, elflags=elflags, plex=plex)))

    def paths(self, vertices: ArrayLike, offsets: ArrayLike, *, width: ArrayLike = 0, layer: ArrayLike = 0,
              datatype: ArrayLike = 0, pathtype: ArrayLike = 0, elflags: ArrayLike = 0,
              plex: ArrayLike = 0) -> None:
        """PATH elements: path i has the vertices offsets[i] to offsets[i + 1]."""
        heads = self._ragged(vertices, offsets, _PATH_MOST)
        self._write_batch("path", *heads, *self._columns("path", len(heads[1]) - 1, dict(
            width=width, layer=layer, datatype=datatype, pathtype=pathtype, elflags=elflags, plex=plex)))

    def srefs(self, sname: Union[str, bytes], positions: ArrayLike, *, strans: ArrayLike = 0, mag: ArrayLike = 1.0,
              angle: ArrayLike = 0.0, elflags: ArrayLike = 0, plex: ArrayLike = 0) -> None:
        """SREF elements placing sname at each row of an (N, 2) array."""
        name = _values.text_bytes(sname, "sname")
        if name is None:
            raise TypeError("sname must be str or bytes, not None")
        data = self._heads(positions, 2, "positions")
        self._write_batch("sref", name, data, *self._columns("sref", len(data), dict(
            strans=strans, mag=mag, angle=angle, elflags=elflags, plex=plex)))

    def texts(self, positions: ArrayLike, strings: Sequence[Union[str, bytes]], *, layer: ArrayLike = 0,
              texttype: ArrayLike = _elements.ZERO, presentation: ArrayLike = 0, pathtype: ArrayLike = 0,
              width: ArrayLike = 0, strans: ArrayLike = 0, mag: ArrayLike = 1.0, angle: ArrayLike = 0.0,
              elflags: ArrayLike = 0, plex: ArrayLike = 0, datatype: Optional[ArrayLike] = None) -> None:
        """TEXT elements: strings[i] at row i of an (N, 2) array; datatype= means texttype."""
        data = self._heads(positions, 2, "positions")
        self._write_batch("text", data, _arrays.strings(strings, len(data), "strings"), *self._columns(
            "text", len(data), dict(layer=layer, texttype=texttype, presentation=presentation,
                                    pathtype=pathtype, width=width, strans=strans, mag=mag, angle=angle,
                                    elflags=elflags, plex=plex, datatype=datatype)))
