# SPDX-License-Identifier: MIT
"""Loading the Carvelle shared library and declaring its functions.

Search order (the first that exists and loads wins):

1. the environment variable CARVELLE_LIBRARY: the full path of the library
   file; when it is set nothing else is tried;
2. the package's own folder (a copy of the library installed next to
   ``__init__.py``);
3. the folder that holds the package, and its Release/Debug/RelWithDebInfo/
   MinSizeRel subfolders: the build tree, where CMake stages a copy of this
   package next to the library it builds;
4. the CMake build folder of a source checkout: ``<checkout>/build`` (this
   package lives in ``<checkout>/python/carvelle``) and the same subfolders;
5. the platform's own search: ``libcarvelle.so.1`` then ``libcarvelle.so`` on
   Linux (LD_LIBRARY_PATH, the ld.so cache, the system folders),
   ``carvelle.dll`` on Windows (found on PATH), ``libcarvelle.1.dylib`` then
   ``libcarvelle.dylib`` on macOS.
"""

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import List, Optional, Tuple

from ._signatures import ELEMENT_SIGNATURES

# Argument types of the exported functions: the library's own here,
# the elements' generated from the element table; every one returns a 32-bit
# result code.
SIGNATURES = {
    "GDS_BeginLib": (ctypes.c_char_p, ctypes.c_double, ctypes.c_double, ctypes.POINTER(ctypes.c_void_p)),
    # fileName, userUnit, meterUnit, time, outHandle
    "GDS_BeginLibAt": (ctypes.c_char_p, ctypes.c_double, ctypes.c_double, ctypes.c_int64,
                       ctypes.POINTER(ctypes.c_void_p)),
    "GDS_EndLib": (ctypes.c_void_p,),
    "GDS_BeginStructure": (ctypes.c_void_p, ctypes.c_char_p),
    "GDS_EndStructure": (ctypes.c_void_p,),
    # handle, attribute, value
    "GDS_Property": (ctypes.c_void_p, ctypes.c_int16, ctypes.c_char_p),
    # code, buffer, bufferSize
    "GDS_GetError": (ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32),
}
SIGNATURES.update(ELEMENT_SIGNATURES)

_CONFIG_FOLDERS = ("", "Release", "Debug", "RelWithDebInfo", "MinSizeRel")


def _file_names() -> Tuple[str, str]:
    if sys.platform == "win32" or sys.platform == "cygwin":
        return ("carvelle.dll", "libcarvelle.dll")
    if sys.platform == "darwin":
        return ("libcarvelle.1.dylib", "libcarvelle.dylib")
    return ("libcarvelle.so.1", "libcarvelle.so")


def candidates() -> List[str]:
    """Paths (or bare names for the platform search) tried in order."""
    env = os.environ.get("CARVELLE_LIBRARY")
    if env:
        return [env]
    package = os.path.dirname(os.path.abspath(__file__))
    parent = os.path.dirname(package)
    folders = [package]
    folders += [os.path.join(parent, sub) if sub else parent for sub in _CONFIG_FOLDERS]
    checkout_build = os.path.join(os.path.dirname(parent), "build")
    folders += [os.path.join(checkout_build, sub) if sub else checkout_build for sub in _CONFIG_FOLDERS]
    found = [os.path.join(folder, name) for folder in folders for name in _file_names()]
    if sys.platform == "win32":
        # A bare name is no longer looked up on PATH by ctypes; find_library is.
        system = ctypes.util.find_library("carvelle")
        if system:
            found.append(system)
    else:
        found += list(_file_names())
        system = ctypes.util.find_library("carvelle")
        if system:
            found.append(system)
    return found


class LoadError(OSError):
    """The shared library could not be found or lacks an entry point."""


_lock = threading.Lock()
_loaded: Optional[Tuple[str, ctypes.CDLL]] = None


def _declare(cdll: ctypes.CDLL) -> None:
    for name, argtypes in SIGNATURES.items():
        try:
            function = getattr(cdll, name)
        except AttributeError:
            raise LoadError("%s does not export %s" % (cdll._name, name)) from None
        function.argtypes = argtypes
        function.restype = ctypes.c_int32


def load(path: Optional[str] = None) -> Tuple[str, ctypes.CDLL]:
    """Loads the library (once) and returns (path, CDLL).

    With a path, that file is loaded, replacing none already loaded: a second
    call with a different path raises LoadError.
    """
    global _loaded
    with _lock:
        if _loaded is not None:
            if path is not None and os.path.abspath(path) != os.path.abspath(_loaded[0]):
                raise LoadError("carvelle is already loaded from %s" % _loaded[0])
            return _loaded
        tried: List[str] = []
        for candidate in ([path] if path is not None else candidates()):
            is_path = os.path.dirname(candidate) != ""
            if is_path and not os.path.exists(candidate):
                tried.append(candidate + " (missing)")
                continue
            try:
                cdll = ctypes.CDLL(candidate)
            except OSError as error:
                tried.append("%s (%s)" % (candidate, error))
                continue
            _declare(cdll)
            resolved = candidate
            if not is_path:
                resolved = _resolved_path(cdll, candidate)
            _loaded = (resolved, cdll)
            return _loaded
        raise LoadError(
            "cannot load the carvelle shared library; set CARVELLE_LIBRARY to its path. Tried:\n  "
            + "\n  ".join(tried))


def _resolved_path(cdll: ctypes.CDLL, fallback: str) -> str:
    """The file behind a library loaded by bare name, when the system tells."""
    if sys.platform.startswith("linux"):
        try:
            with open("/proc/self/maps") as maps:
                for line in maps:
                    fields = line.split()
                    if len(fields) >= 6 and os.path.basename(fields[5]).startswith("libcarvelle"):
                        return fields[5]
        except OSError:
            pass
    return fallback
