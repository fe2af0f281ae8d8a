# SPDX-License-Identifier: MIT
"""The checks of the batch writers' arrays, for both doors; the writers
themselves (_batch_writers) are generated from the element table.

Each writer checks its arrays once, then the backend's _write_batch writes
every element in one call. The arrays follow the element table
(_elements): the heads (corners, vertices and offsets, positions, names),
then one column per keyword parameter in the C function's order. In the integer door coordinates are
int32; in the user door (a scale other than 0) they are float64, which the
backend scales and rounds element by element, without a temporary array.
"""

from typing import TYPE_CHECKING, Any, Dict, List

from . import _arrays, _elements, _guards, _values


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


class BatchArrays:
    """The array checks under the batch writers of a Structure and its user view."""

    _scale: float

    if TYPE_CHECKING:  # the backend's
        def _write_batch(self, method: str, properties: Any, *arrays: Any) -> None: ...

    def _heads(self, value: Any, width: int, what: str) -> Any:
        if self._scale:
            return _arrays.float_rows(value, width, what)
        return _arrays.rows(value, width, what)

    def _shared_text(self, value: Any, what: str) -> bytes:
        """One name for every element, as bytes."""
        name = _values.text_bytes(value, what)
        if name is None:
            raise TypeError("%s must be str or bytes, not None" % what)
        return name

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
                if np.ndim(_values.unmasked(value, param.name)) == 0:
                    value = [_values.real(value, param.name)]
                data = np.ascontiguousarray(value, dtype=np.float64)
                if data.ndim != 1 or len(data) not in (1, n):
                    raise ValueError("%s must be a scalar or an array of %d values" % (param.name, n))
                columns.append(data)
            elif param.kind in ("real", "mag"):
                columns.append(_guarded(_arrays.column(value, n, "f64", param.name), param.kind, param.name))
            else:
                columns.append(_arrays.column(value, n, param.kind if param.kind in ("w16", "u16") else "i32",
                                              param.name))
        return columns
