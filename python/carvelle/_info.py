# SPDX-License-Identifier: MIT
"""carvelle.info and carvelle.check: what a GDSII library holds and which
rules it breaks, as read by the carvelle-info program (its --json output, as
dataclasses)."""

import json
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Tuple, Union

PathName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class InfoError(Exception):
    """A file that carvelle-info could not read: `offset` is the byte where
    it goes wrong (None when it could not be opened)."""

    def __init__(self, message: str, offset: Optional[int] = None) -> None:
        super().__init__(message)
        self.message = message
        self.offset = offset


@dataclass(frozen=True)
class Reference:
    """The SREF and AREF elements that place one structure, and the placements they make."""
    sref: int
    aref: int
    placements: int


@dataclass(frozen=True)
class StructureInfo:
    """One structure of a library, as info() reads it: its name, the byte
    offset of its BGNSTR, its elements by kind and by (layer, datatype), the
    bounding box of its own shapes' points (None without shapes), and the
    structures it references."""
    name: str
    offset: int                                      # of its BGNSTR
    elements: Dict[str, int]                         # by kind: "BOUNDARY", "PATH", "BOX", "TEXT", ...
    layers: Dict[Tuple[int, int], Dict[str, int]]    # (layer, datatype) -> elements by kind
    bbox: Optional[Tuple[int, int, int, int]]        # xmin, ymin, xmax, ymax of its own shapes' points
    references: Dict[str, Reference]                 # by the name of the structure placed


@dataclass(frozen=True)
class LibraryInfo:
    """What info() found in a library: the file and its size, LIBNAME, the
    stream version, the two units, the structures in file order, the top
    structures, the names referenced but undefined (with who references
    them), reference cycles, and names defined more than once."""
    file: str
    bytes: int
    library: str
    version: int
    user_unit: float
    meter_unit: float
    structures: Dict[str, StructureInfo]             # in file order
    top: List[str]
    undefined: Dict[str, List[str]]                  # name -> the structures that reference it
    cycles: List[List[str]]                          # each ends with its first name
    defined_again: List[str] = field(default_factory=list)


@dataclass(frozen=True)
class Finding:
    """One place a rule is broken: the rule's name, the structure (None in
    the library's head), the byte offset of the record or structure at fault,
    and what was found there."""
    rule: str
    structure: Optional[str]
    offset: int
    what: str


@dataclass(frozen=True)
class CheckResult:
    """What check() found: the file, the rule set as given, whether it is
    clean, the rules checked with their limits (a number, or True for a rule
    with none) and how often each is broken, and the first findings of each
    rule in file order."""
    file: str
    rules: str
    clean: bool
    limits: Dict[str, Union[int, bool]]
    counts: Dict[str, int]
    findings: List[Finding]


def _tool() -> str:
    """The carvelle-info program: beside the package's modules, else on PATH."""
    name = "carvelle-info.exe" if sys.platform == "win32" else "carvelle-info"
    bundled = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    found = bundled if os.path.exists(bundled) else shutil.which(name)
    if found is None:
        raise InfoError("the program %s is not available" % name)
    return found


def _structure(s: Dict[str, Any]) -> StructureInfo:
    return StructureInfo(
        name=s["name"], offset=s["offset"], elements=dict(s["elements"]),
        layers={(entry["layer"], entry["datatype"]): dict(entry["elements"]) for entry in s["layers"]},
        bbox=tuple(s["bbox"]) if s["bbox"] is not None else None,  # type: ignore[arg-type]
        references={r["name"]: Reference(r["sref"], r["aref"], r["placements"]) for r in s["references"]})


def _run(arguments: List[str], path: PathName) -> Dict[str, Any]:
    """carvelle-info's JSON object for path, or InfoError for a file it could not read."""
    done = subprocess.run([_tool(), "--json"] + arguments + ["--", os.fsdecode(path)], capture_output=True)
    if done.returncode not in (0, 1, 2, 3) or not done.stdout.startswith(b"["):
        raise InfoError(done.stderr.decode("utf-8", "replace").strip() or "carvelle-info failed")
    answer: Dict[str, Any] = json.loads(done.stdout.decode("utf-8"))[0]
    if "error" in answer:
        raise InfoError("%s: %s" % (answer["file"], answer["error"]), answer["offset"])
    return answer


def check(path: PathName, profile: str = "fab", first: int = 10) -> CheckResult:
    """Checks the library at path against a rule set, as carvelle-info
    --check does.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        A GDSII library, plain or .gz.
    profile : str, optional
        The rule set: ``"fab"`` (classic fab and mask tools), ``"readers"``
        (what KLayout and gdspy refuse), then ``RULE=N``, ``RULE=off`` or
        ``RULE``, comma-separated, e.g. ``"fab,max-vertices=8191"``.
    first : int, optional
        How many findings of each rule are kept (at least 1).

    Returns
    -------
    CheckResult
        Whether the file is clean, each rule's count and its first findings
        with their structure and byte offset.

    Raises
    ------
    ValueError
        For a rule set that names no profile or rule, or a bad value.
    InfoError
        For a damaged file (with the byte offset) or one that cannot be read.

    Examples
    --------
    >>> found = carvelle.check("chip.gds", profile="fab,one-top=off")
    >>> found.clean, found.counts["max-layer"]
    (True, 0)
    """
    if isinstance(first, bool) or not isinstance(first, int) or first < 1:
        raise ValueError("first must be an int of 1 or more, not %r" % (first,))
    if not isinstance(profile, str) or profile.startswith("-") or not profile:
        raise ValueError("profile must be a rule set such as 'fab' or 'readers,max-layer=255', not %r" % (profile,))
    try:
        answer = _run(["--check=" + profile, "--first=%d" % first], path)
    except InfoError as error:
        if error.offset is None and error.message.startswith("carvelle-info: "):
            raise ValueError(error.message.splitlines()[0][len("carvelle-info: "):]) from None
        raise
    findings = [Finding(rule["rule"], f["structure"], f["offset"], f["what"])
                for rule in answer["checked"] for f in rule["findings"]]
    return CheckResult(
        file=answer["file"], rules=answer["rules"], clean=answer["clean"],
        limits={rule["rule"]: rule["limit"] for rule in answer["checked"]},
        counts={rule["rule"]: rule["count"] for rule in answer["checked"]}, findings=findings)


def info(path: PathName) -> LibraryInfo:
    """What the library at path holds, as carvelle-info --json reads it.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        A GDSII library, plain or .gz.

    Returns
    -------
    LibraryInfo
        Its head, its structures (elements by kind and layer, bounding box,
        references), its top structures, undefined names and cycles.

    Raises
    ------
    InfoError
        For a damaged file (with the byte offset) or one that cannot be read.

    Examples
    --------
    >>> found = carvelle.info("chip.gds")
    >>> found.top, found.structures["TOP"].elements
    (['TOP'], {'BOUNDARY': 1, 'BOX': 2, 'TEXT': 1})
    """
    answer = _run([], path)
    structures = [_structure(s) for s in answer["structures"]]
    return LibraryInfo(
        file=answer["file"], bytes=answer["bytes"], library=answer["library"], version=answer["version"],
        user_unit=answer["user_unit"], meter_unit=answer["meter_unit"],
        structures={s.name: s for s in structures}, top=list(answer["top"]),
        undefined={u["name"]: list(u["referenced_by"]) for u in answer["undefined"]},
        cycles=[list(c) for c in answer["cycles"]], defined_again=list(answer["defined_again"]))
