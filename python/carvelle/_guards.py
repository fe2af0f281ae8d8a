# SPDX-License-Identifier: MIT
"""Checks of the values that the library writes as passed but that readers
refuse: a magnification that is not a positive GDSII real, an angle that is
not finite, array dimensions outside 1..32767. Both backends call them
before the library, so a refused call leaves the file as it was."""

from . import _values

DIM_MIN, DIM_MAX = 1, 32767
# A GDSII real holds magnitudes from 16**-65 up to, not including, 16**63;
# smaller ones are written as 0, larger ones wrap around.
REAL_MIN, REAL_LIMIT = 2.0 ** -260, 2.0 ** 252


def finite(value: object, what: str) -> float:
    number = _values.real(value, what)
    if not abs(number) < REAL_LIMIT:
        raise ValueError("%s=%r is not finite or not below 2**252 in magnitude" % (what, number))
    return number


def mag(value: object, what: str) -> float:
    number = finite(value, what)
    if not number >= REAL_MIN:
        raise ValueError("%s=%r must be greater than 0 (at least 2**-260, the smallest GDSII real)"
                         % (what, number))
    return number


def dim(value: object, what: str) -> int:
    return _values.index_in(value, DIM_MIN, DIM_MAX, what)
