#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The library through ctypes alone, as any host can call it: carvelle.dll on
Windows, libcarvelle.so elsewhere. The carvelle package does all of this for you.

    python3 examples/python/ctypes_dll.py chip.gds C:\\path\\to\\carvelle.dll
"""

import ctypes
import sys
from ctypes import POINTER, byref, c_char_p, c_double, c_int16, c_int32, c_void_p

dll = ctypes.CDLL(sys.argv[2])
dll.GDS_BeginLib.argtypes = [c_char_p, c_double, c_double, POINTER(c_void_p)]
dll.GDS_BeginStructure.argtypes = [c_void_p, c_char_p]
dll.GDS_Box.argtypes = [c_void_p] + [c_int32] * 4 + [c_int16] * 3 + [c_int32]
dll.GDS_EndStructure.argtypes = dll.GDS_EndLib.argtypes = [c_void_p]

handle = c_void_p()
if dll.GDS_BeginLib(sys.argv[1].encode(), 0.001, 1e-9, byref(handle)) == 0:
    dll.GDS_BeginStructure(handle, b"TOP")
    dll.GDS_Box(handle, 0, 0, 1000, 500, 1, 0, 0, 0)
    dll.GDS_EndStructure(handle)
code = dll.GDS_EndLib(handle)          # 0; frees the handle in every case
print("GDS_EndLib returned", code)
sys.exit(code)
