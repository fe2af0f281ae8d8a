# SPDX-License-Identifier: MIT
"""How a run ends, read as a tester: a last write that fails on a regular
file, a file put in place of the run's, a second library on the same file,
a structure's end failing under an exception, warnings over two closes,
element errors at index 0; and the user door's rounding at its edges."""

import os
import subprocess
import sys
import warnings

import carvelle
import pytest

from conftest import masked, records

np = pytest.importorskip("numpy")
XY, ENDLIB = 0x1003, 0x0400

# The process may write at most LIMIT bytes to a file; past that a write
# fails (EFBIG) as on a full disk, but on a regular file.
FILE_LIMIT = r"""
import os, resource, signal, sys
import carvelle
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]  # may be below infinity where the tests run
resource.setrlimit(resource.RLIMIT_FSIZE, (int(sys.argv[2]), hard))
mode, boxes = sys.argv[1], int(sys.argv[3])

class Mine(Exception):
    pass

try:
    with carvelle.Library("f.gds", keep_incomplete=mode == "keep") as lib:
        with lib.structure("A") as a:
            for i in range(boxes):
                a.box(0, 0, i, i)
            if mode == "raise":
                raise Mine()
    print("closed")
except carvelle.Error as error:
    print(error.name)
except Mine:
    print("mine")
print(" ".join(sorted(os.listdir("."))))
"""


@pytest.mark.skipif(sys.platform == "win32", reason="needs RLIMIT_FSIZE")
@pytest.mark.parametrize("mode, said, left", [
    ("plain", "GDS_ERR_WRITE", ""), ("keep", "GDS_ERR_WRITE", "f.gds.incomplete"), ("raise", "mine", ""),
])
def test_a_run_whose_last_write_fails_leaves_nothing_under_the_name(tmp_path, mode, said, left):
    """The boxes fit the buffer: only the flush at close (or the structure's
    end under the user's exception) meets the limit."""
    result = subprocess.run([sys.executable, "-c", FILE_LIMIT, mode, "300", "20"], cwd=tmp_path,
                            capture_output=True, text=True, env=os.environ)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n")[:2] == [said, left]


def test_a_file_put_in_place_of_the_run_is_left_alone(in_tmp):
    with pytest.raises(ZeroDivisionError):
        with carvelle.Library("p.gds", keep_incomplete=False) as lib, lib.structure("A") as a:
            a.box(0, 0, 1, 1)
            (in_tmp / "other").write_bytes(b"someone else's")
            os.replace("other", "p.gds")
            1 / 0
    assert (in_tmp / "p.gds").read_bytes() == b"someone else's"


@pytest.mark.parametrize("first_boxes", [1, 3000])
def test_a_second_library_on_the_same_file_holds_its_run_alone(in_tmp, first_boxes):
    with carvelle.Library("solo.gds") as lib, lib.structure("S") as s:
        for i in range(3):
            s.box(0, 0, i, i)
    first = carvelle.Library("same.gds")
    cell = first.structure("FIRST")
    for i in range(first_boxes):   # 3000 boxes: past the buffer, partly flushed
        cell.box(0, 0, i, i)
    with pytest.warns(RuntimeWarning, match="still writing"):
        second = carvelle.Library("same.gds")
    with second, second.structure("S") as s:
        for i in range(3):
            s.box(0, 0, i, i)
    del first, cell
    assert masked((in_tmp / "same.gds").read_bytes()).replace(b"same", b"solo") == \
        masked((in_tmp / "solo.gds").read_bytes())


def test_warnings_and_errors_are_told_once(in_tmp):
    lib = carvelle.Library("w.gds")
    with lib.structure("TOP") as top:
        top.sref("GHOST", 0, 0)
    with warnings.catch_warnings(record=True) as told:
        warnings.simplefilter("always")
        lib.close()
        lib.close()
        lib.__del__()
    assert [str(w.message).endswith("GHOST") for w in told] == [True]
    with carvelle.Library("i.gds") as lib, lib.structure("TOP") as top:
        for call, index in ((lambda: top.boundaries([[0, 0], [1, 1], [0, 0], [1, 0], [0, 1]], [0, 2, 5]), 0),
                            (lambda: top.paths([[0, 0], [1, 1], [0, 0]], [0, 2, 3]), 1)):
            with pytest.raises(carvelle.Error) as caught:
                call()
            assert caught.value.index == index and ("element %d:" % index) in str(caught.value)
    # element 0 failed: nothing of the first batch; the second wrote its element 0
    assert [t for t, _ in records((in_tmp / "i.gds").read_bytes())].count(XY) == 1


def test_a_structure_end_that_fails_under_an_exception_keeps_the_exception(in_tmp, monkeypatch):
    ends = carvelle.Structure.end

    def failing_end(self):   # ENDSTR is written, then the flush fails
        ends(self)
        raise carvelle.Error(carvelle.Result.GDS_ERR_WRITE, "GDS_EndStructure")
    monkeypatch.setattr(carvelle.Structure, "end", failing_end)
    with carvelle.Library("s.gds") as lib:
        with pytest.raises(KeyError):
            with lib.structure("A"):
                raise KeyError("mine")
        with pytest.raises(carvelle.Error, match="GDS_ERR_WRITE"):
            with lib.structure("B"):
                pass
        with pytest.raises(carvelle.Error, match="GDS_ERR_WRITE"):
            with lib.structure("C"):
                sys.exit(0)    # a clean exit is no exception in flight


# ------------------------------------------------------------------ the user door's edges

def test_user_units_scales_near_a_whole_number(in_tmp):
    assert carvelle.Units(1e-9, 1e-18).scale == 1e9          # 1 / 1e-9 is 999999999.9999999
    assert carvelle.Units.from_arguments(None, None, 1e-6, 1e-9).scale == 1000.0
    near = 1 / (1000 * (1 + 1e-7))                            # a hundred times the snapping distance
    assert carvelle.Units(near, 1e-9).scale == pytest.approx(1000.0001, abs=1e-7)
    assert carvelle.Units(0.3, 1e-9).scale == 1 / 0.3
    with carvelle.Library("n.gds", user_unit=1e-9, meter_unit=1e-18) as lib, lib.structure("A") as a:
        assert a.user.scale == 1e9
        a.user.box(0, 0, 2, 1.5)
    xy = [p for t, p in records((in_tmp / "n.gds").read_bytes()) if t == XY][0]
    assert np.frombuffer(xy, ">i4").tolist() == [0, 0, 2000000000, 0, 2000000000, 1500000000, 0, 1500000000,
                                                 0, 0]


HALVES = [(0.25, -0.25), (0.75, -0.75), (-1.25, 1.25)]          # x2: 0.5, 1.5, 2.5 database units
ROUNDED = [1, -1, 2, -2, -3, 3, 1, -1]                          # halves away from zero; the ring closed


@pytest.mark.parametrize("form", ["pairs", "array", "columns", "batch"])
def test_halves_in_user_point_arrays_round_away_from_zero(in_tmp, form):
    points = np.array(HALVES)
    with carvelle.Library("h.gds", user_unit=0.5, meter_unit=1e-9) as lib, lib.structure("A") as a:
        if form == "pairs":
            a.user.boundary([tuple(p) for p in HALVES])
        elif form == "array":
            a.user.boundary(points)
        elif form == "columns":
            a.user.boundary(points[:, 0], points[:, 1])
        else:
            a.user.boundaries(points, [0, 3])
    xy = [p for t, p in records((in_tmp / "h.gds").read_bytes()) if t == XY][0]
    assert np.frombuffer(xy, ">i4").tolist() == ROUNDED


@pytest.mark.parametrize("form", ["pairs", "array", "columns", "batch"])
def test_the_32_bit_ends_in_user_point_arrays(in_tmp, form):
    def write(a, rows):
        points = np.array(rows, dtype=np.float64)
        if form == "pairs":
            a.user.boundary([tuple(p) for p in rows])
        elif form == "array":
            a.user.boundary(points)
        elif form == "columns":
            a.user.boundary(points[:, 0], points[:, 1])
        else:
            a.user.boundaries(points, [0, len(rows)])
    ends = [(2.0 ** 31 - 1, -2.0 ** 31), (0, 0), (-2.0 ** 31, 2.0 ** 31 - 1)]
    with carvelle.Library("e.gds", user_unit=1.0, meter_unit=1e-9) as lib, lib.structure("A") as a:
        write(a, ends)
        for bad in ((2.0 ** 31, 0), (0, -2.0 ** 31 - 1), (2.0 ** 31 - 0.5, 0), (-2.0 ** 31 - 0.5, 0)):
            with pytest.raises(carvelle.RangeError):
                write(a, [(0, 0), bad, (1, 1)])
    xys = [p for t, p in records((in_tmp / "e.gds").read_bytes()) if t == XY]
    assert len(xys) == 1
    assert np.frombuffer(xys[0], ">i4").tolist() == [2 ** 31 - 1, -2 ** 31, 0, 0, -2 ** 31, 2 ** 31 - 1,
                                                     2 ** 31 - 1, -2 ** 31]
