# SPDX-License-Identifier: MIT
"""Carvelle from Python: write GDSII stream files through the Carvelle library.

    import carvelle

    with carvelle.Library("chip.gds", unit=1e-6, precision=1e-9) as lib:
        with lib.structure("TOP") as top:
            top.box(0, 0, 1000, 500, layer=1)                # database units (integers)
            top.user.box(0.0, 0.0, 1.0, 0.5, layer=1)        # user units (micrometres here)
            top.boundary([(0, 0), (100, 0), (50, 80)], layer=2)
            top.text(0, -100, "chip", layer=63)

Every call goes straight to the library's C functions; nothing is kept in
Python but the names of the structures defined and referenced. A call that
the library refuses raises carvelle.Error with the library's result code,
its name and its message; a value that does not fit its C parameter raises
RangeError (a ValueError) or TypeError before the library is called.

The calls go through a compiled module when it is installed, else through
ctypes (`carvelle.backend` tells which; CARVELLE_BACKEND=ctypes forces it).

carvelle.merge(out, parts) joins part libraries into one; carvelle.write_parallel
runs generator tasks on an executor (a process pool, a Dask client), each
into a part of its own, and merges the parts. carvelle.info(path) tells what
a library holds (structures, elements by kind and layer, references);
carvelle.check(path, profile="fab") which rules of fab or reader tools it breaks.
"""

from typing import Optional

from . import _backend
from ._errors import Error, RangeError, Result, RuleError, UndefinedStructureWarning
from ._info import CheckResult, Finding, InfoError, LibraryInfo, Reference, StructureInfo, check, info
from ._library import Library, Structure
from ._merge import MergeError, MergeFailure, MergeResult, merge
from ._parallel import ParallelResult, Task, TaskError, write_parallel
from ._units import Units
from ._user import UserUnitView
from ._version import VERSION

__all__ = ["Library", "Structure", "UserUnitView", "Units", "Error", "RangeError", "RuleError", "Result",
           "UndefinedStructureWarning",
           "LoadError", "load", "library_path", "error_message", "backend", "__version__",
           "merge", "MergeError", "MergeFailure", "MergeResult",
           "write_parallel", "Task", "TaskError", "ParallelResult",
           "info", "InfoError", "LibraryInfo", "StructureInfo", "Reference",
           "check", "CheckResult", "Finding"]
__version__ = VERSION

backend: str = _backend.backend.NAME
LoadError = _backend.backend.LoadError


def load(path: Optional[str] = None) -> str:
    """Loads the shared library (the ctypes backend) and tells which one is in use.

    Parameters
    ----------
    path : str, optional
        A libcarvelle.so or carvelle.dll to load instead of the one found
        (the package's copy, CARVELLE_LIBRARY, the build folder); the
        compiled module calls its own and accepts only that one.

    Returns
    -------
    str
        The path of the library in use.

    Raises
    ------
    LoadError
        When the library cannot be found or loaded, or (compiled backend)
        another library is asked for.

    Examples
    --------
    >>> carvelle.load()
    '/usr/lib/python3/dist-packages/carvelle/libcarvelle.so.1'
    """
    return str(_backend.backend.load(path))


def library_path() -> str:
    """The path of the shared library the calls go to.

    Returns
    -------
    str

    Raises
    ------
    LoadError
        When no library can be loaded (ctypes backend).
    """
    return str(_backend.backend.library_path())


def error_message(code: int) -> str:
    """The library's message for a result code (GDS_GetError), byte for byte.

    Parameters
    ----------
    code : int
        A result code (a carvelle.Result); an unknown code has the
        library's message for unknown codes.

    Returns
    -------
    str

    Examples
    --------
    >>> carvelle.error_message(carvelle.Result.GDS_ERR_STRUCT_NOT_OPEN)
    'Error: Structure is not opened.'
    """
    return str(_backend.backend.error_message(code))
