# SPDX-License-Identifier: MIT
"""Every element's parameters, written once.

Each element method takes the parameters of its C function in their order
(the handle and the point count left out). The ctypes backend's methods are
made from this table; the compiled module's table (python/ext/elements.c),
the stubs (_compiled.pyi) and the batch writers are checked against it by
tests/bindings/test_python_table.py, name by name and type by type.

A parameter's kind says how a Python value reaches the C type:

- coord: int32_t, a coordinate, width or radius; the user door scales it
- i32: int32_t that no door scales (plex)
- w16: int16_t holding 16 bits (-32768..65535: layers, types, bit words)
- c16: int16_t count (-32768..32767); dim: 1..32767 (array columns, rows)
- real: double, finite; mag: double, finite and greater than 0
- text: const char *, str or bytes (UTF-8)
- points, ys: the two const int32_t * columns and their count
- pair: one (x, y) corner of the three that GDS_Aref takes

Parameters after the first `positional` are keyword-only; the keyword-only
ones are also the per-element columns of the batch writer, in this order.
`alias` is a second keyword name ("datatype" for boxtype, texttype and
nodetype), so that one {"layer": L, "datatype": D} fits every shape.
"""

from typing import NamedTuple, Optional, Tuple


class Param(NamedTuple):
    name: str
    ctype: str
    default: object  # REQUIRED when it must be given
    kind: str
    alias: str = ""


class Element(NamedTuple):
    method: str
    function: str
    positional: int
    params: Tuple[Param, ...]
    batch: Optional[str] = None  # the batch writer's name

    @property
    def keywords(self) -> Tuple[Param, ...]:
        return self.params[self.positional:]


REQUIRED = object()


class _Zero(int):
    def __repr__(self) -> str:
        return "0"


# The default of a keyword that has an alias: 0, but told apart from a 0
# given, so that giving both names is refused.
ZERO = _Zero(0)
KINDS = ("coord", "i32", "w16", "c16", "dim", "real", "mag", "text", "points", "ys", "pair")
# Item size of a batch column of each kind, and of a user-door coordinate column.
COLUMN_BYTES = {"coord": 4, "i32": 4, "w16": 2, "real": 8, "mag": 8}
USER_COLUMN_BYTES = 8


def _coord(name: str) -> Param:
    return Param(name, "int32_t", REQUIRED, "coord")


def _word(name: str, alias: str = "") -> Param:
    return Param(name, "int16_t", ZERO if alias else 0, "w16", alias)


def _real(name: str, default: object = REQUIRED) -> Param:
    return Param(name, "double", default, "real")


_POINTS = (Param("points", "const int32_t *", REQUIRED, "points"), Param("ys", "const int32_t *", None, "ys"))
_TAIL = (_word("elflags"), Param("plex", "int32_t", 0, "i32"))
_LAYERED = (_word("layer"), _word("datatype")) + _TAIL
_BOXED = (_word("layer"), _word("boxtype", "datatype")) + _TAIL
_COUNT = Param("count", "int16_t", REQUIRED, "c16")
_TRANSFORM = (_word("strans"), Param("mag", "double", 1.0, "mag"), _real("angle", 0.0))
_SNAME = Param("sname", "const char *", REQUIRED, "text")

ELEMENTS = (
    Element("boundary", "GDS_Boundary", 2, _POINTS + _LAYERED, "boundaries"),
    Element("box", "GDS_Box", 4, tuple(map(_coord, ("x1", "y1", "x2", "y2"))) + _BOXED, "boxes"),
    Element("box_wh", "GDS_BoxWH", 4, tuple(map(_coord, ("x", "y", "w", "h"))) + _BOXED),
    Element("square", "GDS_Square", 3, tuple(map(_coord, ("x", "y", "side"))) + _BOXED),
    # A closed five-point BOUNDARY (the library repeats the first corner).
    Element("rectangle", "GDS_Boundary", 4, tuple(map(_coord, ("x1", "y1", "x2", "y2"))) + _LAYERED,
            "rectangles"),
    Element("path", "GDS_Path", 2, _POINTS + (Param("width", "int32_t", 0, "coord"), _word("layer"),
                                              _word("datatype"), _word("pathtype")) + _TAIL, "paths"),
    Element("circle", "GDS_Circle", 4, tuple(map(_coord, ("cx", "cy", "radius"))) + (_COUNT,) + _LAYERED),
    Element("arc", "GDS_Arc", 6, tuple(map(_coord, ("cx", "cy", "radius"))) + (
        _real("start_angle"), _real("end_angle"), _COUNT, Param("width", "int32_t", 0, "coord"), _word("layer"),
        _word("datatype"), _word("pathtype")) + _TAIL),
    Element("sector", "GDS_Sector", 6, tuple(map(_coord, ("cx", "cy", "radius"))) + (
        _real("start_angle"), _real("end_angle"), _COUNT) + _LAYERED),
    Element("text", "GDS_Text", 3, (_coord("x"), _coord("y"), Param("text", "const char *", REQUIRED, "text"),
                                    _word("layer"), _word("texttype", "datatype"), _word("presentation"),
                                    _word("pathtype"), Param("width", "int32_t", 0, "coord"))
            + _TRANSFORM + _TAIL, "texts"),
    Element("sref", "GDS_Sref", 3, (_SNAME, _coord("x"), _coord("y")) + _TRANSFORM + _TAIL, "srefs"),
    Element("aref", "GDS_Aref", 6, (_SNAME, Param("origin", "const int32_t *", REQUIRED, "pair"),
                                    Param("col_corner", "const int32_t *", REQUIRED, "pair"),
                                    Param("row_corner", "const int32_t *", REQUIRED, "pair"),
                                    Param("cols", "int16_t", REQUIRED, "dim"),
                                    Param("rows", "int16_t", REQUIRED, "dim")) + _TRANSFORM + _TAIL),
    Element("node", "GDS_Node", 2, _POINTS + (_word("layer"), _word("nodetype", "datatype")) + _TAIL),
)

BY_METHOD = {element.method: element for element in ELEMENTS}
