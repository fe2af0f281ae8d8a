# SPDX-License-Identifier: MIT
"""The one place that picks the backend.

CARVELLE_BACKEND=compiled or =ctypes forces one (compiled raises ImportError
when the module is missing). Unset: the compiled module when it imports,
else ctypes; but when CARVELLE_LIBRARY names a library by hand, ctypes,
since only ctypes can load another file than the bundled one.
"""

import os
from types import ModuleType

from . import _errors


def _pick() -> ModuleType:
    wanted = os.environ.get("CARVELLE_BACKEND", "")
    if wanted not in ("", "compiled", "ctypes"):
        raise ImportError("CARVELLE_BACKEND must be 'compiled' or 'ctypes', not %r" % wanted)
    if wanted == "compiled" or (wanted == "" and not os.environ.get("CARVELLE_LIBRARY")):
        try:
            from . import _compiled_backend
            return _compiled_backend
        except ImportError:
            if wanted == "compiled":
                raise
    from . import _ctypes_backend
    return _ctypes_backend


backend = _pick()
_errors.message_source = backend.error_message
