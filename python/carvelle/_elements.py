# SPDX-License-Identifier: MIT
"""Every element's parameters and documentation, written once.

Each element method takes the parameters of its C function in their order
(the handle and the point count left out). scripts/generate-bindings makes
from this table the compiled module's element table and calls
(python/ext/elements_generated.c), its stubs (_compiled.pyi), the ctypes
argument types (_signatures.py) and the batch writers (_batch_writers.py);
the ctypes backend makes its element methods from it at import. After an
edit here, run the generator; `make lint` names a generated file that is
stale.

A parameter's kind says how a Python value reaches the C type:

- coord: int32_t, a coordinate, width or radius; the user door scales it
- i32: int32_t that no door scales (plex)
- w16: int16_t holding 16 bits (-32768..65535: bit words)
- u16: int16_t holding a number 0..65535 (layers, types: the C function
  cannot tell -1 from 65535, so a negative one is refused before it)
- c16: int16_t count (-32768..32767); dim: 1..32767 (array columns, rows)
- real: double, finite; mag: double, finite and greater than 0
- text: const char *, str or bytes (UTF-8)
- points, ys: the two const int32_t * columns and their count
- pair: one (x, y) corner of the three that GDS_Aref takes, which the C
  function receives as two columns of three
- props: the element's properties, {attribute: value}; not an argument of
  the element's C function but one GDS_Property call per pair after it, and
  in a batch writer one mapping for every row

Parameters after the first `positional` are keyword-only; the keyword-only
ones are also the per-element columns of the batch writer, in this order.
`alias` is a second keyword name ("datatype" for boxtype, texttype and
nodetype), so that one {"layer": L, "datatype": D} fits every shape.

The special cases are fields: `rectangle` (the C function takes the four
corners of the rectangle from the first four parameters), `reference` (the
first parameter names a structure, noted for undefined_structures()) and
`batch`, the name of the element's batch writer: an element whose leading
parameters are runs of coordinates, points or texts gets one by that field
alone.
"""

import textwrap
from typing import Dict, List, NamedTuple, Optional, Tuple


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
    summary: str                  # the docstring's first line
    notes: str = ""               # a paragraph after it
    docs: Tuple[Tuple[str, str], ...] = ()  # (parameter, description) beside _DOCS
    batch: Optional[str] = None   # the batch writer's name
    most: int = 32767             # the most points the C function takes (its count is 16 bits)
    rectangle: bool = False
    reference: bool = False

    @property
    def keywords(self) -> Tuple[Param, ...]:
        """The keyword-only parameters that are a batch writer's columns."""
        return tuple(p for p in self.params[self.positional:] if p.kind != "props")


REQUIRED = object()


class _Zero(int):
    def __repr__(self) -> str:
        return "0"


# The default of a keyword that has an alias: 0, but told apart from a 0
# given, so that giving both names is refused.
ZERO = _Zero(0)


def _coord(name: str) -> Param:
    return Param(name, "int32_t", REQUIRED, "coord")


def _word(name: str, alias: str = "") -> Param:
    return Param(name, "int16_t", ZERO if alias else 0, "w16", alias)


def _number(name: str, alias: str = "") -> Param:
    return Param(name, "int16_t", ZERO if alias else 0, "u16", alias)


def _real(name: str, default: object = REQUIRED) -> Param:
    return Param(name, "double", default, "real")


_POINTS = (Param("points", "const int32_t *", REQUIRED, "points"), Param("ys", "const int32_t *", None, "ys"))
_TAIL = (_word("elflags"), Param("plex", "int32_t", 0, "i32"), Param("properties", "properties", None, "props"))
_LAYERED = (_number("layer"), _number("datatype")) + _TAIL
_BOXED = (_number("layer"), _number("boxtype", "datatype")) + _TAIL
_COUNT = Param("count", "int16_t", REQUIRED, "c16")
_TRANSFORM = (_word("strans"), Param("mag", "double", 1.0, "mag"), _real("angle", 0.0))
_SNAME = Param("sname", "const char *", REQUIRED, "text")
_WIDTH = Param("width", "int32_t", 0, "coord")
_CIRCLE = tuple(map(_coord, ("cx", "cy", "radius")))


def _points(fewest: int, most: int) -> Tuple[Tuple[str, str], ...]:
    return (("points", "The %d to %d points: (x, y) pairs, an array of shape (n, 2), or with ys the x values."
             % (fewest, most)),)


ELEMENTS = (
    Element("boundary", "GDS_Boundary", 2, _POINTS + _LAYERED, "Write a BOUNDARY (polygon) through the points.",
            "The library closes the ring by repeating the first point.", _points(3, 8189), "boundaries", 8189),
    Element("box", "GDS_Box", 4, tuple(map(_coord, ("x1", "y1", "x2", "y2"))) + _BOXED,
            "Write a BOX with corners (x1, y1) and (x2, y2).", batch="boxes"),
    Element("box_wh", "GDS_BoxWH", 4, tuple(map(_coord, ("x", "y", "w", "h"))) + _BOXED,
            "Write a BOX from (x, y) to (x + w, y + h).", "The sums wrap modulo 2**32.",
            (("x", "x of the corner."), ("y", "y of the corner."))),
    Element("square", "GDS_Square", 3, tuple(map(_coord, ("x", "y", "side"))) + _BOXED,
            "Write a BOX from (x, y) to (x + side, y + side).", "The sums wrap modulo 2**32.",
            (("x", "x of the corner."), ("y", "y of the corner."))),
    Element("rectangle", "GDS_Boundary", 4, tuple(map(_coord, ("x1", "y1", "x2", "y2"))) + _LAYERED,
            "Write the rectangle with corners (x1, y1) and (x2, y2) as a BOUNDARY.",
            "Its four corners go to GDS_Boundary, which repeats the first: five points, closed.",
            batch="rectangles", rectangle=True),
    Element("path", "GDS_Path", 2,
            _POINTS + (_WIDTH, _number("layer"), _number("datatype"), _number("pathtype")) + _TAIL,
            "Write a PATH (wire) through the points.",
            "A path longer than one XY record holds is written as PATH elements of at most 8190 points that "
            "share their joint points.", _points(2, 32767), "paths"),
    Element("circle", "GDS_Circle", 4, _CIRCLE + (_COUNT,) + _LAYERED, "Write a circle of count points as a BOUNDARY.",
            "The points lie in equal angle steps from angle 0, truncated toward zero.",
            (("count", "Number of points: 3 to 8189."),)),
    Element("arc", "GDS_Arc", 6, _CIRCLE + (_real("start_angle"), _real("end_angle"), _COUNT, _WIDTH, _number("layer"),
                                            _number("datatype"), _number("pathtype")) + _TAIL,
            "Write an arc of count points as a PATH.",
            "The points run from start_angle in count equal steps of (end_angle - start_angle) / count, so the "
            "last one lies a step short of end_angle; they are truncated toward zero.",
            (("count", "Number of points: 3 to 8189."),)),
    Element("sector", "GDS_Sector", 6, _CIRCLE + (_real("start_angle"), _real("end_angle"), _COUNT) + _LAYERED,
            "Write a circle sector as a BOUNDARY: the centre, then count - 1 arc points.",
            "The arc points run from start_angle in steps of (end_angle - start_angle) / count, truncated toward "
            "zero.", (("count", "Number of vertices, the centre included: 3 to 8189."),)),
    Element("text", "GDS_Text", 3, (_coord("x"), _coord("y"), Param("text", "const char *", REQUIRED, "text"),
                                    _number("layer"), _number("texttype", "datatype"), _word("presentation"),
                                    _number("pathtype"), _WIDTH) + _TRANSFORM + _TAIL,
            "Write a TEXT (label) element at (x, y).", "Every record is written, also those holding 0 (or 1.0).",
            (("x", "x of the text's origin."), ("y", "y of the text's origin.")), "texts"),
    Element("sref", "GDS_Sref", 3, (_SNAME, _coord("x"), _coord("y")) + _TRANSFORM + _TAIL,
            "Write an SREF placing the structure sname at (x, y).",
            "The name is not looked up: it may name a structure written later.",
            (("x", "x of the placement."), ("y", "y of the placement.")), "srefs", reference=True),
    Element("aref", "GDS_Aref", 6, (_SNAME, Param("origin", "const int32_t *", REQUIRED, "pair"),
                                    Param("col_corner", "const int32_t *", REQUIRED, "pair"),
                                    Param("row_corner", "const int32_t *", REQUIRED, "pair"),
                                    Param("cols", "int16_t", REQUIRED, "dim"),
                                    Param("rows", "int16_t", REQUIRED, "dim")) + _TRANSFORM + _TAIL,
            "Write an AREF of cols x rows instances of sname.",
            "The name is not looked up: it may name a structure written later.", reference=True),
    Element("node", "GDS_Node", 2, _POINTS + (_number("layer"), _number("nodetype", "datatype")) + _TAIL,
            "Write a NODE (electrical net) through 1 to 50 points.", docs=_points(1, 50), most=50),
)

BY_METHOD = {element.method: element for element in ELEMENTS}

# ------------------------------------------------ the docstrings

_DOCS: Dict[str, str] = {
    "points": "The points: (x, y) pairs, an array of shape (n, 2), or with ys the x values.",
    "ys": "The y values, when points holds the x values.",
    "x1": "x of the first corner.", "y1": "y of the first corner.",
    "x2": "x of the opposite corner.", "y2": "y of the opposite corner.",
    "w": "Width.", "h": "Height.", "side": "Side length.",
    "cx": "x of the centre.", "cy": "y of the centre.",
    "radius": "Radius; the centre plus or minus the radius must fit 32 bits.",
    "start_angle": "Angle of the first point, degrees, finite.",
    "end_angle": "Angle the points run towards, degrees, finite.",
    "width": "WIDTH (negative: an absolute width, not scaled by references).",
    "layer": "LAYER, 0 to 65535.",
    "datatype": "DATATYPE, 0 to 65535.",
    "boxtype": "BOXTYPE, 0 to 65535; datatype= is another name for it.",
    "texttype": "TEXTTYPE, 0 to 255; datatype= is another name for it.",
    "nodetype": "NODETYPE, 0 to 65535; datatype= is another name for it.",
    "pathtype": "PATHTYPE, 0 to 65535: 0 flush, 1 round, 2 half-width extension.",
    "presentation": "PRESENTATION bit word (font, justification), 16 bits.",
    "text": "The string, at most 512 bytes.",
    "sname": "Name of the placed structure, at most 65,530 bytes.",
    "origin": "The first instance's position.",
    "col_corner": "The origin displaced by cols column pitches.",
    "row_corner": "The origin displaced by rows row pitches.",
    "cols": "Number of columns, 1 to 32767.", "rows": "Number of rows, 1 to 32767.",
    "strans": "STRANS bit word (0x8000 reflects about the x axis), 16 bits.",
    "mag": "MAG, the magnification: finite and greater than 0.",
    "angle": "ANGLE, degrees counterclockwise, finite.",
    "elflags": "ELFLAGS bit word, 16 bits.",
    "plex": "PLEX number, 32 bits.",
    "properties": "The element's properties, {attribute: value}: attributes 1 to 127; values str (UTF-8), "
                  "bytes, or numbers (written in decimal), at most 126 bytes each; per element at most 128 bytes "
                  "of values, 2 per property and the padding of odd lengths (512 on sref and aref).",
}

_TYPES = {"coord": "int", "i32": "int", "w16": "int", "u16": "int", "c16": "int", "dim": "int", "real": "float",
          "mag": "float", "text": "str or bytes", "points": "sequence or array", "ys": "sequence or array, optional",
          "pair": "(x, y) pair", "props": "dict, optional"}

_RAISES = ("Raises\n------\n"
           "Error\n    The library refused the element (see its code); nothing was written.\n"
           "TypeError, ValueError, OverflowError\n    An argument of the wrong type or outside its range;\n"
           "    nothing was written.\n"
           "RuntimeError\n    Called by a signal handler in the middle of a batch of the same library\n"
           "    (a call of another thread is waited for, not refused).")


def wrapped(text: str, indent: str) -> str:
    """text in lines of at most 76 characters, each after indent."""
    return textwrap.fill(text, 76, initial_indent=indent, subsequent_indent=indent)


def _unit_note(element: Element) -> str:
    if not any(p.kind in ("coord", "points", "pair") for p in element.params):
        return ""
    return ("Coordinates, widths and radii are in database units; through Structure.user they are numbers in "
            "user units, rounded to database units halves away from zero.")


def docstring(element: Element) -> str:
    """The element method's docstring, numpy style: both backends show it."""
    own = dict(element.docs)
    rows = [(p.name, _TYPES[p.kind], own[p.name] if p.name in own else _DOCS[p.name]) for p in element.params]
    rows += [(p.alias, "int, optional", "Another name for %s." % p.name) for p in element.params if p.alias]
    lines: List[List[str]] = []
    for name, kind, text in rows:
        if lines and lines[-1][1:] == [kind, text]:
            lines[-1][0] += ", " + name  # x1, y1 : int ... share a description only when it is the same
        else:
            lines.append([name, kind, text])
    parameters = "\n".join("%s : %s\n%s" % (name, kind, wrapped(text, "    ")) for name, kind, text in lines)
    paragraphs = [element.summary, wrapped(" ".join(filter(None, (element.notes, _unit_note(element)))), ""),
                  "Parameters\n----------\n" + parameters, _RAISES]
    return "\n\n".join(p for p in paragraphs if p)
