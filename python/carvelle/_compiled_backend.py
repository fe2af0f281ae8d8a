# SPDX-License-Identifier: MIT
"""The compiled backend: carvelle._compiled, a C module that calls the
library it was linked with (the copy bundled in the package)."""

import os
from typing import Optional

from ._compiled import StructureBase, Writer, error_message, library_path
from ._loader import LoadError

NAME = "compiled"
__all__ = ["NAME", "StructureBase", "Writer", "error_message", "library_path", "load", "LoadError"]


def load(path: Optional[str] = None) -> str:
    """The library in use; the compiled module cannot load another one."""
    current = library_path()
    if path is not None and not os.path.samefile(path, current):
        raise LoadError("the compiled module calls %s; load another library with CARVELLE_BACKEND=ctypes" % current)
    return current
