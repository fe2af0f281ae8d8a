# SPDX-License-Identifier: MIT
"""The user-unit door: `structure.user`, the element and batch writers of a
Structure taking coordinates, widths and radii in user units (any real
number), each scaled and rounded to database units, halves away from zero,
by the backend itself (the compiled module in its own loop)."""

from typing import TYPE_CHECKING

from ._backend import backend
from ._batch_writers import BatchWriters
from ._references import References

if TYPE_CHECKING:  # the user door's surface has numbers where the other has integers
    from ._compiled import UserBase
else:
    UserBase = backend.StructureBase


class UserUnitView(References, BatchWriters, UserBase):  # type: ignore[misc]  # aref takes more forms
    """The element writers of a Structure in user units; see the module text."""

    @property
    def scale(self) -> float:
        """Database units per user unit."""
        return float(self._scale)
