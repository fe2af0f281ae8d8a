# SPDX-License-Identifier: MIT
"""References as gdstk and gdspy users write them, for a Structure and its
user-unit view: the target is a name or a Structure, x_reflection=True sets
the mirror bit, arrays go by columns, rows and spacing beside the three
points. A reference to the structure itself, or one that would close a
cycle among the structures written so far, is refused before anything is
written (KLayout refuses such a file whole); the graph of names is walked
only the first time a structure refers to a given name."""

from typing import TYPE_CHECKING, Any, Dict, List, Optional, Set, SupportsIndex, Tuple

from . import _units, _values
from ._errors import Error

NAME_MOST = 65530      # the longest text one record holds
_X_REFLECTION = 0x8000  # the STRANS bit that mirrors about the x axis

if TYPE_CHECKING:
    from ._compiled import _Base
else:
    _Base = object


class References(_Base):
    """sref, aref and srefs above the backend's; see the module text."""

    _name_bytes: bytes
    _graph: Dict[bytes, Set[bytes]]   # structure -> the names it refers to, for the whole library
    _refers: Set[bytes]               # the names this structure refers to (shared with its user view)
    _known: Dict[Any, bytes]          # sname as the caller gave it -> its checked name

    def _target(self, sname: Any) -> bytes:
        name = sname._name_bytes if isinstance(sname, References) else _values.text_bytes(sname, "sname")
        if name is None:
            raise TypeError("sname must be str, bytes or a Structure, not None")
        return name if name in self._refers else self._check_target(name)

    def _check_target(self, name: bytes) -> bytes:
        own = self._name_bytes
        if not name:
            raise ValueError("sname must not be empty")
        if len(name) > NAME_MOST:
            raise ValueError("sname is %d bytes; a name holds at most 65,530" % len(name))
        if name == own:
            raise ValueError("structure %s cannot refer to itself" % shown(own))
        cycle = _path_between(self._graph, name, own)
        if cycle:
            raise ValueError("a reference from %s to %s would close the cycle %s"
                             % (shown(own), shown(name), " -> ".join(shown(n) for n in [own] + cycle)))
        return name

    def _referred(self, name: bytes) -> None:
        if name not in self._refers:
            self._refers.add(name)
            self._graph.setdefault(self._name_bytes, set()).add(name)

    def sref(self, sname: Any, x: Any, y: Any, *, strans: Any = 0, mag: Any = 1.0, angle: Any = 0.0,
             x_reflection: bool = False, elflags: Any = 0, plex: Any = 0, properties: Any = None) -> None:
        """Write an SREF placing the structure sname at (x, y).

        The name is not looked up: it may name a structure written later.
        Coordinates are in database units; through Structure.user they are
        numbers in user units, rounded to database units halves away from
        zero.

        Parameters
        ----------
        sname : str, bytes or Structure
            The placed structure, or its name (at most 65,530 bytes).
        x : int
            x of the placement.
        y : int
            y of the placement.
%(transform)s%(flags)s
        Raises
        ------
        Error
            The library refused the element (see its code); nothing was written.
%(refused)s        TypeError, OverflowError
            An argument of the wrong type or outside its range; nothing was
            written.
        RuntimeError
            Called by a signal handler in the middle of a batch of the same
            library (a call of another thread is waited for, not refused).
        """
        try:
            name = self._known[sname]
        except (KeyError, TypeError):
            name = self._target(sname)
        bits = _mirrored(strans) if x_reflection else strans
        super().sref(name, x, y, strans=bits, mag=mag, angle=angle, elflags=elflags, plex=plex,  # type: ignore[misc]
                     properties=properties)
        if name not in self._refers:
            self._referred(name)
        if type(sname) in (str, bytes):
            self._known[sname] = name

    def aref(self, sname: Any, origin: Any, col_corner: Any = None, row_corner: Any = None,
             cols: Optional[SupportsIndex] = None, rows: Optional[SupportsIndex] = None, *,
             columns: Optional[SupportsIndex] = None,
             spacing: Any = None, strans: Any = 0, mag: Any = 1.0, angle: Any = 0.0, x_reflection: bool = False,
             elflags: Any = 0, plex: Any = 0, properties: Any = None) -> None:
        """Write an AREF of cols x rows instances of the structure sname.

        Either by its three points as the AREF holds them (origin, the
        corner cols columns away, the corner rows rows away), or by
        columns=, rows= and spacing=(dx, dy), instance (i, j) at
        origin + (i * dx, j * dy) in this structure's coordinates. Through
        Structure.user the points are in user units, and each step of
        spacing is rounded once, so that every pitch is a whole number of
        database units.

        Parameters
        ----------
        sname : str, bytes or Structure
            The placed structure, or its name (at most 65,530 bytes).
        origin : (x, y) pair
            The first instance's position.
        col_corner : (x, y) pair, optional
            The origin displaced by cols column pitches.
        row_corner : (x, y) pair, optional
            The origin displaced by rows row pitches.
        cols : int, optional
            Number of columns, 1 to 32767.
        rows : int, optional
            Number of rows, 1 to 32767.
        columns : int, optional
            Number of columns, beside spacing (gdstk's name).
        spacing : (dx, dy) pair, optional
            The column and row pitches, in place of the two corners.
%(transform)s%(flags)s
        Raises
        ------
        Error
            The library refused the element (see its code); nothing was written.
%(refused)s        TypeError, OverflowError
            An argument of the wrong type or outside its range, or both
            forms (or neither) given; nothing was written.
        RuntimeError
            Called by a signal handler in the middle of a batch of the same
            library (a call of another thread is waited for, not refused).
        """
        if columns is not None:
            if cols is not None:
                raise TypeError("give cols or columns, not both")
            cols = columns
        if spacing is not None:
            if col_corner is not None or row_corner is not None:
                raise TypeError("give spacing or the two corners, not both")
            if cols is None or rows is None:
                raise TypeError("spacing needs columns and rows")
            col_corner, row_corner = self._corners(origin, spacing, cols, rows)
        elif col_corner is None or row_corner is None or cols is None or rows is None:
            raise TypeError("aref needs col_corner, row_corner, cols and rows, or columns, rows and spacing")
        name = self._target(sname)
        super().aref(name, origin, col_corner, row_corner, cols, rows,  # type: ignore[misc]
                     strans=_mirrored(strans) if x_reflection else strans, mag=mag, angle=angle, elflags=elflags,
                     plex=plex, properties=properties)
        self._referred(name)

    def _corners(self, origin: Any, spacing: Any, cols: SupportsIndex, rows: SupportsIndex) -> Tuple[Any, Any]:
        """The AREF's two corners; in the user door each step is rounded
        once, so that every pitch is a whole number of database units."""
        n, m = _values.index_in(cols, 1, 32767, "columns"), _values.index_in(rows, 1, 32767, "rows")
        scale = self._scale
        if not scale:
            (x, y), (dx, dy) = _values.pair(origin, "origin"), _values.pair(spacing, "spacing")
            return (x + n * dx, y), (x, y + m * dy)
        (x, y), (dx, dy) = _units.user_pair(origin, "origin", scale), _units.user_pair(spacing, "spacing", scale)
        return ((x + n * dx) / scale, y / scale), (x / scale, (y + m * dy) / scale)

    def srefs(self, sname: Any, positions: Any, *, strans: Any = 0, mag: Any = 1.0, angle: Any = 0.0,
              x_reflection: bool = False, elflags: Any = 0, plex: Any = 0, properties: Any = None) -> None:
        """Write one SREF of the structure sname at each row of positions.

        Parameters
        ----------
        sname : str, bytes or Structure
            The placed structure, or its name (at most 65,530 bytes).
        positions : array_like, shape (N, 2)
            The placements, one (x, y) a row; in user units through
            Structure.user.
        strans : int or array_like, shape (N,)
            STRANS bit word (0x8000 reflects about the x axis), 16 bits.
        mag : float or array_like, shape (N,)
            MAG, the magnification: finite and greater than 0.
        angle : float or array_like, shape (N,)
            ANGLE, degrees counterclockwise, finite.
%(flags)s
        Raises
        ------
        Error
            The library refused element i (its index is error.index); the
            elements before it are written.
%(refused)s        TypeError, OverflowError
            An array of the wrong shape, type or range, found before anything
            is written; or, in user units, a coordinate of element i that
            leaves the 32-bit range in database units (the elements before it
            are written).
        RuntimeError
            Called by a signal handler in the middle of a batch of the same
            library (a call of another thread is waited for, not refused).
        """
        name = self._target(sname)
        if x_reflection:
            import numpy as np
            strans = np.asarray(strans).astype(np.int64) | _X_REFLECTION if np.ndim(strans) else _mirrored(strans)
        try:
            super().srefs(name, positions, strans=strans, mag=mag, angle=angle,  # type: ignore[misc]
                          elflags=elflags, plex=plex, properties=properties)
        except BaseException as error:
            # Element `index` failed, those before it are written; an
            # interrupted batch may have written some.
            written = getattr(error, "index", None)
            if written or (written is None and not isinstance(error, (Error, TypeError, ValueError))):
                self._referred(name)
            raise
        if _values.length(positions, 1):  # an empty batch refers to nothing
            self._referred(name)


# The parameters and refusals that sref, aref and srefs share, in their docstrings.
_SHARED_DOC = {
    "transform": """        strans : int
            STRANS bit word (0x8000 reflects about the x axis), 16 bits.
        mag : float
            MAG, the magnification: finite and greater than 0.
        angle : float
            ANGLE, degrees counterclockwise, finite.
""",
    "flags": """        x_reflection : bool
            True sets STRANS bit 0x8000 (a mirror about the x axis) on top of
            strans.
        elflags : int
            ELFLAGS bit word, 16 bits.
        plex : int
            PLEX number, 32 bits.
        properties : dict, optional
            The element's properties, {attribute: value}, as box() takes
            them (up to 512 bytes on a reference); one mapping for every
            row of srefs().
""",
    "refused": """        ValueError
            sname is empty, longer than 65,530 bytes, the open structure itself,
            or a structure that refers (through the references written so far)
            to the open one, so that the reference would close a cycle (the
            message names it); nothing was written.
""",
}
for _method in (References.sref, References.aref, References.srefs):
    _method.__doc__ = (_method.__doc__ or "") % _SHARED_DOC


def _mirrored(strans: Any) -> int:
    return _values.w16(strans, "strans") | _X_REFLECTION


def shown(name: bytes) -> str:
    text = name.decode("utf-8", "surrogateescape")
    return repr(text if len(text) <= 40 else text[:37] + "...")


def _path_between(graph: Dict[bytes, Set[bytes]], start: bytes, goal: bytes) -> List[bytes]:
    """The names from start to goal along references, empty when goal cannot
    be reached: a depth-first walk of the names written so far."""
    came_from: Dict[bytes, bytes] = {start: start}
    todo = [start]
    while todo:
        name = todo.pop()
        for child in graph.get(name, ()):
            if child in came_from:
                continue
            came_from[child] = name
            if child == goal:
                path = [child]
                while path[-1] != start:
                    path.append(came_from[path[-1]])
                return path[::-1]
            todo.append(child)
    return []
