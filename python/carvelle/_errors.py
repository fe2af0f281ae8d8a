# SPDX-License-Identifier: MIT
"""Result codes, the exception a refused call raises, and the warning for
structures that are referenced but never defined."""

import enum
import os
import sys
from typing import Callable, Optional, Union


class Result(enum.IntEnum):
    """The library's result codes."""
    GDS_OK = 0
    GDS_ERR_HANDLE = 1
    GDS_ERR_RANGE = 2
    GDS_ERR_OPEN = 3
    GDS_ERR_STARTED = 4
    GDS_ERR_STOPPED = 5
    GDS_ERR_STRUCT_NOT_CLOSED = 6
    GDS_ERR_STRUCT_OPEN = 7
    GDS_ERR_STRUCT_NOT_OPEN = 8
    GDS_ERR_STRUCT_DUPLICATE = 9
    GDS_ERR_TOO_MANY_POINTS = 10
    GDS_ERR_TOO_FEW_POINTS = 11
    GDS_ERR_PATH_POINTS = 12
    GDS_ERR_NO_STRING = 13
    GDS_ERR_STRING_LENGTH = 14
    GDS_ERR_TEXTTYPE = 15
    GDS_ERR_NODE_TOO_MANY = 16
    GDS_ERR_NODE_TOO_FEW = 17
    GDS_ERR_WRITE = 18
    GDS_ERR_NO_POINTS = 19
    GDS_ERR_NO_ELEMENT = 20
    GDS_ERR_PROPERTY = 21


# Set by the backend once it is loaded: code -> the library's message.
message_source: Optional[Callable[[int], str]] = None


class Error(Exception):
    """A call that the library refused.

    code: the result code (int); name: its name in the C header
    ("GDS_ERR_STRUCT_NOT_OPEN"); message: the library's own text for it,
    byte for byte (some end with a space); function: the C function called;
    index: for a batch call, the element that was refused (the elements
    before it are written); detail: what Python could find out besides
    (for a file that cannot be opened: the path and the reason).
    """

    def __init__(self, code: int, function: Optional[str] = None, index: Optional[int] = None,
                 detail: Optional[str] = None) -> None:
        super().__init__(code, function)
        self.code = int(code)
        try:
            self.name = Result(self.code).name
        except ValueError:
            self.name = "GDS_ERR_%d" % self.code
        self.function = function
        self.index = index
        self.detail = detail
        try:
            self.message = message_source(self.code) if message_source else ""
        except Exception:  # the library itself is unavailable
            self.message = ""

    def __str__(self) -> str:
        where = "%s: " % self.function if self.function else ""
        if self.index is not None:
            where += "element %d: " % self.index
        text = "%s%s (%s, code %d)" % (where, self.message.strip() or "unknown result", self.name, self.code)
        return text + ": " + self.detail if self.detail else text


class RangeError(ValueError, OverflowError):
    """A value outside the range its field holds (a coordinate past 32 bits,
    cols=0, a layer of -1), refused before anything is written.

    Both a ValueError, so that ``except ValueError`` catches every refused
    value, and an OverflowError, as Python's own integer conversions raise.
    """


class RuleError(RangeError):
    """A call refused, before anything was written, because it breaks a rule
    of the library's rule set (Library(path, rules="fab")).

    Attributes
    ----------
    rule : str
        The rule's name, as carvelle-info --check names it ("max-layer").
    found : str
        What broke it ("layer 300, over 255").
    function : str
        The method refused ("box", "structure").
    index : int or None
        For a batch writer, the first row that breaks a rule (none of the
        batch is written).
    """

    def __init__(self, rule: str, found: str, reason: str, function: str, index: Optional[int] = None) -> None:
        self.rule, self.found, self.reason, self.function, self.index = rule, found, reason, function, index
        row = "row %d: " % index if index is not None else ""
        super().__init__("%s: %sbreaks rule %s: %s (%s)" % (function, row, rule, found, reason))


class UndefinedStructureWarning(UserWarning):
    """A library ended with references to structures that it never defined."""


def file_name_bytes(path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]) -> bytes:
    """The file name as the library takes it: the bytes of the path on POSIX,
    UTF-8 on Windows (where the library converts UTF-8 names itself)."""
    if isinstance(path, (bytes, bytearray)):
        data = bytes(path)
    else:
        name = os.fspath(path)
        if isinstance(name, bytes):
            data = name
        elif sys.platform == "win32":
            data = name.encode("utf-8")
        else:
            data = os.fsencode(name)
    if b"\0" in data:
        raise ValueError("file name contains a NUL character")
    return data


def why_not_writable(path: bytes) -> str:
    """The reason a file cannot be created at path, as far as the operating
    system tells without creating it."""
    name = os.fsdecode(path)
    if not name:
        return "the file name is empty"
    folder = os.path.dirname(os.path.abspath(name))
    if not os.path.exists(folder):
        return "%r: the folder %r does not exist" % (name, folder)
    if not os.path.isdir(folder):
        return "%r: %r is not a folder" % (name, folder)
    if os.path.isdir(name):
        return "%r is a folder" % name
    if os.path.exists(name):
        if not os.access(name, os.W_OK):
            return "%r: permission denied (the file is not writable)" % name
    elif not os.access(folder, os.W_OK | os.X_OK):
        return "%r: permission denied (no new files in %r)" % (name, folder)
    return "%r could not be opened for writing" % name
