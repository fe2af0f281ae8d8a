#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Compares OASIS files record for record, their CBLOCKs expanded: the
compressed bytes depend on the deflate library a platform is built with, the
records, names and properties must not. Each file is read by the tests'
strict reader, signature checked; what is left out is where things lie
(offsets, S_CELL_OFFSET, tables, the signature itself).

Usage: oas_compare.py REFERENCE.oas OTHER.oas... Exit status 0 when all
match, 1 when one differs (the first difference is printed), 2 when one
cannot be read."""
import os
import sys
from types import SimpleNamespace

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "oasis"))
import oasis_reader as oasis  # noqa: E402

PLACES = {"offset", "where", "tables", "table_location", "validation"}


def plain(value):
    """Nested namespaces, lists and dicts as plain data without their places in the file."""
    if isinstance(value, (SimpleNamespace, oasis.Layout)):
        fields = vars(value)
        if getattr(value, "name", None) == "S_CELL_OFFSET":  # a cell's place, not its content
            fields = dict(fields, values=None)
        return {key: plain(item) for key, item in fields.items() if key not in PLACES}
    if isinstance(value, dict):
        return {key: plain(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(item) for item in value]
    return value


def first_difference(a, b, where="file"):
    if type(a) is not type(b) or not isinstance(a, (dict, list)):
        return None if a == b else f"{where}: {a!r} against {b!r}"
    if isinstance(a, dict):
        if a.keys() != b.keys():
            return f"{where}: fields {sorted(a)} against {sorted(b)}"
        pairs = ((f"{where}.{key}", a[key], b[key]) for key in a)
    else:
        if len(a) != len(b):
            return f"{where}: {len(a)} items against {len(b)}"
        pairs = ((f"{where}[{i}]", x, y) for i, (x, y) in enumerate(zip(a, b)))
    return next(filter(None, (first_difference(x, y, at) for at, x, y in pairs)), None)


def main(reference, *others):
    try:
        expected = plain(oasis.read(reference, expect_strict=True, require_validation=True))
        for other in others:
            difference = first_difference(expected, plain(oasis.read(other, expect_strict=True,
                                                                     require_validation=True)))
            if difference:
                print(f"{reference} and {other} differ: {difference}")
                return 1
            print(f"{reference} and {other} match, CBLOCKs expanded")
    except (OSError, oasis.OasisError) as error:
        print(f"oas_compare: {error}")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]) if len(sys.argv) > 2 else 2)
