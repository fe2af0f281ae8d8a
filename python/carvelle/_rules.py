# SPDX-License-Identifier: MIT
"""Library(path, rules=...): the rule set that refuses, before it is written,
an element or structure that breaks it. The rules and their limits are the
table of include/carvelle_rules.hpp (generated into _rules_table), read as
carvelle-info --check reads it; the per-call tests are those of the C++
layer's guard, so a file written under a rule set passes the checker on
those rules. The rules of the whole library (one-top, undefined, cycles,
duplicates) stay with carvelle.check().

A library without rules makes plain Structures; with rules, the Ruled
classes below, whose element methods test first and then call the
backend's: no call of a library without rules pays for the tests.
"""

import operator
from typing import Any, Callable, Dict, List, Optional, Tuple

from . import _arrays, _elements, _values
from ._errors import RuleError
from ._rules_table import OFF, ON, RULES

INDEX = {rule[0]: number for number, rule in enumerate(RULES)}
_PROFILES = ("readers", "fab")


def _profile(fab: bool) -> List[int]:
    return [rule[3] if fab else rule[2] for rule in RULES]


def parse(text: str) -> List[int]:
    """The limit of every rule (OFF when off) of a rule set such as
    "fab,max-vertices=8191": profiles and RULE=N, RULE=off or RULE, read left
    to right from the readers profile. ValueError for a word that is no
    profile or rule, or a value the rule does not take."""
    if not isinstance(text, str):
        raise TypeError("rules must be a str such as \"fab\", not %s" % type(text).__name__)
    limits = _profile(False)
    for word in text.split(","):
        name, equals, value = word.partition("=")
        if word in _PROFILES:
            limits = _profile(word == "fab")
            continue
        if name not in INDEX:
            raise ValueError("no profile or rule named \"%s\" (profiles: readers, fab)" % name)
        number = INDEX[name]
        limit = RULES[number][1]
        if not equals:
            limits[number] = RULES[number][3] if limit else ON
        elif value == "off":
            limits[number] = OFF
        elif value == "on" and not limit:
            limits[number] = ON
        elif limit and value.isascii() and value.isdigit():
            limits[number] = int(value)
        else:
            takes = "a number 0 or more or off" if limit else "on or off"
            raise ValueError("rule %s takes %s, not \"%s\"" % (name, takes, value))
    return limits


class Limits:
    """A parsed rule set and the tests of single calls."""

    def __init__(self, text: str) -> None:
        self.text = text
        self.value = parse(text)

    def over(self, rule: str, amount: int) -> bool:
        limit = self.value[INDEX[rule]]
        return limit != OFF and amount > limit

    def refuse(self, rule: str, what: str, amount: int, function: str, index: Optional[int] = None) -> RuleError:
        number = INDEX[rule]
        found = "%s %d, over %d" % (what, amount, self.value[number]) if RULES[number][1] else what
        return RuleError(rule, found, RULES[number][4], function, index)

    def name(self, data: bytes) -> None:
        """A structure's name: its length, then its characters."""
        if self.over("max-name-length", len(data)):
            raise self.refuse("max-name-length", "name length", len(data), "structure")
        if self.value[INDEX["name-characters"]] != OFF:
            for byte in data:
                if not (chr(byte).isascii() and (chr(byte).isalnum() or chr(byte) in "_?$")):
                    what = "character '%c'" % byte if 0x20 < byte < 0x7F else "byte 0x%02X" % byte
                    raise self.refuse("name-characters", what, 0, "structure")

    def layers(self, layer: Any, kind: Any, function: str) -> None:
        # Values outside 0..65535, or no integer, are left to the backend, which refuses them.
        for rule, what, value in (("max-layer", "layer", layer), ("max-datatype", "type", kind)):
            try:
                number = operator.index(value)
            except TypeError:
                continue
            if 0 <= number <= 0xFFFF and self.over(rule, number):
                raise self.refuse(rule, what, number, function)

    def points(self, rule: str, count: int, written: int, function: str) -> None:
        """count: the points given; written: the points of the XY record, whose length has its own rule."""
        if self.over(rule, count):
            raise self.refuse(rule, "vertices" if rule == "max-vertices" else "points", count, function)
        if self.over("max-record-length", 4 + 8 * written):
            raise self.refuse("max-record-length", "record length", 4 + 8 * written, function)


# ------------------------------------------------ the element methods

def _type_of(element: _elements.Element) -> Optional[_elements.Param]:
    """The type that follows the layer (datatype, boxtype, texttype, nodetype)."""
    names = [p.name for p in element.params]
    return element.params[names.index("layer") + 1] if "layer" in names else None


def _single(element: _elements.Element) -> Callable[..., None]:
    names = [p.name for p in element.params[:element.positional]]
    kind = _type_of(element)
    method = element.method

    def write(self: Any, *args: Any, **kwargs: Any) -> None:
        given = dict(zip(names, args))
        given.update(kwargs)
        limits: Limits = self._limits
        if kind is not None:
            limits.layers(given.get("layer", 0), given.get(kind.name, given.get(kind.alias, 0) if kind.alias else 0),
                          method)
        if method in ("boundary", "path") and "points" in given:
            try:
                count = len(given["points"])
            except TypeError:
                count = -1  # the backend refuses what has no length
            if count >= 0:
                if method == "boundary":  # the library closes the ring: one point more
                    limits.points("max-vertices", count, count + 1, method)
                else:
                    limits.points("max-path-points", count, count, method)
        elif element.rectangle:
            limits.points("max-vertices", 4, 5, method)
        elif method == "text" and "text" in given:
            data = _values.text_bytes(given["text"], "text")
            if data is not None and limits.over("max-text-length", len(data)):
                raise limits.refuse("max-text-length", "text length", len(data), method)
        getattr(super(Ruled, self), method)(*args, **kwargs)

    write.__name__ = write.__qualname__ = method
    write.__doc__ = getattr(_elements, "docstring")(element)
    return write


def _array_counts(limits: Limits, given: Dict[str, Any], function: str) -> None:
    cols = given.get("cols", given.get("columns"))
    rows = given.get("rows")
    most = limits.value[INDEX["max-array"]]
    if most == OFF:
        return
    for what, value in (("columns", cols), ("rows", rows)):
        try:
            number = operator.index(value)
        except TypeError:
            continue
        if 1 <= number <= 32767 and number > most:
            raise limits.refuse("max-array", what, number, function)


class Ruled:
    """The element and batch writers of a Structure (or its user view) under
    a rule set: each tests the call, then writes it; see the module text."""

    _limits: Limits

    def aref(self, *args: Any, **kwargs: Any) -> None:
        """Write an AREF (see Structure.aref), refused when its columns or rows break max-array."""
        given = dict(zip(("sname", "origin", "col_corner", "row_corner", "cols", "rows"), args))
        given.update(kwargs)
        _array_counts(self._limits, given, "aref")
        super().aref(*args, **kwargs)  # type: ignore[misc]

    def _write_batch(self, method: str, properties: Any, *arrays: Any) -> None:
        if method in _BATCH_RULES:
            _check_batch(self._limits, method, arrays)
        super()._write_batch(method, properties, *arrays)  # type: ignore[misc]


for _element in _elements.ELEMENTS:
    if not _element.reference:
        setattr(Ruled, _element.method, _single(_element))


# ------------------------------------------------ the batch writers: every row before the first is written

_BATCH_RULES = {"boundary": "max-vertices", "path": "max-path-points", "rectangle": "max-vertices", "box": "",
                "text": ""}


def _check_batch(limits: Limits, method: str, arrays: Tuple[Any, ...]) -> None:
    """Refuses the whole batch, before any row is written, when a row breaks
    a rule; the error's index is the first such row."""
    np = _arrays.numpy_module()
    element = _elements.BY_METHOD[method]
    keywords = [p.name for p in element.keywords if p.kind != "props"]  # properties come apart, one set a batch
    heads = arrays[:len(arrays) - len(keywords)]
    columns = dict(zip(keywords, arrays[len(heads):]))
    kind = _type_of(element)
    tests: List[Tuple[str, str, Any]] = []  # (rule, what, the amount of every row), in the order of a single call
    if kind is not None:
        tests.append(("max-layer", "layer", columns["layer"].view(np.uint16)))
        tests.append(("max-datatype", "type", columns[kind.name].view(np.uint16)))
    rule = _BATCH_RULES[method]
    if method == "rectangle":
        counts, written = np.array([4]), np.array([5])
    elif rule:
        counts = np.diff(heads[1])
        written = counts + 1 if method == "boundary" else counts
    if rule:
        tests.append((rule, "vertices" if rule == "max-vertices" else "points", counts))
        tests.append(("max-record-length", "record length", 4 + 8 * written))
    if method == "text":
        tests.append(("max-text-length", "text length", np.fromiter(map(len, heads[1]), np.int64, len(heads[1]))))
    found: Optional[Tuple[int, str, str, int]] = None
    for rule_name, what, amounts in tests:
        limit = limits.value[INDEX[rule_name]]
        if limit == OFF or not len(amounts):
            continue
        bad = amounts.astype(np.int64) > limit
        if bad.any():
            row = int(np.argmax(bad))
            if found is None or row < found[0]:
                found = (row if len(amounts) > 1 else 0, rule_name, what, int(amounts[row]))
    if found is not None:
        row, rule_name, what, amount = found
        raise limits.refuse(rule_name, what, amount, method, row)
