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
from typing import Any, Iterable, Optional, Tuple, cast

from . import _guards, _values
from ._errors import RangeError


class Units:
    """The units of one library (`Library.units`), as the UNITS record holds them.

    Parameters
    ----------
    user_unit : float
        The database unit in user units (0.001: user units of 1000
        database units).
    meter_unit : float
        The database unit in metres (1e-9: a 1 nm grid).

    Raises
    ------
    ValueError
        When a unit is not finite and greater than 0.

    Examples
    --------
    >>> carvelle.Units(1e-3, 1e-9).unit
    1e-06
    """

    def __init__(self, user_unit: float, meter_unit: float) -> None:
        self.user_unit = _positive(user_unit, "user_unit")
        self.meter_unit = _positive(meter_unit, "meter_unit")

    @classmethod
    def from_arguments(cls, user_unit: Optional[float], meter_unit: Optional[float], unit: Optional[float],
                       precision: Optional[float]) -> "Units":
        """The units from Library's keywords: either form, or the defaults.

        Parameters
        ----------
        user_unit, meter_unit : float or None
            As the UNITS record holds them (defaults 1e-3 and 1e-9).
        unit, precision : float or None
            As gdspy and gdstk take them, in metres (defaults 1e-6 and 1e-9).

        Returns
        -------
        Units

        Raises
        ------
        TypeError
            When both forms are given.
        ValueError
            When a unit is not finite and greater than 0.

        Examples
        --------
        >>> carvelle.Units.from_arguments(None, None, 1e-6, 1e-9)
        Units(user_unit=0.001, meter_unit=1e-09)
        """
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
        """Database units per user unit, 1 / user_unit, made whole when it
        is one but for the rounding of the division (1e-6 / 1e-9)."""
        scale = 1.0 / self.user_unit
        whole = round(scale)
        return float(whole) if whole and abs(scale - whole) <= 1e-9 * abs(scale) else scale

    def __repr__(self) -> str:
        return "Units(user_unit=%r, meter_unit=%r)" % (self.user_unit, self.meter_unit)


def _positive(value: object, what: str) -> float:
    """A unit: finite and greater than 0, and one that UNITS holds as given
    (checked before the file is made). The eight-byte real's smallest
    magnitude is 2**-260 (about 5.5e-79); anything smaller would be written
    as 0, a database unit that readers take as no size at all."""
    number = _values.real(value, what)
    if not (number > 0 and math.isfinite(number)):
        raise ValueError("%s=%r: a unit must be finite and greater than 0" % (what, value))
    if not _guards.REAL_MIN <= number < _guards.REAL_LIMIT:
        raise RangeError("%s=%r: UNITS holds magnitudes from 2**-260 (about 5.5e-79) up to 2**252 only"
                         % (what, value))
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
        raise RangeError("%s=%r is %d database units, outside the 32-bit range" % (what, value, number))
    return number


def array_to_database(values: Any, scale: float, what: str) -> Any:
    """A numpy array in user units as int32 database units, same rules."""
    import numpy as np
    data = np.asarray(_values.unmasked(values, what))
    if data.dtype.kind not in "iuf":
        raise TypeError("%s must hold numbers, not %s" % (what, data.dtype))
    scaled = data.astype(np.float64) * scale
    if not np.all(np.isfinite(scaled)):
        raise ValueError("%s holds values that are not finite in database units" % what)
    whole = np.trunc(scaled)
    rounded = whole + np.sign(scaled) * (np.abs(scaled - whole) >= 0.5)
    if rounded.size and (rounded.min() < _values.I32_MIN or rounded.max() > _values.I32_MAX):
        raise RangeError("%s holds values outside the 32-bit range in database units" % what)
    return rounded.astype(np.int32)


def user_pair(point: object, what: str, scale: float) -> Tuple[int, int]:
    """An (x, y) corner in user units, in database units."""
    try:
        coordinates: Tuple[object, ...] = tuple(cast(Iterable[object], point))
    except TypeError:
        coordinates = ()
    if len(coordinates) != 2:
        raise TypeError("%s must be an (x, y) pair" % what)
    return to_database(coordinates[0], scale, what + ".x"), to_database(coordinates[1], scale, what + ".y")


def user_columns(points: Any, ys: Any, scale: float) -> _values.Columns:
    """The two int32 columns of the point arguments, given in user units."""
    if ys is not None:
        return _values.int32_columns(_user_column(points, scale, "xs"), _user_column(ys, scale, "ys"))
    if _values.is_numpy(points):
        return _values.int32_columns(array_to_database(points, scale, "points"))
    if isinstance(points, (str, bytes)):
        raise TypeError("points must be a sequence of (x, y) pairs")
    return _values.int32_columns([user_pair(p, "points", scale) for p in points])


def _user_column(values: Any, scale: float, what: str) -> Any:
    if _values.is_numpy(values):
        return array_to_database(values, scale, what)
    if isinstance(values, (str, bytes)):
        raise TypeError("%s must be a sequence of numbers" % what)
    return [to_database(value, scale, what) for value in values]
