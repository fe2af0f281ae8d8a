# SPDX-License-Identifier: MIT
"""A name ending in .oas gives an OASIS file through either backend, from
the element methods and the numpy batch writers alike; what OASIS cannot
hold raises the range code and leaves the file as it was."""

import struct
import zlib

import pytest

import carvelle


def write(name, refuse):
    with carvelle.Library(name) as lib:
        with lib.structure("TOP") as top:
            top.box(0, 0, 10, 20, layer=1)
            if refuse:
                with pytest.raises(carvelle.Error) as raised:
                    top.path([(0, 0), (10, 0)], width=3)
                assert raised.value.name == "GDS_ERR_RANGE"
            top.sref("LEAF", 5, 5)
            top.text(1, 2, "hi", layer=3)
        with lib.structure("LEAF") as leaf:
            try:
                import numpy
            except ImportError:
                leaf.box(0, 0, 1, 1)
            else:
                leaf.boxes(numpy.array([[0, 0, 1, 1], [5, 5, 6, 8]], dtype=numpy.int32), layer=2)


def test_an_oas_name_writes_oasis_and_refusals_leave_it_as_it_was(in_tmp):
    write("plain.oas", False)
    write("REFUSED.OAS", True)
    data = (in_tmp / "plain.oas").read_bytes()
    assert data.startswith(b"%SEMI-OASIS\r\n\x01\x031.0")
    assert data[-256] == 2 and data[-5] == 1
    assert struct.unpack("<I", data[-4:])[0] == zlib.crc32(data[:-4])
    for name in (b"TOP", b"LEAF", b"hi"):
        assert name in data
    assert (in_tmp / "REFUSED.OAS").read_bytes() == data
