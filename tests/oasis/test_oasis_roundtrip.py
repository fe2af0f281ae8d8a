# SPDX-License-Identifier: MIT
"""Every element kind through carvelle.Library to x.gds and to x.oas: the
independent reader finds in x.oas the shapes of x.gds, KLayout reads x.oas
with strict mode expected, without a warning, and sees what it sees in
x.gds, and the file has its strict tables and its CRC.

The same checks run on the .oas that carvelle.merge makes of x.gds. While
the library writes no OASIS (a .oas name still gives GDSII), they run on
the .oas that KLayout converts from x.gds, so that the harness is proven
before the writer lands; the library's own cases skip, saying why."""

import json
import math
import os
import shutil
import struct
import subprocess

import pytest

import carvelle
import oasis_reader as oasis

numpy = pytest.importorskip("numpy")

HERE = os.path.dirname(os.path.abspath(__file__))
KLAYOUT = shutil.which("klayout")


def write_every_element(path):
    """The same calls for both file names."""
    with carvelle.Library(path) as lib:
        with lib.structure("LEAF") as s:
            s.boundary([(0, 0), (500, 0), (500, 100), (300, 100), (300, 400), (0, 400)], layer=1)
            s.boundary([(0, 0), (100, 30), (20, 200)], layer=1, datatype=3)
            s.boundary([(0, 0), (10, 0), (10, 10), (20, 10), (20, 0), (30, 0), (30, 20), (0, 20)], layer=4)
            # many points, non-Manhattan: a star of 8000 points
            s.boundary([(int(50000 + (30000 if k % 2 else 20000) * math.cos(k * 2 * math.pi / 8000)),
                         int((30000 if k % 2 else 20000) * math.sin(k * 2 * math.pi / 8000))) for k in range(8000)],
                       layer=2)
            s.box(-5, -7, 100, 50, layer=3, datatype=2)
            s.box_wh(1000, 1000, 40, 40, layer=3)               # square
            s.square(-3000, 200, 17, layer=3)
            s.rectangle(10, 20, 30, 60, layer=5, datatype=1)
            s.path([(0, 0), (1000, 0), (1000, 800)], width=40, layer=6)
            s.path([(0, 0), (-700, -700), (-700, 100)], width=30, layer=6, pathtype=2)
            s.path([(5, 5)] + [(5 + 10 * k, 5 + (k % 2) * 7) for k in range(1, 3000)], width=2, layer=7)
            s.circle(0, 0, 1000, 64, layer=8)
            s.circle(777, -333, 5, 7, layer=8)
            s.arc(0, 0, 2000, 10.0, 170.0, 50, width=20, layer=9)
            s.sector(0, 0, 3000, -30.0, 45.0, 20, layer=9, datatype=1)
            s.text(10, -20, "hello", layer=10)
            s.text(-400, 3, "hello", layer=10, texttype=4)
            s.text(0, 0, "world", layer=11)
        with lib.structure("BATCHES") as s:                      # the numpy batch writers and the user door
            rng = numpy.random.default_rng(7)
            corners = rng.integers(-10 ** 6, 10 ** 6, size=(500, 4), dtype=numpy.int32)
            s.boxes(corners, layer=rng.integers(1, 4, size=500))
            s.rectangles(corners[:100], layer=12, datatype=rng.integers(0, 3, size=100))
            vertices = numpy.array([(0, 0), (40, 0), (40, 10), (0, 10), (0, 0), (30, 30), (0, 60)], dtype=numpy.int32)
            s.boundaries(vertices, [0, 4, 7], layer=13)
            s.paths(vertices, [0, 3, 7], width=[8, 6], pathtype=[0, 2], layer=14)
            s.texts([(1, 2), (3, 4)], ["batch", "text"], layer=15)
            s.srefs("LEAF", [(0, 0), (1000, -1000)], angle=90.0)
            s.user.box(0.001, 0.002, 1.5, 2.25, layer=16)
            s.user.path([(0, 0), (1.0, 0), (1.0, 2.0)], width=0.05, layer=16, pathtype=2)
        for i in range(200):
            with lib.structure("C%d_%s" % (i, "x" * (i % 9))) as s:
                s.box(0, 0, 10 + i, 10, layer=1)
                s.text(i, -i, "T%d" % (i % 40), layer=2)
        with lib.structure("TOP") as s:
            s.sref("LEAF", 100, 200)
            s.sref("LEAF", -300, 50, angle=90.0, x_reflection=True)
            s.sref("LEAF", 7, 9, mag=2.5, angle=30.0)
            s.sref("LEAF", -7, 9, mag=0.5, angle=270.0, x_reflection=True)
            s.aref("LEAF", (0, 50000), (120000, 50000), (0, 170000), 4, 3)            # orthogonal
            s.aref("LEAF", (0, -90000), (90000, -75000), (-4000, -10000), 3, 2, angle=180.0)  # general lattice
            s.aref("LEAF", (5, 5), (-55, 5), (5, -75), 2, 2)                          # negative pitches
            for i in range(200):
                s.sref("C%d_%s" % (i, "x" * (i % 9)), 1000 * i, 123456)


def gds_shapes(path):
    """{cell: sorted shapes} of a GDSII file, in the reader's normalized form,
    read record by record here (the format's few element records)."""
    data = open(path, "rb").read()
    cells, shapes, element, pos = {}, None, None, 0
    while pos < len(data):
        length, tag = struct.unpack_from(">HH", data, pos)
        body = data[pos + 4:pos + length]
        pos += length
        kind = tag >> 8
        if kind == 0x06:                                          # STRNAME
            shapes = cells.setdefault(body.rstrip(b"\0").decode(), [])
        elif kind in (0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x2D):        # BOUNDARY PATH SREF AREF TEXT BOX
            element = {"kind": kind, "pathtype": 0, "strans": 0, "mag": 1.0, "angle": 0.0}
        elif kind in (0x0D, 0x0E, 0x16, 0x2E, 0x0F, 0x21, 0x1A, 0x13):   # LAYER DATATYPE TEXTTYPE BOXTYPE WIDTH ...
            element[{0x0D: "layer", 0x0E: "datatype", 0x16: "datatype", 0x2E: "datatype", 0x0F: "width",
                     0x21: "pathtype", 0x1A: "strans", 0x13: "colrow"}[kind]] = \
                struct.unpack(">%d%s" % ((len(body) // 4, "i") if kind == 0x0F else (len(body) // 2, "h")), body) \
                if kind == 0x13 else struct.unpack(">i" if kind == 0x0F else ">h", body)[0]
        elif kind in (0x1B, 0x1C):                                # MAG ANGLE: excess-64 reals
            b = body
            value = int.from_bytes(b[1:], "big") / 2 ** 56 * 16.0 ** ((b[0] & 0x7F) - 64)
            element["mag" if kind == 0x1B else "angle"] = -value if b[0] & 0x80 else value
        elif kind in (0x30, 0x31):                                # BGNEXTN ENDEXTN
            element["begin" if kind == 0x30 else "end"] = struct.unpack(">i", body)[0]
        elif kind in (0x12, 0x19):                                # SNAME STRING
            element["name"] = body.rstrip(b"\0").decode()
        elif kind == 0x10:                                        # XY
            xy = struct.unpack(">%di" % (len(body) // 4), body)
            element["xy"] = list(zip(xy[::2], xy[1::2]))
        elif kind == 0x11:                                        # ENDEL
            shapes.extend(gds_element(element))
    return {name: sorted(items, key=repr) for name, items in cells.items()}


def gds_element(e):
    kind, xy = e["kind"], e["xy"]
    if kind in (0x08, 0x2D):
        return [("polygon", e["layer"], e["datatype"], oasis.ring(xy))]
    if kind == 0x09:
        w = e["width"]
        ext = w // 2 if e["pathtype"] == 2 else 0
        begin, end = (e.get("begin", 0), e.get("end", 0)) if e["pathtype"] == 4 else (ext, ext)
        return [("path", e["layer"], e["datatype"], w, begin, end, tuple(xy))]
    if kind == 0x0C:
        return [("text", e["layer"], e["datatype"], e["name"], xy[0][0], xy[0][1])]
    place = ("placement", e["name"])
    tail = (round(e["angle"] % 360, 9), round(e["mag"], 9), bool(e["strans"] & 0x8000))
    if kind == 0x0A:
        return [place + xy[0] + tail]
    (cols, rows), (ox, oy), (cx, cy), (rx, ry) = e["colrow"], xy[0], xy[1], xy[2]
    return [place + (ox + i * (cx - ox) // cols + j * (rx - ox) // rows,
                     oy + i * (cy - oy) // cols + j * (ry - oy) // rows) + tail
            for i in range(cols) for j in range(rows)]


def klayout_view(path, convert=None):
    """KLayout's view of a file (an .oas read with strict mode expected and
    no warning allowed), normalized as the reader's."""
    command = [KLAYOUT, "-b", "-r", os.path.join(HERE, "klayout_oasis.py"), "-rd", "src=%s" % path]
    if convert:
        command += ["-rd", "convert=%s" % convert]
    run = subprocess.run(command, capture_output=True, text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    assert run.returncode == 0, run.stderr
    # KLayout prints its warnings to stdout in batch mode, before the view
    lines = run.stdout.splitlines()
    if path.endswith(".oas"):
        assert not [line for line in lines[:-1] + run.stderr.splitlines() if "arning" in line], run.stdout[-3000:]
    out = {}
    for name, shapes in json.loads(lines[-1]).items():
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


def library_writes_oasis(folder):
    probe = os.path.join(folder, "probe.oas")
    with carvelle.Library(probe) as lib:
        lib.structure("A").end()
    return open(probe, "rb").read(13) == oasis.MAGIC


@pytest.fixture(scope="module", params=["carvelle", "carvelle-merge", "klayout-converted"])
def written(request, tmp_path_factory):
    if not KLAYOUT:
        pytest.skip("klayout is not installed")
    folder = tmp_path_factory.mktemp(request.param)
    gds = str(folder / "x.gds")
    oas = str(folder / "x.oas")
    write_every_element(gds)
    if request.param == "carvelle":
        if not library_writes_oasis(str(folder)):
            pytest.skip("the library does not write OASIS yet: a .oas name still gives GDSII")
        write_every_element(oas)
    elif request.param == "carvelle-merge":                    # the merge converts the .gds
        carvelle.merge(oas, [gds])
        if open(oas, "rb").read(13) != oasis.MAGIC:
            pytest.skip("the merge does not write OASIS yet: a .oas name still gives GDSII")
    else:
        klayout_view(gds, convert=oas)
    return request.param, gds, oas


def test_reader_finds_the_shapes_of_the_gds(written):
    source, gds, oas = written
    layout = oasis.read(oas, expect_strict=True, require_validation=source.startswith("carvelle"))
    assert layout.unit == 1000
    assert oasis.normalized(layout) == gds_shapes(gds)


def test_klayout_reads_the_same_shapes(written):
    _, gds, oas = written
    assert klayout_view(oas) == klayout_view(gds)


def test_strict_tables_and_signature(written):
    source, _, oas = written
    layout = oasis.read(oas)
    assert layout.table_location == "END" and layout.strict
    assert layout.tables["CELLNAME"][1] > 0 and layout.tables["TEXTSTRING"][1] > 0
    assert layout.cblocks > 0
    # KLayout writes no signature; the library writes CRC32
    assert layout.validation == (1 if source.startswith("carvelle") else 0)


def test_merge_converts_parts_of_both_writers(tmp_path):
    """A library's .gds and KLayout's .gds.gz merged into .oas hold what
    their merge into .gds holds, for the test reader and for KLayout."""
    if not KLAYOUT:
        pytest.skip("klayout is not installed")
    ours, theirs = str(tmp_path / "ours.gds"), str(tmp_path / "theirs.gds.gz")
    write_every_element(ours)
    run = subprocess.run([KLAYOUT, "-b", "-r", os.path.join(HERE, "klayout_oasis.py"), "-rd", "gds=%s" % theirs],
                         capture_output=True, text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    assert run.returncode == 0, run.stderr
    # A copy of our part (its structures written once), and a structure of more than the converter's 1 MiB piece.
    again, big = str(tmp_path / "again.gds"), str(tmp_path / "big.gds")
    shutil.copy(ours, again)
    with carvelle.Library(big) as lib:
        with lib.structure("BIG") as s:
            corners = numpy.random.default_rng(3).integers(-10 ** 6, 10 ** 6, size=(40000, 4), dtype=numpy.int32)
            s.boxes(corners, layer=20)
    parts = [ours, theirs, again, big]
    gds, oas = str(tmp_path / "m.gds"), str(tmp_path / "m.oas")
    carvelle.merge(gds, parts)
    done = carvelle.merge(oas, parts)
    assert done.bytes == os.path.getsize(oas) and done.structures == len(gds_shapes(gds))
    layout = oasis.read(oas, expect_strict=True, require_validation=True)
    assert oasis.normalized(layout) == gds_shapes(gds)
    assert any(name.startswith("K_") for name in layout.cells) and "LEAF" in layout.cells
    assert klayout_view(oas) == klayout_view(gds)


def test_merge_refuses_what_oasis_cannot_hold(tmp_path):
    """An element the OASIS writer refuses (an odd path width) refuses the
    merge, naming part, structure and element, and leaves no file."""
    part = str(tmp_path / "odd.gds")
    with carvelle.Library(part) as lib:
        with lib.structure("FINE") as s:
            s.box(0, 0, 10, 10, layer=1)
        with lib.structure("ODD") as s:
            s.box(0, 0, 10, 10, layer=1)
            s.path([(0, 0), (100, 0)], width=3, layer=2)
    with pytest.raises(carvelle.MergeError) as refused:
        carvelle.merge(str(tmp_path / "m.oas"), [part])
    assert refused.value.failure == carvelle.MergeFailure.NOT_IN_OASIS
    assert "part %s: structure ODD: the PATH at byte " % part in refused.value.message
    assert "OASIS cannot hold it" in refused.value.message
    assert os.listdir(str(tmp_path)) == ["odd.gds"]


def test_properties_follow_their_elements(tmp_path):
    """Python's properties= on every element kind, read back by the strict
    reader as S_GDS_PROPERTY: attribute, then the value from PROPSTRING;
    a .gds of the same calls merged into .oas gives the same."""
    if not library_writes_oasis(str(tmp_path)):
        pytest.skip("the library does not write OASIS yet")
    for written in ("props.oas", "props.gds"):
        check_properties(str(tmp_path / written), str(tmp_path / "merged.oas"))


def check_properties(target, oas):
    with carvelle.Library(target) as lib:
        with lib.structure("LEAF") as s:
            s.box(0, 0, 10, 20, layer=1, properties={1: "box"})
            s.boundary([(0, 0), (100, 30), (20, 200)], layer=2, properties={2: "polygon", 3: b"\x01\xff"})
            s.path([(0, 0), (1000, 0)], width=40, layer=3, properties={4: "path"})
            s.text(10, -20, "hello", layer=4, properties={5: 17})
            s.node([(0, 0), (5, 5)], layer=5, properties={6: "node"})
        with lib.structure("TOP") as s:
            s.sref("LEAF", 100, 200, properties={7: "sref"})
            s.aref("LEAF", (0, 0), (300, 0), (0, 200), 3, 2, properties={8: "box"})
    if target.endswith(".gds"):
        carvelle.merge(oas, [target])
    else:
        oas = target
    layout = oasis.read(oas, expect_strict=True, require_validation=True)
    found = []
    for cell in (layout.cells["LEAF"], layout.cells["TOP"]):
        for element in cell.elements:
            for prop in element.props:
                assert prop.name == "S_GDS_PROPERTY" and prop.standard
                found.append((element.kind, prop.values[0], bytes(prop.values[1])))
    assert found == [("rectangle", 1, b"box"), ("polygon", 2, b"polygon"), ("polygon", 3, b"\x01\xff"),
                     ("path", 4, b"path"), ("text", 5, b"17"), ("placement", 7, b"sref"),
                     ("placement", 8, b"box")]
    assert sorted(layout.propstrings.values()) == [b"\x01\xff", b"17", b"box", b"path", b"polygon", b"sref"]
