# SPDX-License-Identifier: MIT
"""The element table (carvelle._elements) against everything that follows
it: the compiled module's own table, the ctypes argument types, the stubs,
and the signatures that help() and inspect show on both backends."""

import ast
import ctypes
import inspect
import os

import carvelle
import pytest
from carvelle import _elements, _loader

ELEMENTS = _elements.ELEMENTS
EXTRAS = {"x_reflection", "columns", "spacing"}   # keywords of the references above the table
STUBS = os.path.join(os.path.dirname(carvelle.__file__), "_compiled.pyi")
CTYPES = {"int32_t": [ctypes.c_int32], "int16_t": [ctypes.c_int16], "double": [ctypes.c_double],
          "const char *": [ctypes.c_char_p]}


def c_arguments(element):
    """The C function's argument types after the handle, as the table implies them."""
    out = []
    for param in element.params:
        if param.kind == "points":
            out += [_loader._points, _loader._points, ctypes.c_int16]
        elif param.kind == "pair":
            out += [] if out[-1:] == ["pairs"] else ["pairs"]
        elif param.kind != "ys":
            out += CTYPES[param.ctype]
    return [t for p in out for t in ([_loader._points, _loader._points] if p == "pairs" else [p])]


@pytest.mark.parametrize("element", [e for e in ELEMENTS if e.method != "rectangle"], ids=lambda e: e.method)
def test_ctypes_argument_types_follow_the_table(element):
    assert list(_loader.SIGNATURES[element.function][1:]) == c_arguments(element)


@pytest.mark.skipif(carvelle.backend != "compiled", reason="the compiled module's table")
def test_the_compiled_table_is_the_table():
    from carvelle import _compiled

    def default(param):  # the compiled table spells an optional ys 0
        return None if param.default is _elements.REQUIRED else float(param.default or 0)
    expected = [(e.method, e.function, e.positional,
                 tuple((p.name, p.kind, default(p), p.alias or None) for p in e.params)) for e in ELEMENTS]
    assert expected == _compiled._element_table()


def python_signature(element):
    """The parameters inspect should show: (name, kind, default) in order."""
    out = []
    for index, param in enumerate(element.params):
        kind = "POSITIONAL_OR_KEYWORD" if index < element.positional else "KEYWORD_ONLY"
        default = inspect.Parameter.empty if param.default is _elements.REQUIRED else param.default
        out.append((param.name, kind, None if param.kind == "ys" else default))
    return out + [(p.alias, "KEYWORD_ONLY", None) for p in element.params if p.alias]


@pytest.mark.parametrize("element", ELEMENTS, ids=lambda e: e.method)
def test_both_backends_show_the_table_in_their_signatures(element):
    """One class serves both doors; Structure adds only references' extras."""
    base = getattr(carvelle._backend.backend.StructureBase, element.method)
    shown = [(p.name, p.kind.name, p.default) for p in inspect.signature(base).parameters.values()
             if p.name != "self"]
    assert shown == python_signature(element)
    for door in (carvelle.Structure, carvelle.UserUnitView):
        names = [p for p in inspect.signature(getattr(door, element.method)).parameters if p not in EXTRAS]
        assert names == ["self"] + [name for name, _, _ in python_signature(element)]


ANNOTATION = {"coord": "Int", "i32": "Int", "w16": "Int", "c16": "Int", "dim": "Int", "real": "Real", "mag": "Real",
              "text": "Text", "points": "Points", "ys": "Columns", "pair": "Pair"}
USER_ANNOTATION = dict(ANNOTATION, coord="Real", points="UserPoints", ys="UserColumns", pair="UserPair")


@pytest.mark.parametrize("cls, annotation", [("StructureBase", ANNOTATION), ("UserBase", USER_ANNOTATION)])
def test_the_stubs_follow_the_table(cls, annotation):
    tree = ast.parse(open(STUBS, encoding="utf-8").read())
    (body,) = [node.body for node in tree.body if isinstance(node, ast.ClassDef) and node.name == cls]
    stubs = {f.name: f.args for f in body if isinstance(f, ast.FunctionDef)}
    for element in ELEMENTS:
        args = stubs[element.method]
        shown = [(a.arg, ast.unparse(a.annotation)) for a in args.args[1:] + args.kwonlyargs]
        expected = [(p.name, annotation[p.kind]) for p in element.params]
        expected += [(p.alias, "Optional[Int]") for p in element.params if p.alias]
        assert shown == expected, element.method
        assert len(args.args) - 1 == element.positional
        required = sum(p.default is _elements.REQUIRED for p in element.params)
        assert len(args.args) - 1 - len(args.defaults) == required, element.method


def test_batch_writers_take_the_elements_keywords():
    for element in ELEMENTS:
        if element.batch:
            parameters = inspect.signature(getattr(carvelle.Structure, element.batch)).parameters
            keywords = [n for n, p in parameters.items()
                        if p.kind is inspect.Parameter.KEYWORD_ONLY and n not in EXTRAS]
            assert keywords == [p.name for p in element.keywords] + [p.alias for p in element.keywords if p.alias]
