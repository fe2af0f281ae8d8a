# SPDX-License-Identifier: MIT
"""Library(path, rules=...): each rule of a single call and of the batch
writers refused one past its limit and taken at it; a refused call leaves
the file as it would be without it."""

import carvelle
import numpy as np
import pytest

from conftest import masked

SQUARE = [(0, 0), (10, 0), (10, 10)]


def ring(n):
    return [(i, i * i % 7) for i in range(n)]


# (rule set, rule, a call at the limit, the same call one past it)
CASES = [
    ("fab", "max-layer", lambda s: s.box(0, 0, 1, 1, layer=255), lambda s: s.box(0, 0, 1, 1, layer=256)),
    ("fab", "max-datatype", lambda s: s.text(0, 0, "A", datatype=255), lambda s: s.text(0, 0, "A", texttype=256)),
    ("fab", "max-layer", lambda s: s.user.path(SQUARE, layer=255), lambda s: s.user.path(SQUARE, layer=256)),
    ("fab", "max-vertices", lambda s: s.boundary(ring(199)), lambda s: s.boundary(ring(200))),
    ("fab", "max-path-points", lambda s: s.path(ring(200)), lambda s: s.path(ring(201))),
    # the library takes 512 bytes of text at most: the fab limit, 1,023, is out of reach
    ("fab,max-text-length=101", "max-text-length", lambda s: s.text(0, 0, "é" * 50 + "a"),
     lambda s: s.text(0, 0, "é" * 51)),
    ("fab,max-array=4", "max-array", lambda s: s.aref("C", (0, 0), (40, 0), (0, 10), 4, 1),
     lambda s: s.aref("C", (0, 0), (50, 0), (0, 10), 5, 1)),
    ("max-array=4", "max-array", lambda s: s.aref("C", (0, 0), columns=1, rows=4, spacing=(1, 1)),
     lambda s: s.aref("C", (0, 0), columns=1, rows=5, spacing=(1, 1))),
    # 0x8000 bytes hold the 4-byte header and 4,095 points: a ring of 4,094 vertices closed by the library
    ("max-record-length", "max-record-length", lambda s: s.boundary(ring(4094)), lambda s: s.boundary(ring(4095))),
    ("max-vertices=3", "max-vertices", lambda s: s.boundary(ring(3)), lambda s: s.rectangle(0, 0, 1, 1)),
    ("fab,max-layer=9,max-datatype=off", "max-layer", lambda s: s.node([(0, 0)], layer=9, nodetype=4000),
     lambda s: s.circle(0, 0, 10, 8, layer=10)),
    ("fab", "max-layer", lambda s: s.boxes(np.zeros((3, 4), np.int32), layer=[1, 255, 2]),
     lambda s: s.boxes(np.zeros((3, 4), np.int32), layer=[1, 256, 2])),
    ("fab", "max-vertices", lambda s: s.boundaries(ring(199 + 3), [0, 3, 202]),
     lambda s: s.user.boundaries(ring(200 + 3), [0, 3, 203])),
    ("fab", "max-path-points", lambda s: s.paths(ring(202), [0, 2, 202]), lambda s: s.paths(ring(203), [0, 2, 203])),
    ("fab,max-text-length=100", "max-text-length", lambda s: s.texts([(0, 0), (1, 1)], ["a", "b" * 100]),
     lambda s: s.texts([(0, 0), (1, 1)], ["a", "b" * 101])),
    ("fab", "max-datatype", lambda s: s.rectangles(np.zeros((2, 4), np.int32), datatype=[0, 255]),
     lambda s: s.rectangles(np.zeros((2, 4), np.int32), datatype=[0, 256])),
]


def _write(path, rules, call, refused):
    with carvelle.Library(str(path), rules=rules) as lib:
        lib.structure("C").end()
        with lib.structure("TOP") as top:
            top.box(0, 0, 5, 5, layer=1)
            call(top)
            if refused is not None:
                with pytest.raises(carvelle.RuleError) as caught:
                    refused(top)
                top.box(1, 1, 5, 5, layer=2)
                return caught.value
            top.box(1, 1, 5, 5, layer=2)


@pytest.mark.parametrize("rules, rule, at_limit, past_it", CASES)
def test_a_call_past_the_limit_is_refused_and_writes_nothing(tmp_path, monkeypatch, rules, rule, at_limit, past_it):
    (tmp_path / "refused").mkdir()
    (tmp_path / "clean").mkdir()  # the same relative name: LIBNAME is the same
    monkeypatch.chdir(tmp_path / "refused")
    error = _write("a.gds", rules, at_limit, past_it)
    assert error.rule == rule and "breaks rule " + rule in str(error)
    assert isinstance(error, carvelle.RangeError) and isinstance(error, ValueError)
    monkeypatch.chdir(tmp_path / "clean")
    _write("a.gds", rules, at_limit, None)
    assert masked((tmp_path / "refused" / "a.gds").read_bytes()) == masked((tmp_path / "clean" / "a.gds").read_bytes())


def test_the_refused_row_of_a_batch_and_the_message(tmp_path):
    with carvelle.Library(str(tmp_path / "a.gds"), rules="fab") as lib:
        with lib.structure("TOP") as top:
            with pytest.raises(carvelle.RuleError) as caught:
                top.boxes(np.zeros((4, 4), np.int32), layer=[1, 2, 300, 400])
            assert caught.value.index == 2 and caught.value.found == "layer 300, over 255"
            with pytest.raises(carvelle.RuleError, match=r"box: breaks rule max-layer: layer 256, over 255 \(layer"):
                top.box(0, 0, 1, 1, layer=256)
            top.box(0, 0, 1, 1, layer=256 - 1)


@pytest.mark.parametrize("rules, name, rule", [
    ("fab", "A" * 33, "max-name-length"), ("fab", "A-B", "name-characters"),
    ("name-characters", "É", "name-characters"),
    ("fab,max-name-length=3", "ABCD", "max-name-length"),
])
def test_structure_names(tmp_path, rules, name, rule):
    with carvelle.Library(str(tmp_path / "a.gds"), rules=rules) as lib:
        with pytest.raises(carvelle.RuleError) as caught:
            lib.structure(name)
        assert caught.value.rule == rule
        with lib.structure(name[:3].replace("-", "_").replace("É", "E")):
            pass


def test_rule_sets_read_like_the_checker(tmp_path):
    # readers holds no per-call rule but the array counts; later words win
    with carvelle.Library(str(tmp_path / "a.gds"), rules="fab,readers,max-text-length=2") as lib:
        with lib.structure("NAME-WITH-DASH" * 3) as top:
            top.box(0, 0, 1, 1, layer=60000)
            top.boundary(ring(8000))
            top.text(0, 0, "ab")
            with pytest.raises(carvelle.RuleError):
                top.text(0, 0, "abc")
    for bad in ["", "fabs", "fab,", "max-layer=-1", "max-layer=+3", "max-layer=x", "name-characters=3",
                "max-layer=on", "one-top=7", "Fab"]:
        with pytest.raises(ValueError):
            carvelle.Library(str(tmp_path / "b.gds"), rules=bad)
        assert not (tmp_path / "b.gds").exists()
