# SPDX-License-Identifier: MIT
"""carvelle.info: the counts of files whose contents we chose, written by
the library, gdspy and KLayout, as dataclasses; damaged files raise
InfoError with the byte where they go wrong. The program's own output is
tested by info_test.cpp."""
import os
import subprocess
import sys

import pytest

import carvelle
from carvelle._backend import backend

KINDS_CELL = {"BOUNDARY": 2, "BOX": 3, "PATH": 1, "TEXT": 2, "NODE": 1}


def ours(path):
    with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
        with lib.structure("CELL") as s:
            for i in range(3):
                s.box(i * 10, 0, i * 10 + 5, 5, layer=1)
            s.boundary([(0, 0), (10, 0), (5, -8)], layer=2, datatype=1)
            s.boundary([(0, 0), (10, 0), (5, 8)], layer=2, datatype=1)
            s.path([(-3, 0), (100, 0)], width=10, layer=3)
            s.text(5, 70, "a", layer=4, texttype=7)
            s.text(5, 71, "b", layer=4, texttype=7)
            s.node([(1, 1), (2, 2)], layer=5, nodetype=2)
        with lib.structure("TOP") as s:
            s.sref("CELL", 0, 0)
            s.sref("CELL", 100, 0)
            s.aref("CELL", (0, 0), (900, 0), (0, 400), 3, 2)
            s.sref("missing", 0, 0)
        with lib.structure("A") as s:
            s.sref("B", 0, 0)
        with lib.structure("B") as s:
            # The backend's own writer, below the guard that refuses a cycle.
            backend.StructureBase.sref(s, "A", 0, 0)


def test_a_library_of_ours(tmp_path):
    path = str(tmp_path / "ours.gds")
    ours(path)
    got = carvelle.info(path)
    assert (got.library, got.version, got.bytes) == (path, 3, os.path.getsize(path))
    assert (got.user_unit, got.meter_unit) == pytest.approx((1e-3, 1e-9), rel=1e-15)
    assert list(got.structures) == ["CELL", "TOP", "A", "B"]
    cell = got.structures["CELL"]
    assert cell.elements == KINDS_CELL
    assert cell.layers == {(1, 0): {"BOX": 3}, (2, 1): {"BOUNDARY": 2}, (3, 0): {"PATH": 1},
                           (4, 7): {"TEXT": 2}, (5, 2): {"NODE": 1}}
    assert cell.bbox == (-3, -8, 100, 71)
    assert cell.references == {}
    top = got.structures["TOP"]
    assert top.elements == {"SREF": 3, "AREF": 1} and top.bbox is None
    assert top.references == {"CELL": carvelle.Reference(2, 1, 8), "missing": carvelle.Reference(1, 0, 1)}
    assert got.top == ["TOP"]
    assert got.undefined == {"missing": ["TOP"]}
    assert got.cycles == [["A", "B", "A"]]


GDSPY = """
import gdspy, sys
lib = gdspy.GdsLibrary(unit=1e-6, precision=1e-9)
cell = gdspy.Cell("CELL", exclude_from_current=True)
lib.add(cell)
for i in range(7):
    cell.add(gdspy.Rectangle((i, 0), (i + 0.5, 1), layer=1, datatype=i % 2))
cell.add(gdspy.FlexPath([(0, 0), (1, 0), (1, 1)], 0.1, layer=3, gdsii_path=True))
cell.add(gdspy.Label("x", (0.5, 0.5), layer=4, texttype=2, magnification=2, rotation=45))
top = gdspy.Cell("TOP", exclude_from_current=True)
lib.add(top)
top.add(gdspy.CellReference(cell, (2, 0), rotation=90, magnification=2, x_reflection=True))
top.add(gdspy.CellArray(cell, 4, 5, (3, 2), (0, 0)))
lib.write_gds(sys.argv[1])
"""

KLAYOUT = """
ly = RBA::Layout.new
ly.dbu = 0.001
cell = ly.create_cell("CELL")
top = ly.create_cell("TOP")
5.times { |i| cell.shapes(ly.layer(1, 0)).insert(RBA::Box.new(i * 10, 0, i * 10 + 5, 5)) }
triangle = [RBA::Point.new(0, 0), RBA::Point.new(100, 0), RBA::Point.new(50, 80)]
cell.shapes(ly.layer(2, 1)).insert(RBA::Polygon.new(triangle))
cell.shapes(ly.layer(3, 0)).insert(RBA::Path.new([RBA::Point.new(0, 0), RBA::Point.new(1000, 0)], 100))
cell.shapes(ly.layer(4, 3)).insert(RBA::Text.new("t", RBA::Trans.new(5, 5)))
top.insert(RBA::CellInstArray.new(cell.cell_index, RBA::Trans.new(RBA::Trans::R90, 10, 20)))
columns, rows = RBA::Vector.new(3000, 0), RBA::Vector.new(0, 2000)
top.insert(RBA::CellInstArray.new(cell.cell_index, RBA::Trans.new, columns, rows, 3, 2))
ly.write($out)
"""


def test_files_of_other_writers(tmp_path):
    gdspy_path, klayout_path = str(tmp_path / "gdspy.gds"), str(tmp_path / "klayout.gds")
    subprocess.run([sys.executable, "-c", GDSPY, gdspy_path], check=True)
    script = tmp_path / "write.rb"
    script.write_text(KLAYOUT)
    subprocess.run(["klayout", "-b", "-rd", "out=" + klayout_path, "-r", str(script)], check=True,
                   env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    g = carvelle.info(gdspy_path)
    assert g.structures["CELL"].elements == {"BOUNDARY": 7, "PATH": 1, "TEXT": 1}
    assert g.structures["CELL"].layers == {(1, 0): {"BOUNDARY": 4}, (1, 1): {"BOUNDARY": 3}, (3, 0): {"PATH": 1},
                                           (4, 2): {"TEXT": 1}}
    assert g.structures["TOP"].references == {"CELL": carvelle.Reference(1, 1, 21)}
    assert g.top == ["TOP"] and g.version == 600
    k = carvelle.info(klayout_path)
    assert k.structures["CELL"].elements == {"BOUNDARY": 6, "PATH": 1, "TEXT": 1}
    assert k.structures["CELL"].layers == {(1, 0): {"BOUNDARY": 5}, (2, 1): {"BOUNDARY": 1}, (3, 0): {"PATH": 1},
                                           (4, 3): {"TEXT": 1}}
    assert k.structures["CELL"].bbox == (0, 0, 1000, 80)
    assert k.structures["TOP"].references == {"CELL": carvelle.Reference(1, 1, 7)}
    assert k.top == ["TOP"] and k.undefined == {} and k.cycles == []


def test_damaged_files_raise_info_error_with_their_byte(tmp_path):
    good = tmp_path / "good.gds"
    ours(str(good))
    data = good.read_bytes()
    layer = data.index(bytes.fromhex("00060D02"))  # the first LAYER
    (tmp_path / "bad.gds").write_bytes(data[:layer + 3] + b"\x03" + data[layer + 4:])
    with pytest.raises(carvelle.InfoError) as refused:
        carvelle.info(str(tmp_path / "bad.gds"))
    assert "LAYER in BOX after PLEX is of data type 4-byte integer" in refused.value.message
    assert refused.value.offset == layer
    with pytest.raises(carvelle.InfoError) as missing:
        carvelle.info(str(tmp_path / "missing.gds"))
    assert missing.value.offset is None and "missing.gds" in missing.value.message


def test_check_gives_each_rule_its_findings(tmp_path):
    path = str(tmp_path / "ours.gds")
    ours(path)
    data = open(path, "rb").read()
    fab = carvelle.check(path)
    assert not fab.clean and fab.rules == "fab" and fab.limits["max-layer"] == 255 and fab.limits["cycles"] is True
    assert {rule: n for rule, n in fab.counts.items() if n} == {"undefined": 1, "cycles": 1}
    missing = data.rindex(b"\x00\x04\x0A\x00", 0, data.index(b"missing"))  # the SREF that names it
    a = data.index(b"\x00\x06\x06\x06A\x00") - 28
    assert fab.findings == [
        carvelle.Finding("undefined", "TOP", missing, 'reference to "missing"'),
        carvelle.Finding("cycles", "A", a, 'cycle "A" -> "B" -> "A"')]
    readers = carvelle.check(path, profile="readers,cycles=off,max-layer=0", first=1)
    assert readers.counts == {"max-layer": 9, "max-array": 0, "undefined": 1, "duplicates": 0}
    assert [f.rule for f in readers.findings] == ["max-layer", "undefined"]
    assert readers.findings[0].structure == "CELL" and data[readers.findings[0].offset + 2] == 0x0D
    for wrong in ("fad", "max-layer=x", ""):
        with pytest.raises(ValueError):
            carvelle.check(path, profile=wrong)
    with pytest.raises(ValueError):
        carvelle.check(path, first=0)
    with pytest.raises(carvelle.InfoError) as missing_file:
        carvelle.check(str(tmp_path / "missing.gds"))
    assert missing_file.value.offset is None


def test_damaged_gzip_and_missing_files_in_the_words_of_files(tmp_path):
    import gzip
    import zlib
    plain = tmp_path / "good.gds"
    ours(str(plain))
    data = plain.read_bytes()
    packed = gzip.compress(data)
    (tmp_path / "cut.gds.gz").write_bytes(packed[:len(packed) // 2])
    with pytest.raises(carvelle.InfoError) as cut:
        carvelle.info(str(tmp_path / "cut.gds.gz"))
    # The library bytes that decompress before the cut, as Python's own gzip finds them.
    good = len(zlib.decompressobj(31).decompress(packed[:len(packed) // 2]))
    assert cut.value.offset == good and 0 < good < len(data)
    assert cut.value.message == "%s: its gzip data is cut short, at byte %d of the library" % (
        tmp_path / "cut.gds.gz", good)
    with pytest.raises(carvelle.InfoError) as missing:
        carvelle.check(str(tmp_path / "missing.gds"))
    assert missing.value.offset is None
    assert missing.value.message.startswith("%s: cannot open the file:" % (tmp_path / "missing.gds"))
