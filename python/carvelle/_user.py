# SPDX-License-Identifier: MIT
"""The user-unit door: `structure.user`, the element and batch writers of a
Structure taking coordinates, widths and radii in user units (any real
number), each scaled and rounded to database units, halves away from zero,
by the backend itself (the compiled module in its own loop)."""

from typing import TYPE_CHECKING, Any

from ._backend import backend
from ._batch_writers import BatchWriters
from ._references import References

if TYPE_CHECKING:  # the user door's surface has numbers where the other has integers
    from ._compiled import UserBase
else:
    UserBase = backend.StructureBase


class UserUnitView(References, BatchWriters, UserBase):
    """The element writers of a Structure in user units: `structure.user`.

    The same methods as Structure's, with coordinates, widths and radii in
    user units (any real number), each multiplied by `scale` and rounded to
    the nearest database unit, halves away from zero; layers, types, counts
    and bit words stay integers. A value that lands outside the 32-bit range
    raises OverflowError, before anything is written.

    Examples
    --------
    >>> with carvelle.Library("chip.gds", unit=1e-6, precision=1e-9) as lib:
    ...     with lib.structure("TOP") as top:
    ...         top.user.box(0, 0, 2.5, 1.0, layer=1)   # (0, 0) to (2500, 1000) nm
    ...         top.user.scale
    1000.0
    """

    _limits: Any = None  # the library's rule set, if it has one

    @property
    def scale(self) -> float:
        """Database units per user unit (1000.0 for micrometres on a 1 nm grid)."""
        return float(self._scale)
