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


def test_a_bad_thread_setting_is_warned_about_once_and_the_file_written(in_tmp, monkeypatch):
    import warnings
    from carvelle import _library
    for setting, said in (("0", "is 0"), ("17", "above 16"), ("abc", "not a whole number"), ("-1", "not a whole")):
        monkeypatch.setenv("CARVELLE_GZIP_THREADS", setting)
        _library._warned_settings.discard(setting)
        for attempt in range(2):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                with carvelle.Library("t.gds.gz") as lib, lib.structure("A") as a:
                    a.box(0, 0, 1, 1)
            messages = [str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)]
            assert len(messages) == (0 if attempt else 1), messages
            if not attempt:
                assert messages[0].startswith("CARVELLE_GZIP_THREADS=%r " % setting) and said in messages[0]
        assert gzip.decompress((in_tmp / "t.gds.gz").read_bytes())[-4:] == b"\x00\x04\x04\x00"
    for setting in ("1", "16", ""):
        monkeypatch.setenv("CARVELLE_GZIP_THREADS", setting)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            carvelle.Library("t.gds.gz").close()
