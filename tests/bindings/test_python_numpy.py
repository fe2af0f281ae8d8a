# SPDX-License-Identifier: MIT
"""numpy arrays as point lists: int32 arrays go to the library without a
copy, other integer arrays are converted with a range check."""

import carvelle
import pytest

from conftest import masked
from test_python_bytes import write_every

np = pytest.importorskip("numpy")


def xy_pointers(points, ys=None):
    from carvelle import _values
    xs, ys = _values.int32_columns(points, ys)
    return xs.ctypes.data, ys.ctypes.data, len(xs)


def test_int32_columns_are_passed_without_a_copy():
    xs = np.arange(10, dtype=np.int32)
    ys = np.arange(10, 20, dtype=np.int32)
    assert xy_pointers(xs, ys) == (xs.ctypes.data, ys.ctypes.data, 10)
    rows = np.array([xs, ys])       # a (2, n) array: each row is contiguous
    assert xy_pointers(*rows) == (rows[0].ctypes.data, rows[1].ctypes.data, 10)


@pytest.mark.parametrize("make", [
    lambda p: np.array(p, dtype=np.int32),                      # (n, 2), copied into columns
    lambda p: np.array(p, dtype=np.int64),
    lambda p: np.array(p, dtype=np.int16),
    lambda p: np.repeat(np.array(p, dtype=np.int32), 2, axis=0)[::2],   # strided rows
    lambda p: np.asfortranarray(np.array(p, dtype=np.int32)),
])
def test_array_forms_match_c(reference, in_tmp, make):
    expected = masked(reference("every"))
    ring = make([(0, 0), (100, 0), (100, 50), (0, 50)])
    with carvelle.Library("out.gds", user_unit=0.5, meter_unit=2.5e-10) as lib:
        write_every(lib, boundary_points=ring)
    assert masked((in_tmp / "out.gds").read_bytes()) == expected


def test_columns_and_scalars_from_numpy(in_tmp):
    xs = np.array([0, 10, 10, 0], dtype=np.int32)
    ys = np.array([0, 0, 10, 10], dtype=np.uint8)
    with carvelle.Library("n.gds") as lib, lib.structure("N") as n:
        n.boundary(xs, ys, layer=np.int64(3))
        n.box(np.int32(0), np.int64(0), xs[1], ys[2], layer=np.uint16(65535))
        n.path(xs[::2], ys[::2], width=np.int16(5))      # non-contiguous views


def test_out_of_range_and_float_arrays_are_refused(in_tmp):
    with carvelle.Library("n.gds") as lib, lib.structure("N") as n:
        with pytest.raises(OverflowError):
            n.boundary(np.array([[0, 0], [2**31, 0], [0, 1]], dtype=np.int64))
        with pytest.raises(OverflowError):
            n.node(np.array([0], dtype=np.uint64) + np.uint64(2**63), np.array([0]))
        with pytest.raises(TypeError):
            n.boundary(np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]]))
        with pytest.raises(ValueError):
            n.boundary(np.zeros((3, 3), dtype=np.int32))
        with pytest.raises(OverflowError):
            n.box(0, 0, 1, 1, layer=np.int64(70000))
        with pytest.raises(carvelle.Error) as caught:
            n.boundary(np.zeros((0, 2), dtype=np.int32))
        assert caught.value.code == 11
