# SPDX-License-Identifier: MIT
"""Units, and the door for coordinates in user units.

A Library's units are given either as the UNITS record holds them
(user_unit: the database unit in user units, meter_unit: the database unit
in metres) or as gdspy and gdstk name them (unit: the user unit in metres,
precision: the database unit in metres). Element methods of a Structure
take integers in database units, exactly; its `user` view takes numbers in
user units and rounds each to the nearest database unit, halves away from
zero.
"""

import math
from typing import TYPE_CHECKING, Any, Optional, Sequence, Tuple

from . import _values

if TYPE_CHECKING:
    from ._library import Structure


class Units:
    """The units of one library; see the module text."""

    def __init__(self, user_unit: float, meter_unit: float) -> None:
        self.user_unit = _positive(user_unit, "user_unit")
        self.meter_unit = _positive(meter_unit, "meter_unit")

    @classmethod
    def from_arguments(cls, user_unit: Optional[float], meter_unit: Optional[float], unit: Optional[float],
                       precision: Optional[float]) -> "Units":
        if unit is None and precision is None:
            return cls(1e-3 if user_unit is None else user_unit, 1e-9 if meter_unit is None else meter_unit)
        if user_unit is not None or meter_unit is not None:
            raise TypeError("give unit and precision (metres, as gdspy) or user_unit and meter_unit "
                            "(as the UNITS record), not both")
        unit = 1e-6 if unit is None else _positive(unit, "unit")
        precision = 1e-9 if precision is None else _positive(precision, "precision")
        return cls(precision / unit, precision)

    @property
    def unit(self) -> float:
        """The user unit in metres."""
        return self.meter_unit / self.user_unit

    @property
    def precision(self) -> float:
        """The database unit in metres."""
        return self.meter_unit

    @property
    def scale(self) -> float:
        """Database units per user unit: 1 / user_unit, made whole when it
        is one but for the rounding of the division (1e-6 / 1e-9)."""
        scale = 1.0 / self.user_unit
        whole = round(scale)
        return float(whole) if whole and abs(scale - whole) <= 1e-9 * abs(scale) else scale

    def __repr__(self) -> str:
        return "Units(user_unit=%r, meter_unit=%r)" % (self.user_unit, self.meter_unit)


def _positive(value: object, what: str) -> float:
    """A unit: finite and greater than 0 (checked before the file is made)."""
    number = _values.real(value, what)
    if not (number > 0 and math.isfinite(number)):
        raise ValueError("%s=%r: a unit must be finite and greater than 0" % (what, value))
    return number


def round_half_away(value: float) -> int:
    whole = math.trunc(value)
    # value - whole is exact: it only drops the bits left of the point.
    return whole + (1 if value > 0 else -1) if abs(value - whole) >= 0.5 else whole


def to_database(value: object, scale: float, what: str) -> int:
    if isinstance(value, bool):
        raise TypeError("%s must be a number, not bool" % what)
    scaled = _values.real(value, what) * scale
    if not math.isfinite(scaled):
        raise ValueError("%s=%r is not finite in database units" % (what, value))
    number = round_half_away(scaled)
    if not _values.I32_MIN <= number <= _values.I32_MAX:
        raise OverflowError("%s=%r is %d database units, outside the 32-bit range" % (what, value, number))
    return number


def array_to_database(values: Any, scale: float, what: str) -> Any:
    """A numpy array in user units as int32 database units, same rules."""
    import numpy as np
    data = np.asarray(values)
    if data.dtype.kind not in "iuf":
        raise TypeError("%s must hold numbers, not %s" % (what, data.dtype))
    scaled = data.astype(np.float64) * scale
    if not np.all(np.isfinite(scaled)):
        raise ValueError("%s holds values that are not finite in database units" % what)
    whole = np.trunc(scaled)
    rounded = whole + np.sign(scaled) * (np.abs(scaled - whole) >= 0.5)
    if rounded.size and (rounded.min() < _values.I32_MIN or rounded.max() > _values.I32_MAX):
        raise OverflowError("%s holds values outside the 32-bit range in database units" % what)
    return rounded.astype(np.int32)


class UserUnitView:
    """The element writers of a Structure taking coordinates, widths and radii
    in user units (any real number), rounded to database units."""

    def __init__(self, structure: "Structure", scale: float) -> None:
        self._structure = structure
        self.scale = scale

    def _d(self, value: object, what: str) -> int:
        return to_database(value, self.scale, what)

    def _points(self, points: Any, ys: Any) -> Tuple[Any, Any]:
        if ys is not None:
            return self._column(points, "xs"), self._column(ys, "ys")
        if _values.is_numpy(points):
            return array_to_database(points, self.scale, "points"), None
        return [(self._d(p[0], "x"), self._d(p[1], "y")) for p in points], None

    def _column(self, values: Any, what: str) -> Any:
        if _values.is_numpy(values):
            return array_to_database(values, self.scale, what)
        return [self._d(value, what) for value in values]

    def boundary(self, points: Any, ys: Any = None, **options: Any) -> None:
        self._structure.boundary(*self._points(points, ys), **options)

    def box(self, x1: float, y1: float, x2: float, y2: float, **options: Any) -> None:
        d = self._d
        self._structure.box(d(x1, "x1"), d(y1, "y1"), d(x2, "x2"), d(y2, "y2"), **options)

    def box_wh(self, x: float, y: float, w: float, h: float, **options: Any) -> None:
        d = self._d
        self._structure.box_wh(d(x, "x"), d(y, "y"), d(w, "w"), d(h, "h"), **options)

    def square(self, x: float, y: float, side: float, **options: Any) -> None:
        self._structure.square(self._d(x, "x"), self._d(y, "y"), self._d(side, "side"), **options)

    def path(self, points: Any, ys: Any = None, *, width: float = 0, **options: Any) -> None:
        self._structure.path(*self._points(points, ys), width=self._d(width, "width"), **options)

    def circle(self, cx: float, cy: float, radius: float, count: int, **options: Any) -> None:
        d = self._d
        self._structure.circle(d(cx, "cx"), d(cy, "cy"), d(radius, "radius"), count, **options)

    def arc(self, cx: float, cy: float, radius: float, start_angle: float, end_angle: float, count: int, *,
            width: float = 0, **options: Any) -> None:
        d = self._d
        self._structure.arc(d(cx, "cx"), d(cy, "cy"), d(radius, "radius"), start_angle, end_angle, count,
                            width=d(width, "width"), **options)

    def sector(self, cx: float, cy: float, radius: float, start_angle: float, end_angle: float, count: int,
               **options: Any) -> None:
        d = self._d
        self._structure.sector(d(cx, "cx"), d(cy, "cy"), d(radius, "radius"), start_angle, end_angle, count,
                               **options)

    def text(self, x: float, y: float, text: Any, *, width: float = 0, **options: Any) -> None:
        self._structure.text(self._d(x, "x"), self._d(y, "y"), text, width=self._d(width, "width"), **options)

    def sref(self, sname: Any, x: float, y: float, **options: Any) -> None:
        self._structure.sref(sname, self._d(x, "x"), self._d(y, "y"), **options)

    def aref(self, sname: Any, origin: Sequence[float], col_corner: Optional[Sequence[float]] = None,
             row_corner: Optional[Sequence[float]] = None, cols: Optional[int] = None, rows: Optional[int] = None,
             *, spacing: Optional[Sequence[float]] = None, **options: Any) -> None:
        d = self._d

        def point(p: Optional[Sequence[float]], what: str) -> Optional[Tuple[int, int]]:
            return None if p is None else (d(p[0], what + ".x"), d(p[1], what + ".y"))

        self._structure.aref(sname, point(origin, "origin"), point(col_corner, "col_corner"),
                             point(row_corner, "row_corner"), cols, rows, spacing=point(spacing, "spacing"),
                             **options)

    def node(self, points: Any, ys: Any = None, **options: Any) -> None:
        self._structure.node(*self._points(points, ys), **options)

    def boxes(self, corners: Any, **options: Any) -> None:
        self._structure.boxes(array_to_database(corners, self.scale, "corners"), **options)

    def boundaries(self, vertices: Any, offsets: Any, **options: Any) -> None:
        self._structure.boundaries(array_to_database(vertices, self.scale, "vertices"), offsets, **options)

    def paths(self, vertices: Any, offsets: Any, *, width: Any = 0, **options: Any) -> None:
        self._structure.paths(array_to_database(vertices, self.scale, "vertices"), offsets,
                              width=array_to_database(width, self.scale, "width"), **options)

    def srefs(self, sname: Any, positions: Any, **options: Any) -> None:
        self._structure.srefs(sname, array_to_database(positions, self.scale, "positions"), **options)

    def texts(self, positions: Any, strings: Sequence[Any], *, width: Any = 0, **options: Any) -> None:
        self._structure.texts(array_to_database(positions, self.scale, "positions"), strings,
                              width=array_to_database(width, self.scale, "width"), **options)
