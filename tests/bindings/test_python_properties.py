# SPDX-License-Identifier: MIT
"""Element properties and fixed timestamps through Python: the bytes of the
same calls through C, what KLayout and gdspy read, the records spelled out,
refusals that write nothing."""

import datetime
import json
import os
import shutil
import struct
import subprocess
import warnings

import pytest

import carvelle
from conftest import records

HERE = os.path.dirname(os.path.abspath(__file__))
PROPATTR, PROPVALUE, ENDEL, BOX = 0x2B02, 0x2C06, 0x1100, 0x2D00
MOMENT = datetime.datetime(2024, 3, 1, 12, 34, 56)  # naive: read as UTC


def write_every(path):
    """c_reference.c's "properties" scenario, through Python."""
    with carvelle.Library(path, timestamp=MOMENT) as lib:
        with lib.structure("LEAF") as leaf:
            leaf.boundary([(0, 0), (100, 0), (100, 50)], layer=1, properties={1: "boundary", 2: 17})
        with lib.structure("TOP") as top:
            top.box(0, 0, 10, 20, layer=2, properties={1: b"box"})
            top.path([0, 100, 100], [0, 0, 50], width=4, layer=3, properties={3: "odd"})
            top.text(5, 5, "label", layer=4, properties={4: "text"})
            top.sref("LEAF", 1000, 0, properties={5: "sref", 127: 2.5})
            top.aref("LEAF", (0, 0), (300, 0), (0, 200), 3, 2, properties={6: "aref"})
            top.node([(0, 0), (100, 0)], layer=5, properties={7: "node"})
            top.boxes([[0, 0, 1, 1], [2, 2, 3, 3]], layer=6, properties={8: "row"})


def test_every_kind_writes_the_bytes_of_the_c_calls_and_klayout_reads_them(in_tmp, reference):
    write_every("out.gds")
    written = (in_tmp / "out.gds").read_bytes()
    assert written == reference("properties")
    klayout = shutil.which("klayout")
    if not klayout:
        pytest.fail("klayout is missing (make deps installs it)")
    run = subprocess.run([klayout, "-b", "-r", os.path.join(HERE, "klayout_properties.py"),
                          "-rd", "gds=" + str(in_tmp / "out.gds")],
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), check=True, capture_output=True, text=True)
    # KLayout has no NODE: it reads every other element with its properties.
    assert json.loads(run.stdout.strip().splitlines()[-1]) == {
        "LEAF": [["polygon", 1, {"1": "boundary", "2": "17"}]],
        "TOP": [["aref", "LEAF", {"6": "aref"}], ["box", 2, {"1": "box"}], ["box", 6, {"8": "row"}],
                ["box", 6, {"8": "row"}], ["path", 3, {"3": "odd"}], ["sref", "LEAF", {"127": "2.5", "5": "sref"}],
                ["text", 4, {"4": "text"}]]}


def test_gdspy_reads_a_file_with_properties(in_tmp):
    # Debian's gdspy 1.4 reads no property (nor BOX or NODE): it must still
    # read every other element around them.
    write_every("out.gds")
    import gdspy
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        cells = gdspy.GdsLibrary(infile="out.gds").cell_dict
    top = cells["TOP"]
    assert len(top.references) == 2
    assert list(cells["LEAF"].get_polygons(by_spec=True)) == [(1, 0)]
    assert [(p.layers, p.datatypes) for p in top.paths] == [([3], [0])]
    assert [label.text for label in top.labels] == ["label"]


def test_pairs_are_spelled_out_before_endel_and_refusals_write_nothing(in_tmp):
    with carvelle.Library("p.gds", timestamp=0) as lib:
        with lib.structure("S") as s:
            s.box(0, 0, 1, 1, properties={1: "abc", 126: "", 3: -7})
            for refused, kind in (({0: "x"}, OverflowError), ({128: "x"}, OverflowError),
                                  ({True: "x"}, TypeError), ({1: None}, TypeError), ({1: "a\0b"}, ValueError),
                                  ({1: "x" * 127}, ValueError), ({1: "x" * 62, 2: "y" * 63}, ValueError),
                                  ({1: float("nan")}, ValueError), ([(1, "x")], TypeError)):
                with pytest.raises(kind):
                    s.box(5, 5, 6, 6, properties=refused)
                with pytest.raises(kind):
                    s.boxes([[5, 5, 6, 6]], properties=refused)
            s.user.box(0, 0, 0.001, 0.001, properties={2: "é"})
    tags = records((in_tmp / "p.gds").read_bytes())
    assert tags[1] == (0x0102, bytes(24)) and tags[4] == (0x0502, bytes(24))
    pairs = [(tag, payload) for tag, payload in tags if tag in (PROPATTR, PROPVALUE, ENDEL, BOX)]
    assert pairs == [(BOX, b""), (PROPATTR, b"\x00\x01"), (PROPVALUE, b"abc\x00"), (PROPATTR, b"\x00\x7e"),
                     (PROPVALUE, b""), (PROPATTR, b"\x00\x03"), (PROPVALUE, b"-7"), (ENDEL, b""),
                     (BOX, b""), (PROPATTR, b"\x00\x02"), (PROPVALUE, b"\xc3\xa9"), (ENDEL, b"")]


def test_timestamps_are_utc_datetimes_zero_or_source_date_epoch(in_tmp, monkeypatch):
    def stamp(**kwargs):
        with carvelle.Library("t.gds", **kwargs) as lib:
            lib.structure("S").end()
        tags = records((in_tmp / "t.gds").read_bytes())
        assert tags[1][1] == tags[4][1]
        return struct.unpack(">12h", tags[1][1])[:6]

    east = datetime.timezone(datetime.timedelta(hours=2))
    assert stamp(timestamp=MOMENT) == (124, 3, 1, 12, 34, 56)
    assert stamp(timestamp=datetime.datetime(2024, 3, 1, 14, 34, 56, 999999, east)) == (124, 3, 1, 12, 34, 56)
    assert stamp(timestamp=0) == (0,) * 6
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "951782400")
    assert stamp() == (100, 2, 29, 0, 0, 0)
    assert stamp(timestamp=0) == (0,) * 6  # the argument wins
    for refused in (5, "2024", datetime.date(2024, 1, 1), False):
        with pytest.raises(TypeError):
            carvelle.Library("r.gds", timestamp=refused)
    with pytest.raises(ValueError):  # one second before 1970 is not the zero stamp
        carvelle.Library("r.gds", timestamp=datetime.datetime(1969, 12, 31, 23, 59, 59))
    assert not (in_tmp / "r.gds").exists()
