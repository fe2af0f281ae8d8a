# SPDX-License-Identifier: MIT
"""Bytes written through the Python package equal those of the same calls
made through C (c_reference.c), timestamps masked."""

import carvelle

from conftest import masked, records

I32_MIN, I32_MAX = -2**31, 2**31 - 1


def write_every(lib, boundary_points=None):
    """The calls of c_reference.c 'every', through the Python API."""
    with lib.structure("CELL") as cell:
        cell.box(-10, -20, 30, 40, layer=1, boxtype=2)
    with lib.structure(b"TOP") as top:
        top.boundary([(0, 0), (100, 0), (100, 50), (0, 50)] if boundary_points is None else boundary_points,
                     layer=5, datatype=6, elflags=1, plex=7)
        top.boundary([I32_MIN, I32_MAX, 0], [I32_MAX, I32_MIN, -1],
                     layer=255, datatype=254, elflags=2, plex=I32_MAX)
        top.box(-5, -6, 7, 8, layer=3, boxtype=4, elflags=2, plex=9)
        # 16-bit words and numbers given by their unsigned value reach the file as the same bits
        top.box(0, 0, 1, 1, layer=65535, boxtype=0x8000, elflags=0xFFFF, plex=I32_MIN)
        top.box(0, 0, 2, 2, layer=40000, boxtype=32767, plex=-1)
        top.box_wh(10, 20, 30, 40, layer=1)
        top.square(-100, -100, 25, layer=2, boxtype=1)
        top.path([(0, 0), (1000, 0), (1000, -500)], width=20, layer=7, datatype=1, pathtype=2)
        top.circle(500, 500, 100, 16, layer=8)
        top.arc(0, 0, 300, 0.0, 90, 12, width=10, layer=9, datatype=1)
        top.sector(0, 0, 200, 45, 135.0, 10, layer=10, datatype=2)
        top.text(12, 34, "hello", layer=11, texttype=3, presentation=5, pathtype=1, width=7,
                 strans=0x8006, mag=2.5, angle=30)
        top.sref("CELL", 100, 200, strans=0x8000, mag=1.5, angle=90.0)
        top.aref("CELL", (0, 0), (400, 0), (0, 300), 4, 3)
        top.node([1, 2, 3], [4, 5, 6], layer=12, nodetype=3)


def write_defaults(lib):
    """The calls of c_reference.c 'defaults': required arguments only."""
    tri = [(0, 0), (10, 0), (0, 10)]
    with lib.structure("D") as d:
        d.boundary(tri)
        d.box(0, 0, 10, 10)
        d.box_wh(0, 0, 10, 10)
        d.square(0, 0, 10)
        d.path(tri[:2])
        d.circle(0, 0, 10, 8)
        d.arc(0, 0, 10, 0, 90, 8)
        d.sector(0, 0, 10, 0, 90, 8)
        d.text(0, 0, "T")
        d.sref("A", 0, 0)
        d.aref("A", tri[0], tri[1], tri[2], 2, 2)
        d.node(tri[:1])


def test_every_element_matches_c(reference, in_tmp):
    expected = reference("every")
    with carvelle.Library("out.gds", user_unit=0.5, meter_unit=2.5e-10) as lib:
        write_every(lib)
    written = (in_tmp / "out.gds").read_bytes()
    assert masked(written) == masked(expected)
    # The masked fields really were timestamps: same file layout, 1 BGNLIB, 2 BGNSTR.
    tags = [tag for tag, _ in records(written)]
    assert tags.count(0x0102) == 1 and tags.count(0x0502) == 2


def test_defaults_match_c(reference, in_tmp):
    expected = reference("defaults")
    with carvelle.Library("out.gds") as lib:
        write_defaults(lib)
    assert masked((in_tmp / "out.gds").read_bytes()) == masked(expected)


def test_point_forms_are_equivalent(reference, in_tmp):
    """Pairs, tuples from a generator and two sequences give the same file."""
    expected = masked(reference("every"))
    ring = ((x, y) for x, y in zip((0, 100, 100, 0), (0, 0, 50, 50)))
    with carvelle.Library("out.gds", user_unit=0.5, meter_unit=2.5e-10) as lib:
        write_every(lib, boundary_points=list(ring))
    assert masked((in_tmp / "out.gds").read_bytes()) == expected


def test_path_objects_and_bytes_names(reference, in_tmp):
    """A pathlib.Path or bytes file name gives LIBNAME as the relative name."""
    import pathlib
    expected = masked(reference("defaults"))
    with carvelle.Library(pathlib.Path("out.gds")) as lib:
        write_defaults(lib)
    assert masked((in_tmp / "out.gds").read_bytes()) == expected
    (in_tmp / "out.gds").unlink()
    with carvelle.Library(b"out.gds") as lib:
        write_defaults(lib)
    assert masked((in_tmp / "out.gds").read_bytes()) == expected


def test_unsigned_words_reach_the_file_as_their_bits(in_tmp):
    with carvelle.Library("w.gds") as lib:
        with lib.structure("W") as w:
            w.box(0, 0, 1, 1, layer=0xFFFF, boxtype=0x8000)
            w.text(0, 0, "t", strans=0x8000)
    recs = records((in_tmp / "w.gds").read_bytes())
    layer = [p for t, p in recs if t == 0x0D02]
    boxtype = [p for t, p in recs if t == 0x2E02]
    strans = [p for t, p in recs if t == 0x1A01]
    assert layer[0] == b"\xff\xff" and boxtype == [b"\x80\x00"] and strans == [b"\x80\x00"]


def test_unicode_text_is_utf8(in_tmp):
    with carvelle.Library("u.gds") as lib:
        with lib.structure("U") as u:
            u.text(0, 0, "µm")
    strings = [p for t, p in records((in_tmp / "u.gds").read_bytes()) if t == 0x1906]
    assert strings == [b"\xc2\xb5m\x00"]  # padded to an even length with a NUL
