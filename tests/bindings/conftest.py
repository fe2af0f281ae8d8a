# SPDX-License-Identifier: MIT
"""Shared helpers of the Python binding tests.

The tests import the carvelle package from python/ and load the library named
by CARVELLE_LIBRARY; CARVELLE_C_REFERENCE names the C program that writes the
reference files (both are set by the ctest entry).
"""

import os
import struct
import subprocess

import pytest

BGNLIB, BGNSTR = 0x0102, 0x0502


def records(data):
    """Splits a stream file into (tag, payload) pairs by the length words."""
    out = []
    offset = 0
    while offset < len(data):
        assert offset + 4 <= len(data), "truncated record header at %d" % offset
        length, tag = struct.unpack_from(">HH", data, offset)
        assert length >= 4 and offset + length <= len(data), "bad record length at %d" % offset
        out.append((tag, data[offset + 4:offset + length]))
        offset += length
    return out


def masked(data):
    """The file with the BGNLIB and BGNSTR timestamps zeroed."""
    out = bytearray()
    for tag, payload in records(data):
        if tag in (BGNLIB, BGNSTR):
            assert len(payload) == 24
            payload = bytes(24)
        out += struct.pack(">HH", len(payload) + 4, tag) + payload
    return bytes(out)


@pytest.fixture
def reference(tmp_path):
    """reference(scenario) -> bytes the C program writes to 'out.gds' (run in
    its own folder, so that LIBNAME is the same relative name)."""
    program = os.environ.get("CARVELLE_C_REFERENCE")
    if not program:
        pytest.fail("CARVELLE_C_REFERENCE is not set (run the tests through ctest)")

    def run(scenario):
        folder = tmp_path / ("c-" + scenario)
        folder.mkdir()
        subprocess.run([program, scenario, "out.gds"], cwd=folder, check=True)
        return (folder / "out.gds").read_bytes()

    return run


@pytest.fixture
def in_tmp(tmp_path, monkeypatch):
    """Runs the test in a fresh folder of its own; returns that folder."""
    folder = tmp_path / "py"
    folder.mkdir()
    monkeypatch.chdir(folder)
    return folder
