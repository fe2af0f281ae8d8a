# SPDX-License-Identifier: MIT
"""A name ending in .gz gives a gzip file that Python's gzip module reads:
the records of the same calls written to a plain file, the name aside."""

import gzip

import carvelle

from conftest import masked, records
from test_python_bytes import write_every

LIBNAME = 0x0206


def without_name(data):
    return [record for record in records(masked(data)) if record[0] != LIBNAME]


def test_a_gz_name_writes_the_plain_records_compressed(in_tmp):
    for name in ("plain.gds", "packed.gds.gz", "PACKED.GDS.GZ"):
        with carvelle.Library(name) as lib:
            write_every(lib)
            with lib.structure("MANY") as many:
                # Several megabytes: several pieces, compressed apart.
                for i in range(60000):
                    many.box(i, -i, i + 7, 3 * i, layer=i % 5)
    plain = (in_tmp / "plain.gds").read_bytes()
    for name in ("packed.gds.gz", "PACKED.GDS.GZ"):
        packed = (in_tmp / name).read_bytes()
        assert packed[:2] == b"\x1f\x8b"
        unpacked = gzip.decompress(packed)
        assert without_name(unpacked) == without_name(plain)
        assert (LIBNAME, name.encode() + b"\0" * (len(name) % 2)) in records(unpacked)
