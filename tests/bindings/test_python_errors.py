# SPDX-License-Identifier: MIT
"""Refused calls raise carvelle.Error with the library's code, name and text;
values that do not fit a C parameter raise before the library is called."""

import os
import sys

import carvelle
import pytest

from conftest import masked, records


def error_of(call, *args, **kwargs):
    with pytest.raises(carvelle.Error) as caught:
        call(*args, **kwargs)
    return caught.value


@pytest.fixture
def top(in_tmp):
    with carvelle.Library("e.gds") as lib:
        yield lib.structure("TOP")


class TestResultCodes:
    def test_error_carries_code_name_and_library_text(self, in_tmp):
        with carvelle.Library("a.gds") as lib:
            lib.structure("A").end()
            error = error_of(lib.structure, "A")
        assert isinstance(error, Exception)
        assert error.code == 9 and error.name == "GDS_ERR_STRUCT_DUPLICATE"
        assert error.message == "Error: Structure with this name is already inserted."
        assert error.function == "GDS_BeginStructure"
        assert "GDS_ERR_STRUCT_DUPLICATE" in str(error) and "code 9" in str(error)

    def test_messages_keep_their_trailing_space(self):
        assert carvelle.error_message(10) == "Error: Too many points for BOUNDARY structure. "
        assert carvelle.error_message(15) == "Error: TEXTTYPE value should be in the range 0 to 255. "
        assert carvelle.error_message(0) == "No error."
        assert carvelle.error_message(-1) == "" and carvelle.error_message(2**31 - 1) == ""

    def test_structure_codes(self, top):
        lib = top.library
        assert error_of(lib.structure, "OTHER").code == 7          # one is open
        top.end()
        assert error_of(top.end).code == 8                         # ended already
        assert error_of(lib.structure, "TOP").code == 9            # duplicate

    @pytest.mark.parametrize("call, code, name", [
        (lambda s: s.boundary([(0, 0)] * 8190), 10, "GDS_ERR_TOO_MANY_POINTS"),
        (lambda s: s.boundary([(0, 0), (1, 1)]), 11, "GDS_ERR_TOO_FEW_POINTS"),
        (lambda s: s.boundary([]), 11, "GDS_ERR_TOO_FEW_POINTS"),
        (lambda s: s.circle(0, 0, 5, 8190), 10, "GDS_ERR_TOO_MANY_POINTS"),
        (lambda s: s.arc(0, 0, 5, 0, 90, 2), 11, "GDS_ERR_TOO_FEW_POINTS"),
        (lambda s: s.sector(0, 0, 5, 0, 90, -3), 11, "GDS_ERR_TOO_FEW_POINTS"),
        (lambda s: s.circle(2**31 - 10, 0, 11, 8), 2, "GDS_ERR_RANGE"),
        (lambda s: s.path([(0, 0)]), 12, "GDS_ERR_PATH_POINTS"),
        (lambda s: s.text(0, 0, None), 13, "GDS_ERR_NO_STRING"),
        (lambda s: s.text(0, 0, "x" * 513), 14, "GDS_ERR_STRING_LENGTH"),
        (lambda s: s.text(0, 0, "x", texttype=256), 15, "GDS_ERR_TEXTTYPE"),
        (lambda s: s.node([(0, 0)] * 51), 16, "GDS_ERR_NODE_TOO_MANY"),
        (lambda s: s.node([], []), 17, "GDS_ERR_NODE_TOO_FEW"),
    ])
    def test_element_codes(self, top, call, code, name):
        error = error_of(call, top)
        assert (error.code, error.name) == (code, name)
        assert error.message == carvelle.error_message(code) != ""

    def test_limits_that_pass(self, top):
        top.boundary([(i, i % 2) for i in range(8189)])
        top.text(0, 0, "x" * 512, texttype=255)
        top.node([(0, 0)] * 50)
        top.path([(i, 0) for i in range(32767)])

    def test_refused_calls_write_nothing(self, in_tmp):
        def build(with_failures):
            with carvelle.Library("r.gds") as lib:
                with lib.structure("R") as r:
                    r.box(0, 0, 1, 1)
                    if with_failures:
                        for bad in (lambda: r.boundary([(0, 0)]), lambda: r.text(0, 0, "t", texttype=-1),
                                    lambda: r.node([]), lambda: lib.structure("X"),
                                    lambda: r.box(0, 0, 2**31, 1), lambda: r.box(0, 0, 1, 1, layer=65536)):
                            with pytest.raises((carvelle.Error, OverflowError)):
                                bad()
                    r.box(2, 2, 3, 3)
            return masked((in_tmp / "r.gds").read_bytes())
        assert build(True) == build(False)

    def test_open_failures_say_why_with_the_path(self, in_tmp):
        error = error_of(carvelle.Library, in_tmp / "missing" / "x.gds")
        assert (error.code, error.name, error.function) == (3, "GDS_ERR_OPEN", "GDS_BeginLib")
        assert "does not exist" in str(error) and str(in_tmp / "missing") in str(error)
        assert not (in_tmp / "missing").exists()
        assert "is a folder" in str(error_of(carvelle.Library, in_tmp))
        if os.name == "posix" and os.geteuid() != 0:  # root may write anywhere
            (in_tmp / "locked").mkdir(mode=0o500)
            assert "permission denied" in str(error_of(carvelle.Library, in_tmp / "locked" / "x.gds"))

    def test_unit_out_of_range(self, in_tmp):
        with pytest.raises(carvelle.RangeError, match="UNITS holds"):
            carvelle.Library("u.gds", meter_unit=2.0**252)
        assert not (in_tmp / "u.gds").exists()

    def test_calls_after_close_say_the_library_is_closed(self, in_tmp):
        lib = carvelle.Library("c.gds")
        lib.close()
        assert lib.closed and lib.handle is None
        error = error_of(lib.structure, "A")
        assert (error.code, error.name) == (5, "GDS_ERR_STOPPED") and "'c.gds' is closed" in str(error)
        lib.close()  # a second close does nothing

    def test_close_with_a_structure_open_ends_it_first(self, in_tmp):
        lib = carvelle.Library("o.gds")
        s = lib.structure("OPEN")
        s.box(0, 0, 1, 1)
        lib.close()
        assert lib.closed and s.closed
        # the library still ends the file: ENDEL, ENDSTR, ENDLIB
        assert [t for t, _ in records((in_tmp / "o.gds").read_bytes())][-3:] == [0x1100, 0x0700, 0x0400]

    @pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
    def test_failed_write_is_reported_at_the_end(self):
        lib = carvelle.Library("/dev/full")
        with lib.structure("F") as f:
            for i in range(2000):
                f.box(0, 0, i, i)
        error = error_of(lib.close)
        assert (error.code, error.name) == (18, "GDS_ERR_WRITE")


class TestValuesThatDoNotFit:
    @pytest.mark.parametrize("kwargs", [
        {"layer": 65536}, {"layer": -32769}, {"boxtype": 2**20}, {"elflags": -40000},
        {"plex": 2**31}, {"plex": -2**31 - 1},
    ])
    def test_keyword_ranges(self, top, kwargs):
        with pytest.raises(OverflowError):
            top.box(0, 0, 1, 1, **kwargs)

    def test_word_range_ends_pass(self, top):
        top.box(0, 0, 1, 1, layer=0, boxtype=65535, elflags=-32768, plex=-2**31)
        top.box(-2**31, -2**31, 2**31 - 1, 2**31 - 1, plex=2**31 - 1)

    def test_coordinates(self, top):
        with pytest.raises(OverflowError):
            top.square(2**31, 0, 1)
        with pytest.raises(OverflowError):
            top.boundary([(0, 0), (2**31, 0), (0, 1)])
        with pytest.raises(OverflowError):
            top.path([0, 1], [0, -2**31 - 1])
        with pytest.raises(OverflowError):
            top.aref("A", (0, 0), (2**32, 0), (0, 1), 1, 1)

    def test_counts(self, top):
        with pytest.raises(OverflowError):
            top.circle(0, 0, 10, 32768)
        with pytest.raises(OverflowError):
            top.path([(i, 0) for i in range(32768)])
        with pytest.raises(OverflowError):
            top.aref("A", (0, 0), (1, 0), (0, 1), 65536, 1)

    def test_non_integers(self, top):
        with pytest.raises(TypeError):
            top.box(0.5, 0, 1, 1)
        with pytest.raises(TypeError):
            top.box(0, 0, 1, 1, layer="1")
        with pytest.raises(TypeError):
            top.boundary([(0, 0), (1.5, 0), (0, 1)])
        with pytest.raises(TypeError):
            top.text(0, 0, 42)
        with pytest.raises(TypeError):
            top.sref("A", 0, 0, mag="big")
        with pytest.raises(TypeError):
            top.box(True, 0, 1, 1)
        with pytest.raises(TypeError):
            top.box(0, 0, 1, 1, layer=False)
        with pytest.raises(TypeError):
            top.boundary([(0, 0), (1, 0), (0, True)])

    def test_malformed_points(self, top):
        with pytest.raises(ValueError):
            top.boundary([(0, 0), (1, 0, 5), (0, 1)])
        with pytest.raises(ValueError):
            top.boundary([0, 1, 2], [0, 1])
        with pytest.raises(TypeError):
            top.boundary("abc")
        with pytest.raises(ValueError):
            top.text(0, 0, "a\0b")


class TestArguments:
    def test_calls_are_matched_as_python_matches_them(self, top):
        top.box(x1=0, y1=0, x2=1, y2=1, layer=2)
        top.boundary([0, 1, 0], ys=[0, 0, 1])
        for bad in (lambda: top.box(0, 0, 1), lambda: top.box(0, 0, 1, 1, 5), lambda: top.box(0, 0, 1, 1, layr=1),
                    lambda: top.box(0, 0, 1, 1, x1=0), lambda: top.text(0, 0)):
            with pytest.raises(TypeError):
                bad()

    def test_long_point_lists_of_lists_equal_two_columns(self, in_tmp):
        ring = [[i, i % 7] for i in range(300)]
        with carvelle.Library("p.gds") as lib, lib.structure("P") as p:
            p.boundary(ring)
            p.boundary([x for x, _ in ring], [y for _, y in ring])
            p.path(tuple(map(tuple, ring)), width=3)
            p.path([x for x, _ in ring], [y for _, y in ring], width=3)
        xy = [payload for tag, payload in records((in_tmp / "p.gds").read_bytes()) if tag == 0x1003]
        assert xy[0] == xy[1] and xy[2] == xy[3] and len(xy[0]) == 301 * 8

    def test_windows_file_names_are_utf8(self, monkeypatch):
        from carvelle import _errors
        monkeypatch.setattr(sys, "platform", "win32")
        assert _errors.file_name_bytes("µm\u4e2d.gds") == "µm\u4e2d.gds".encode("utf-8")
