# SPDX-License-Identifier: MIT
"""KLayout reads a .oas with strict mode expected; the test fails on any
warning it prints (a name table out of place, an offset that does not match,
a point list it finds illegal). Run headless:

    QT_QPA_PLATFORM=offscreen klayout -b -r read_oasis_strict.py -rd oas=X.oas
"""
import pya

options = pya.LoadLayoutOptions()
options.oasis_expect_strict_mode = 1
layout = pya.Layout()
layout.read(oas, options)  # noqa: F821 - set by klayout -rd
print("%s: %d cells read in strict mode" % (oas, layout.cells()))  # noqa: F821
