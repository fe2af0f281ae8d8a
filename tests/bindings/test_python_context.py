# SPDX-License-Identifier: MIT
"""Leaving a with block ends the structure and the library, also when an
exception leaves it (the file is then set aside), and never hides that
exception."""

import os

import carvelle
import pytest

from conftest import records

ENDEL, ENDSTR, ENDLIB = 0x1100, 0x0700, 0x0400


class Boom(Exception):
    pass


def open_descriptors_to(path):
    """Paths of this process's open file descriptors that point at path."""
    folder = "/proc/self/fd"
    found = []
    for fd in os.listdir(folder):
        try:
            if os.path.realpath(os.path.join(folder, fd)) == os.path.realpath(path):
                found.append(fd)
        except OSError:
            pass
    return found


needs_proc = pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")


def tail_tags(path, n=3):
    return [tag for tag, _ in records(path.read_bytes())][-n:]


@needs_proc
def test_exception_in_both_blocks_closes_the_file(in_tmp):
    path = in_tmp / "x.gds"
    raised = Boom("inside")
    with pytest.raises(Boom) as caught:
        with carvelle.Library("x.gds", keep_incomplete=True) as lib:
            with lib.structure("A") as a:
                a.box(0, 0, 1, 1)
                assert open_descriptors_to(path)
                raise raised
    assert caught.value is raised
    assert lib.closed and a.closed
    assert not open_descriptors_to(path) and not path.exists()
    assert tail_tags(in_tmp / "x.gds.incomplete") == [ENDEL, ENDSTR, ENDLIB]


def test_structure_without_with_is_ended_by_the_library_block(in_tmp):
    with pytest.raises(Boom):
        with carvelle.Library("y.gds", keep_incomplete=True) as lib:
            s = lib.structure("A")
            s.box(0, 0, 1, 1)
            raise Boom()
    assert s.closed
    assert tail_tags(in_tmp / "y.gds.incomplete") == [ENDEL, ENDSTR, ENDLIB]


def test_normal_exit_ends_an_open_structure_too(in_tmp):
    with carvelle.Library("z.gds") as lib:
        lib.structure("A").box(0, 0, 1, 1)
    assert tail_tags(in_tmp / "z.gds") == [ENDEL, ENDSTR, ENDLIB]


def test_library_error_inside_the_block_propagates_and_no_file_is_left(in_tmp):
    with pytest.raises(carvelle.Error) as caught:
        with carvelle.Library("e.gds") as lib:
            with lib.structure("A") as a:
                a.path([(0, 0)])
    assert caught.value.code == 12
    assert os.listdir(in_tmp) == []


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_failure_while_ending_does_not_mask_the_exception():
    # /dev/full accepts the open and fails every write: ending reports 18.
    with pytest.raises(Boom):
        with carvelle.Library("/dev/full") as lib:
            with lib.structure("A") as a:
                for i in range(2000):
                    a.box(0, 0, i, i)
                raise Boom()
    assert lib.closed
    # Without an exception in flight the same failure is raised.
    with pytest.raises(carvelle.Error) as caught:
        with carvelle.Library("/dev/full") as lib:
            with lib.structure("A") as a:
                for i in range(2000):
                    a.box(0, 0, i, i)
    assert caught.value.code == 18


def test_ended_structure_does_not_write_into_the_next_one(in_tmp):
    with carvelle.Library("s.gds") as lib:
        with lib.structure("A") as a:
            pass
        with lib.structure("B"):
            with pytest.raises(carvelle.Error) as caught:
                a.box(0, 0, 1, 1)
    assert caught.value.code == 8 and caught.value.name == "GDS_ERR_STRUCT_NOT_OPEN"
    assert 0x2D00 not in [tag for tag, _ in records((in_tmp / "s.gds").read_bytes())]  # no BOX


@needs_proc
def test_dropping_the_last_reference_ends_the_library_at_once(in_tmp):
    # No collector run: Library and Structure must not refer to each other.
    lib = carvelle.Library("d.gds")
    lib.structure("A").box(0, 0, 1, 1)
    other = carvelle.Library("k.gds")
    structure = other.structure("B")
    del lib, other
    assert not open_descriptors_to(in_tmp / "d.gds") and not open_descriptors_to(in_tmp / "k.gds")
    assert tail_tags(in_tmp / "d.gds", 2) == [ENDSTR, ENDLIB]
    assert tail_tags(in_tmp / "k.gds", 2) == [ENDSTR, ENDLIB]
    assert structure.closed and structure.library is None


def test_library_path_names_the_library_in_use():
    path = carvelle.library_path()
    assert carvelle.backend == os.environ["CARVELLE_BACKEND"]
    if carvelle.backend == "ctypes":
        assert os.path.samefile(path, os.environ["CARVELLE_LIBRARY"])
    assert carvelle.load() == path and carvelle.load(path) == path
