# SPDX-License-Identifier: MIT
"""The element table (carvelle._elements) against what its generator does not
guarantee: that the generated files are current, and that both backends
show every element method with the table's signature and docstring."""

import inspect
import os
import subprocess
import sys

import carvelle
import pytest
from carvelle import _elements

ELEMENTS = _elements.ELEMENTS
EXTRAS = {"x_reflection", "columns", "spacing"}   # keywords of the references above the table
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def test_the_generated_files_are_current():
    done = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "generate-bindings"), "--check"],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


def python_signature(element):
    """The parameters inspect should show: (name, kind, default) in order."""
    out = []
    for index, param in enumerate(element.params):
        kind = "POSITIONAL_OR_KEYWORD" if index < element.positional else "KEYWORD_ONLY"
        default = inspect.Parameter.empty if param.default is _elements.REQUIRED else param.default
        out.append((param.name, kind, None if param.kind == "ys" else default))
    return out + [(p.alias, "KEYWORD_ONLY", None) for p in element.params if p.alias]


def backends():
    """The StructureBase of each backend this build has (ctypes always)."""
    from carvelle import _ctypes_backend
    found = [_ctypes_backend.StructureBase]
    try:
        from carvelle import _compiled
        found.append(_compiled.StructureBase)
    except ImportError:
        assert carvelle.backend == "ctypes"
    return found


@pytest.mark.parametrize("element", ELEMENTS, ids=lambda e: e.method)
def test_both_backends_show_the_table_in_their_signatures_and_docstrings(element):
    """One class serves both doors; Structure adds only references' extras."""
    for base in backends():
        method = getattr(base, element.method)
        shown = [(p.name, p.kind.name, p.default) for p in inspect.signature(method).parameters.values()
                 if p.name != "self"]
        assert shown == python_signature(element), base
        assert method.__doc__ == _elements.docstring(element), base
    for door in (carvelle.Structure, carvelle.UserUnitView):
        names = [p for p in inspect.signature(getattr(door, element.method)).parameters if p not in EXTRAS]
        assert names == ["self"] + [name for name, _, _ in python_signature(element)]


def test_every_element_has_its_method_and_every_batch_writer_its_element():
    for base in backends():
        methods = {name for name in vars(base) if not name.startswith("_") and callable(getattr(base, name))}
        assert methods == {e.method for e in ELEMENTS}, base
    batches = {e.batch for e in ELEMENTS if e.batch}
    assert batches <= set(dir(carvelle.Structure)) and batches <= set(dir(carvelle.UserUnitView))
