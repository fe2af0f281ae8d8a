# SPDX-License-Identifier: MIT
"""The test reader itself: files KLayout writes (every shape kind,
repetitions, CBLOCKs on and off, strict mode on and off) give KLayout's
own view of the layout; byte strings spelled out from the format give the
values the format defines; damaged files are refused with the offset."""

import json
import os
import shutil
import struct
import subprocess
import zlib

import pytest

import oasis_reader as oasis

HERE = os.path.dirname(os.path.abspath(__file__))
KLAYOUT = shutil.which("klayout")

# --------------------------------------------------------- KLayout's files


@pytest.fixture(scope="module")
def klayout_files(tmp_path_factory):
    if not KLAYOUT:
        pytest.skip("klayout is not installed")
    folder = tmp_path_factory.mktemp("klayout")
    run = subprocess.run([KLAYOUT, "-b", "-r", os.path.join(HERE, "klayout_oasis.py"), "-rd", "out=%s" % folder],
                         capture_output=True, text=True, check=True,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    view = json.loads(run.stdout.splitlines()[-1])   # KLayout prints warnings before it
    return folder, view


def klayout_view(view):
    out = {}
    for name, shapes in view.items():
        items = []
        for s in shapes:
            if s[0] == "polygon":
                items.append(("polygon", s[1], s[2], oasis.ring(s[3])))
            elif s[0] == "path":
                items.append(("path", s[1], s[2], s[3], s[4], s[5], tuple(map(tuple, s[6]))))
            elif s[0] == "text":
                items.append(tuple(s))
            else:
                items.append(("placement", s[1], s[2], s[3], round(s[4] % 360, 9), s[5], s[6]))
        out[name] = sorted(items, key=repr)
    return out


@pytest.mark.parametrize("cblocks", ["plain", "cblocks"])
@pytest.mark.parametrize("strict", ["strict", "loose"])
def test_klayout_files_give_klayouts_view(klayout_files, cblocks, strict):
    folder, view = klayout_files
    layout = oasis.read(str(folder / ("k-%s-%s.oas" % (cblocks, strict))), expect_strict=strict == "strict")
    assert layout.unit == 1000
    assert (layout.cblocks > 0) == (cblocks == "cblocks")
    assert layout.table_location == ("END" if strict == "strict" else "START")
    assert oasis.normalized(layout) == klayout_view(view)
    # the repetitions KLayout found are decoded, not just skipped
    kinds = {e.rep.type for c in layout.cells.values() for e in c.elements if e.rep}
    assert {1, 2, 8, 10} <= kinds
    # KLayout writes S_CELL_OFFSET in strict mode only; the reader checks where it points
    offsets = [p for p in layout.cells["TOP"].props if p.name == "S_CELL_OFFSET"]
    assert len(offsets) == (strict == "strict") and all(p.values[0] > 0 for p in offsets)


# ----------------------------------------------------- spelled-out values


@pytest.mark.parametrize("data, value", [
    (b"\x00", 0), (b"\x7f", 127), (b"\x80\x01", 128), (b"\xff\x7f", 16383), (b"\x80\x80\x01", 16384),
    (b"\x80\x80\x00", 0), (b"\xff\xff\xff\xff\x0f", 2 ** 32 - 1)])
def test_unsigned_integers(data, value):
    src = oasis._Source(data)
    assert src.uint() == value and src.pos == len(data)


@pytest.mark.parametrize("data, value", [(b"\x02", 1), (b"\x03", -1), (b"\x7e", 63), (b"\x7f", -63),
                                         (b"\x80\x01", 64), (b"\x81\x01", -64), (b"\x00", 0)])
def test_signed_integers(data, value):
    assert oasis._Source(data).sint() == value


@pytest.mark.parametrize("data, value", [
    (b"\x00\x05", 5), (b"\x01\x05", -5), (b"\x02\x04", 0.25), (b"\x03\x04", -0.25), (b"\x04\x03\x02", 1.5),
    (b"\x05\x03\x02", -1.5), (b"\x06\x00\x00\x00\x3f", 0.5), (b"\x07\x00\x00\x00\x00\x00\x00\xf8\x3f", 1.5)])
def test_reals(data, value):
    src = oasis._Source(data)
    assert src.real() == value and src.pos == len(data)


@pytest.mark.parametrize("data", [b"\x02\x00", b"\x08\x01"])
def test_bad_reals_refused(data):
    with pytest.raises(oasis.OasisError, match="offset 0"):
        oasis._Source(data).real()


HEAD = b"%SEMI-OASIS\r\n\x01\x031.0\x00\xe8\x07\x01"     # START: "1.0", unit 1000, tables in END
NO_TABLES = b"\x01\x00" * 6                            # six strict tables, none present


def frame(body, tables=NO_TABLES, scheme=1, end_length=256):
    """HEAD, body and an END record of end_length bytes with its signature."""
    fixed = 1 + len(tables) + 1 + (4 if scheme else 0)
    pad = end_length - fixed - 1
    if pad >= 128:
        pad -= 1
        length = bytes([0x80 | (pad & 0x7F), pad >> 7])
    else:
        length = bytes([pad])
    data = HEAD + body + b"\x02" + tables + length + bytes(pad) + bytes([scheme])
    if scheme == 1:
        data += struct.pack("<I", zlib.crc32(data))
    elif scheme == 2:
        data += struct.pack("<I", sum(data) & 0xFFFFFFFF)
    return data


CELL_A = b"\x0e\x01A"                                  # CELL by name "A"
RECT = b"\x14\x7f\x01\x00\x0a\x14\x06\x09"             # layer 1, datatype 0, 10 x 20 at (3, -4), then a repetition


def elements(body, **kw):
    return oasis.read(frame(CELL_A + body), **kw).cells["A"].elements


@pytest.mark.parametrize("rep, offsets", [
    (b"\x01\x01\x00\x0a\x14", [(0, 0), (10, 0), (20, 0), (0, 20), (10, 20), (20, 20)]),
    (b"\x02\x00\x05", [(0, 0), (5, 0)]),
    (b"\x03\x01\x07", [(0, 0), (0, 7), (0, 14)]),
    (b"\x04\x01\x03\x04", [(0, 0), (3, 0), (7, 0)]),
    (b"\x05\x01\x0a\x01\x02", [(0, 0), (10, 0), (30, 0)]),
    (b"\x06\x00\x09", [(0, 0), (0, 9)]),
    (b"\x07\x00\x05\x03", [(0, 0), (0, 15)]),
    (b"\x08\x00\x00\x30\x0b\x0a", [(0, 0), (3, 0), (-2, 5), (1, 5)]),
    (b"\x09\x01\x48", [(0, 0), (4, 4), (8, 8)]),
    (b"\x0a\x00\x05\x03", [(0, 0), (1, -1)]),
    (b"\x0b\x00\x02\x36", [(0, 0), (0, -6)]),
])
def test_repetitions(rep, offsets):
    # the second rectangle reuses the repetition (type 0) and every other field
    first, second = elements(RECT + rep + b"\x14\x04\x00")
    assert (first.layer, first.datatype, first.w, first.h, first.x, first.y) == (1, 0, 10, 20, 3, -4)
    assert first.rep.offsets == offsets and second.rep is first.rep
    assert [(e.x, e.y) for e in oasis.expanded(oasis.Cell(elements=[second]))] == \
        [(3 + dx, -4 + dy) for dx, dy in offsets]


@pytest.mark.parametrize("points, expected", [
    (b"\x00\x02\x14\x0a", [(0, 0), (10, 0), (10, 5), (0, 5)]),
    (b"\x01\x02\x0a\x14", [(0, 0), (0, 5), (10, 5), (10, 0)]),
    (b"\x02\x03\x28\x15\x2a", [(0, 0), (10, 0), (10, 5), (0, 5)]),
    (b"\x03\x02\x2c\x52", [(0, 0), (5, 5), (-5, 5)]),
    (b"\x04\x02\x70\x0f\x08", [(0, 0), (7, 0), (4, 4)]),
    (b"\x05\x02\x20\x32", [(0, 0), (2, 0), (4, 3)]),
])
def test_polygon_point_lists(points, expected):
    (polygon,) = elements(b"\x15\x3b\x02\x01" + points + b"\x04\x00")
    assert polygon.points == [(x + 2, y) for x, y in expected]
    assert (polygon.layer, polygon.datatype) == (2, 1)


def test_path_extensions_and_an_odd_manhattan_count():
    # half-width 5, start extension explicit -2, end extension half-width;
    # a type-0 list of three deltas is fine for a path
    (path,) = elements(b"\x16\xfb\x01\x00\x05\x0e\x05\x00\x03\x14\x0a\x09\x02\x00")
    assert (path.width, path.start_extension, path.end_extension) == (10, -2, 5)
    assert path.points == [(1, 0), (11, 0), (11, 5), (7, 5)]


def test_texts_placements_and_modal_positions():
    body = (b"\x13\x5b\x02hi\x02\x03\x08\x00"                  # TEXT "hi", layer 2, texttype 3 at (4, 0)
            b"\x13\x10\x0a"                                     # the same text at x 5
            b"\x11\xb3\x01B\x08\x00"                            # PLACEMENT of B at (4, 0), 90 degrees, flipped
            b"\x12\xb6\x01B\x04\x03\x02\x07\x00\x00\x00\x00\x00\x80\x46\x40\x02\x04"  # x1.5, 45 degrees at (1, 2)
            b"\x14\x7b\x01\x00\x0a\x14\x06\x09"                 # rectangle at (3, -4)
            b"\x10\x14\x10\x0a"                                 # XYRELATIVE: the next one at x 3 + 5
            b"\x14\xd8\x05\x00\x05")                            # a square of side 5 at (8, -6)
    text1, text2, place1, place2, rect1, rect2, square = elements(body)
    assert (text1.string, text1.layer, text1.texttype, text1.x, text1.y) == ("hi", 2, 3, 4, 0)
    assert (text2.string, text2.x, text2.y) == ("hi", 5, 0)
    assert (place1.cell, place1.x, place1.y, place1.angle, place1.mag, place1.flip) == ("B", 4, 0, 90, 1, True)
    assert (place2.x, place2.y, place2.angle, place2.mag, place2.flip) == (1, 2, 45, 1.5, False)
    assert (rect2.x, rect2.y, rect2.w, rect2.h) == (8, -4, 10, 20)
    assert (square.x, square.y, square.w, square.h, square.square) == (8, -6, 5, 5, True)


def test_other_records_reported():
    body = (b"\x1b\x3b\x01\x00\x05\x00\x00"                   # CIRCLE, radius 5
            b"\x17\x7b\x01\x00\x0a\x04\x04\x07\x00\x00"          # TRAPEZOID 10 x 4, deltas 2 and -3
            b"\x18\x00\x05"                                     # TRAPEZOID, delta-a -2 only, the rest modal
            b"\x1a\xfb\x01\x00\x18\x06\x08\x00\x00"              # CTRAPEZOID of type 24, 6 x 8
            b"\x20\x05\x02ab"                                   # XELEMENT
            b"\x21\x1b\x07\x01\x00\x01z\x00\x00")                # XGEOMETRY
    xname_at = len(HEAD) + len(CELL_A) + len(body)
    layout = oasis.read(frame(CELL_A + body + b"\x1e\x03\x02xn", NO_TABLES[:10] + b"\x01" + bytes([xname_at])))
    circle, trap1, trap2, ctrap, xelement, xgeometry = layout.cells["A"].elements
    assert layout.xnames == {0: (3, b"xn")}
    assert (circle.kind, circle.radius) == ("circle", 5)
    assert (trap1.w, trap1.h, trap1.delta_a, trap1.delta_b) == (10, 4, 2, -3)
    assert (trap2.w, trap2.h, trap2.delta_a, trap2.delta_b) == (10, 4, -2, 0)
    assert (ctrap.ctrapezoid_type, ctrap.w, ctrap.h) == (24, 6, 8)
    assert (xelement.attribute, xelement.string, xgeometry.attribute, xgeometry.string) == (5, b"ab", 7, b"z")


def test_tables_cblocks_properties_and_signatures():
    inner = CELL_A[:0] + b"\x0d\x00" + RECT[:1] + b"\x7b" + RECT[2:]    # CELL by reference 0, a rectangle
    block = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = block.compress(inner) + block.flush()
    cblock = b"\x22\x00" + bytes([len(inner), len(packed)]) + packed
    at = len(HEAD) + len(cblock)
    # CELLNAME "A" with S_CELL_OFFSET (it points at the CBLOCK whose first record is the CELL)
    names = b"\x03\x01A" + b"\x1c\x15\x0dS_CELL_OFFSET\x08" + bytes([len(HEAD)])
    tables = b"\x01" + bytes([at]) + b"\x01\x00" * 5
    for scheme in (0, 1, 2):
        layout = oasis.read(frame(cblock + names, tables, scheme), expect_strict=True)
        assert layout.validation == scheme and layout.cblocks == 1
        (rect,) = layout.cells["A"].elements
        assert (rect.x, rect.y, rect.w, rect.h) == (3, -4, 10, 20)
        assert layout.cells["A"].props[0].values == [len(HEAD)]


# ----------------------------------------------------------- refusals


def refused(data, match, **kw):
    with pytest.raises(oasis.OasisError, match=match):
        oasis.read(data, **kw)


def test_damaged_files_refused():
    good = frame(CELL_A + RECT[:1] + b"\x7b" + RECT[2:])
    oasis.read(good)
    bad = bytearray(good)
    bad[len(good) - 100] ^= 1                     # a padding byte
    refused(bytes(bad), r"validation signature .* at offset %d" % (len(good) - 4))
    summed = frame(b"", scheme=2)
    refused(summed[:-4] + bytes([summed[-4] ^ 1]) + summed[-3:], r"validation signature .* \(scheme 2\)")
    refused(frame(b"", end_length=255), "END record is 255 bytes long")
    refused(frame(b"") + b"\x00", "1 bytes after the END record")
    refused(frame(b"", scheme=0), "no validation signature", require_validation=True)
    refused(frame(b""), "strict flag is 1, 0 expected", expect_strict=False)


def test_modal_variables_must_be_set():
    # a rectangle giving only x and y, first in its cell: layer unset
    refused(frame(CELL_A + b"\x14\x18\x00\x00"), "modal variable layer used before it was set at offset 25")
    # a second cell starts afresh
    refused(frame(CELL_A + RECT[:1] + b"\x7b" + RECT[2:] + b"\x0e\x01B\x14\x18\x00\x00"), "modal variable layer")
    refused(frame(CELL_A + b"\x1d"), "modal variable last-property-name")
    refused(frame(CELL_A + RECT + b"\x00" + b"\x0e\x01B" + RECT), "modal variable repetition")
    refused(frame(CELL_A + b"\x15\x1b\x01\x00\x00\x00"), "modal variable polygon-point-list")


def test_point_lists_and_cblocks_refused():
    refused(frame(CELL_A + b"\x15\x3b\x02\x01\x00\x03\x14\x0a\x14\x00\x00"), "odd count 3")
    refused(frame(CELL_A + b"\x15\x3b\x02\x01\x01\x01\x14\x00\x00"), "odd count 1")
    inner = CELL_A + RECT[:1] + b"\x7b" + RECT[2:]
    block = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = block.compress(inner) + block.flush()
    head = b"\x22\x00" + bytes([len(inner)])
    refused(frame(head[:2] + bytes([len(inner) + 1, len(packed)]) + packed), "inflates to %d bytes" % len(inner))
    refused(frame(head + bytes([len(packed) - 2]) + packed[:-2]), "does not end within")
    refused(frame(head + bytes([len(packed) + 1]) + packed + b"\x00"), "ends 1 bytes before")
    refused(frame(b"\x22\x01\x00\x00"), "compression type 1")


def test_tables_refused():
    cell = b"\x0d\x00" + RECT[:1] + b"\x7b" + RECT[2:]
    at = len(HEAD) + len(cell)
    names = b"\x03\x01A"
    oasis.read(frame(cell + names, b"\x01" + bytes([at]) + b"\x01\x00" * 5))
    refused(frame(cell + names, b"\x01" + bytes([at + 1]) + b"\x01\x00" * 5), "first record is at offset %d" % at)
    refused(frame(cell + names), "strict CELLNAME table with offset 0")
    refused(frame(cell + names + b"\x04\x01B\x01"), "CELLNAME record in explicit form after implicit")
    refused(frame(cell + names + b"\x05\x01t" + b"\x03\x01B", b"\x01" + bytes([at]) + b"\x01\x00" * 5),
            "not contiguous")
    refused(frame(cell), "CELLNAME reference number 0 is not defined")
    wrong = names + b"\x1c\x15\x0dS_CELL_OFFSET\x08" + bytes([len(HEAD) + 1])
    refused(frame(cell + wrong, b"\x01" + bytes([at]) + b"\x01\x00" * 5), "S_CELL_OFFSET 23 of cell A")
