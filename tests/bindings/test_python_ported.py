# SPDX-License-Identifier: MIT
"""examples/python/ported_from_gdstk.py, a gdstk script with only the
changes of the page "Coming from gdstk or gdspy", writes a file that gdspy
and KLayout read with every shape and reference (`make deps` installs both
readers; a missing one fails the test)."""

import json
import os
import shutil
import subprocess
import sys
import warnings

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "examples", "python", "ported_from_gdstk.py")

# What the gdstk script asks for, in micrometres.
GDSPY = {
    "VIA": ([(3, 0, 4)], []),
    "PAD": ([(1, 0, 4)], [("PAD>VIA", (10.0, 10.0), 0.0, False, (4, 4, (20.0, 20.0)))]),
    "TOP": ([(4, 0, 3), (10, 1, 4)], [
        ("TOP>PAD", (100.0, 100.0), 0.0, False, None), ("TOP>PAD", (300.0, 100.0), 90.0, False, None),
        ("TOP>PAD", (500.0, 100.0), 0.0, True, None), ("TOP>PAD", (700.0, 100.0), 180.0, True, None)]),
}
KLAYOUT = {
    "VIA": {"shapes": [[3, 0, "box", 4]], "instances": []},
    "PAD": {"shapes": [[1, 0, "box", 4]], "instances": [["VIA", "r0 *1 10,10", 4, 4, "0,20", "20,0"]]},
    "TOP": {"shapes": [[1, 0, "path", 2.5], [4, 0, "polygon", 3], [10, 1, "box", 4], [63, 0, "text", "TOP"]],
            "instances": [["PAD", "m0 *1 500,100", 0, 0, "0,0", "0,0"], ["PAD", "m90 *1 700,100", 0, 0, "0,0", "0,0"],
                          ["PAD", "r0 *1 100,100", 0, 0, "0,0", "0,0"], ["PAD", "r90 *1 300,100", 0, 0, "0,0", "0,0"]]},
}


@pytest.fixture(scope="module")
def ported(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("ported") / "ported.gds")
    subprocess.run([sys.executable, SCRIPT, path], check=True)
    return path


def test_gdspy_reads_every_shape(ported):
    try:
        import gdspy
    except ImportError:
        pytest.fail("gdspy is missing for %s (make deps installs python3-gdspy)" % sys.executable)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # gdspy does not know ELFLAGS and PLEX
        cells = gdspy.GdsLibrary(infile=ported).cell_dict
    assert sorted(cells) == sorted(GDSPY)
    for name, (polygons, references) in GDSPY.items():
        cell = cells[name]
        assert sorted((p.layers[0], p.datatypes[0], len(p.polygons[0])) for p in cell.polygons) == polygons
        assert [(name + ">" + r.ref_cell.name, tuple(r.origin), r.rotation or 0.0, r.x_reflection,
                 (r.columns, r.rows, tuple(r.spacing)) if hasattr(r, "columns") else None)
                for r in cell.references] == references
    (path,) = cells["TOP"].paths
    assert (path.layers, list(path.widths[0]), [label.text for label in cells["TOP"].labels]) == ([1], [2.5], ["TOP"])
    assert len(cells["TOP"].get_polygons()) == 1 + 1 + 4 * (1 + 16) + 1


def test_klayout_reads_every_shape(ported):
    klayout = shutil.which("klayout")
    if not klayout:
        pytest.fail("klayout is missing (make deps installs it)")
    run = subprocess.run([klayout, "-b", "-r", os.path.join(HERE, "klayout_summary.py"), "-rd", "gds=" + ported],
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), check=True, capture_output=True, text=True)
    read = json.loads(run.stdout.strip().splitlines()[-1])
    assert (read["dbu"], read["top"], read["bbox"]) == (0.001, ["TOP"], "(0,0;1000,500)")
    assert read["cells"] == KLAYOUT
