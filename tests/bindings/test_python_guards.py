# SPDX-License-Identifier: MIT
"""Guards above the backends (units, names, references), the messages they
give, and endings that never leave a misleading file."""

import math
import os
import struct

import carvelle
import pytest

from conftest import masked, records

STRNAME, SREF, STRANS, XY, ENDLIB = 0x0606, 0x0A00, 0x1A01, 0x1003, 0x0400


def tags(path):
    return [tag for tag, _ in records(path.read_bytes())]


def payloads(path, tag):
    return [p for t, p in records(path.read_bytes()) if t == tag]


NOT_UNITS = [{"user_unit": 0.0}, {"user_unit": -1e-3}, {"user_unit": math.nan}, {"user_unit": math.inf},
             {"meter_unit": 0.0}, {"meter_unit": math.nan}, {"unit": 0.0}, {"unit": -1e-6}, {"precision": math.inf}]
# UNITS would hold 0 (KLayout: a database unit of 0.0), or wrap around: a RangeError
OUT_OF_UNITS = [{"precision": 1e-90}, {"unit": 1e-6, "precision": 1e-79}, {"meter_unit": 2.0 ** -261},
                {"user_unit": 2.0 ** 252}, {"unit": 1e10, "precision": 1e-70},
                {"unit": 1e300, "precision": 1e-300}]  # beyond 2**252 (the user unit it would make is 0)


@pytest.mark.parametrize("kwargs, refusal", [(k, "finite and greater than 0") for k in NOT_UNITS] +
                         [(k, "UNITS holds") for k in OUT_OF_UNITS])
def test_units_are_refused_before_the_file_is_made(in_tmp, kwargs, refusal):
    with pytest.raises(ValueError, match=refusal) as raised:
        carvelle.Library("u.gds", **kwargs)
    assert isinstance(raised.value, carvelle.RangeError) == (kwargs in OUT_OF_UNITS)
    assert os.listdir(in_tmp) == []


def test_the_units_range_ends_are_written_as_given(in_tmp):
    # 2**-260 = 16**-64 / 16 and the largest double below 2**252 = 16**63: 00 10 00... and 7F FF...F8
    with carvelle.Library("e.gds", user_unit=2.0 ** -260, meter_unit=2.0 ** 252 * (1 - 2.0 ** -53)):
        pass
    assert payloads(in_tmp / "e.gds", 0x0305) == [bytes([0x00, 0x10, 0, 0, 0, 0, 0, 0,
                                                        0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8])]


def test_units_are_keywords_only(in_tmp):
    with pytest.raises(TypeError):
        carvelle.Library("u.gds", 1e-6, 1e-9)
    assert os.listdir(in_tmp) == []


@pytest.mark.parametrize("name, error, text", [
    ("", ValueError, "must not be empty"),
    (b"", ValueError, "must not be empty"),
    ("N" * 65531, ValueError, "65531 bytes; a name holds at most 65,530"),
    ("\u00e9" * 32766, ValueError, "65532 bytes"),
    (None, TypeError, "not None"),
])
def test_structure_names_refused(in_tmp, name, error, text):
    with carvelle.Library("n.gds") as lib:
        with pytest.raises(error, match=text):
            lib.structure(name)
        lib.structure("N" * 65530).end()  # the longest name fits; no structure was left open
    (longest,) = payloads(in_tmp / "n.gds", STRNAME)
    assert longest == b"N" * 65530


def test_messages_name_the_open_structure_and_the_closed_library(in_tmp):
    lib = carvelle.Library("m.gds")
    lib.structure("FIRST")
    with pytest.raises(carvelle.Error, match="structure 'FIRST' is open; end it first") as caught:
        lib.structure("SECOND")
    assert caught.value.code == 7
    lib.close()
    with pytest.raises(carvelle.Error, match="the library 'm.gds' is closed") as caught:
        lib.structure("THIRD")
    assert caught.value.code == 5


# Each case: structures written before, as (name, [names it refers to]);
# then the open structure, and a call from it that must be refused. Names
# of more than one byte: CPython keeps one bytes object per single byte.
CYCLES = [
    ([], "TOP", lambda s: s.sref("TOP", 0, 0), "'TOP' cannot refer to itself"),
    ([], "TOP", lambda s: s.aref(b"TOP", (0, 0), (1, 0), (0, 1), 1, 1), "itself"),
    ([], "TOP", lambda s: s.srefs("TOP", [[0, 0], [1, 1]]), "itself"),
    ([], "TOP", lambda s: s.sref(s, 0, 0), "itself"),
    ([], "TOP", lambda s: s.user.srefs(s, [[0.5, 0.5]]), "itself"),
    ([("B", ["TOP"])], "TOP", lambda s: s.sref("B", 0, 0), "cycle 'TOP' -> 'B' -> 'TOP'"),
    ([("C", ["TOP"]), ("B", ["C"])], "TOP", lambda s: s.aref("B", (0, 0), columns=2, rows=1, spacing=(5, 0)),
     "cycle 'TOP' -> 'B' -> 'C' -> 'TOP'"),
    ([("C", ["X", "TOP"]), ("B", ["Y", "C"])], "TOP", lambda s: s.srefs("B", [[0, 0]]), "'B' -> 'C' -> 'TOP'"),
]


@pytest.mark.parametrize("before, name, call, text", CYCLES)
def test_references_that_close_a_cycle_are_refused(in_tmp, before, name, call, text):
    with carvelle.Library("c.gds") as lib:
        for parent, children in before:
            with lib.structure(parent) as s:
                for child in children:
                    s.sref(child, 0, 0)
        with lib.structure(name) as s:
            s.sref("LEAF", 0, 0)
            with pytest.raises(ValueError, match=text):
                call(s)
            s.sref("LEAF", 1, 1)
        with lib.structure("LEAF"):
            pass
    assert len(payloads(in_tmp / "c.gds", SREF)) == sum(len(c) for _, c in before) + 2


def test_references_that_close_no_cycle_pass(in_tmp):
    # A diamond (two ways from TOP to D), a name defined later, the same name twice.
    with carvelle.Library("d.gds") as lib:
        for name, targets in (("D", []), ("B", ["D"]), ("C", ["D"]), ("AA", ["B", "C", "B", "LATER"]),
                              ("LATER", ["D"]), ("TOP", ["AA"])):
            with lib.structure(name) as s:
                for target in targets:
                    s.sref(target, 0, 0)
    assert len(payloads(in_tmp / "d.gds", SREF)) == 8


# (call, STRANS payloads, XY payloads) of the references in a gdstk user's words.
HABITS = [
    (lambda s, leaf: s.sref(leaf, 3, 4, x_reflection=True), [b"\x80\x00"], [struct.pack(">2i", 3, 4)]),
    (lambda s, leaf: s.sref("LEAF", 0, 0, strans=2, x_reflection=True), [b"\x80\x02"], [bytes(8)]),
    (lambda s, leaf: s.srefs(leaf, [[1, 2]], strans=[4], x_reflection=True), [b"\x80\x04"],
     [struct.pack(">2i", 1, 2)]),
    (lambda s, leaf: s.aref(leaf, (10, 20), columns=3, rows=2, spacing=(100, -50)), [bytes(2)],
     [struct.pack(">6i", 10, 20, 310, 20, 10, -80)]),
    (lambda s, leaf: s.aref("LEAF", [10, 20], cols=3, rows=2, spacing=[100, 50], x_reflection=True),
     [b"\x80\x00"], [struct.pack(">6i", 10, 20, 310, 20, 10, 120)]),
    (lambda s, leaf: s.aref(leaf, (0, 0), (30, 0), (0, 20), 3, 2), [bytes(2)],
     [struct.pack(">6i", 0, 0, 30, 0, 0, 20)]),
    # user units (1 nm in 1 um): each step is rounded once, 0.0335 um -> 34 nm
    (lambda s, leaf: s.user.aref(leaf, (0.0104, -0.02), columns=3, rows=2, spacing=(0.0335, 0.05)), [bytes(2)],
     [struct.pack(">6i", 10, -20, 112, -20, 10, 80)]),
    (lambda s, leaf: s.user.sref(leaf, 0.003, 0.0045, x_reflection=True), [b"\x80\x00"],
     [struct.pack(">2i", 3, 5)]),
]


@pytest.mark.parametrize("call, strans, xy", HABITS)
def test_references_take_a_structure_mirroring_and_spacing(in_tmp, call, strans, xy):
    with carvelle.Library("h.gds", unit=1e-6, precision=1e-9) as lib:
        with lib.structure("LEAF") as leaf:
            pass
        with lib.structure("TOP") as top:
            call(top, leaf)
    assert payloads(in_tmp / "h.gds", 0x1206) == [b"LEAF"]
    assert payloads(in_tmp / "h.gds", STRANS) == strans and payloads(in_tmp / "h.gds", XY) == xy


# ------------------------------------------------------------------ endings

class Boom(Exception):
    pass


@pytest.mark.parametrize("keep, left", [(False, []), (True, ["e.gds.incomplete"])])
def test_an_exception_leaves_nothing_under_the_name(in_tmp, keep, left):
    with pytest.raises(Boom):
        with carvelle.Library("e.gds", keep_incomplete=keep) as lib, lib.structure("A") as a:
            a.box(0, 0, 1, 1)
            raise Boom()
    assert sorted(os.listdir(in_tmp)) == left
    if keep:
        assert tags(in_tmp / left[0])[-1] == ENDLIB


def test_a_failed_open_leaves_no_file_and_holds_no_handle(in_tmp):
    with pytest.raises(carvelle.Error):
        carvelle.Library(in_tmp / "missing" / "x.gds")
    from carvelle import _library
    with carvelle.Library("ok.gds") as lib:
        assert [ref() for ref in _library._live.values()] == [lib]
    assert _library._live == {} and os.listdir(in_tmp) == ["ok.gds"]


def test_a_second_library_on_the_same_file_ends_the_first(in_tmp):
    with carvelle.Library("solo.gds") as lib, lib.structure("SECOND") as s:
        s.box(0, 0, 2, 2)
    first = carvelle.Library("same.gds")
    first.structure("FIRST").box(0, 0, 1, 1)
    os.link("same.gds", "hard.gds")  # the same file under another name
    with pytest.warns(RuntimeWarning, match="still writing this file"):
        second = carvelle.Library("hard.gds")
    assert first.closed
    with second, second.structure("SECOND") as s:
        s.box(0, 0, 2, 2)
    del first
    assert masked((in_tmp / "same.gds").read_bytes()).replace(b"hard", b"same") == \
        masked((in_tmp / "solo.gds").read_bytes()).replace(b"solo", b"same")


def test_a_second_close_and_an_error_from_ending_change_nothing(in_tmp):
    lib = carvelle.Library("t.gds")
    lib.close()
    lib.close()
    assert tags(in_tmp / "t.gds")[-1] == ENDLIB
    if os.path.exists("/dev/full"):
        with pytest.raises(Boom):  # ending fails too: the user's exception stays
            with carvelle.Library("/dev/full") as full, full.structure("A") as a:
                for i in range(2000):
                    a.box(0, 0, i, i)
                raise Boom()
