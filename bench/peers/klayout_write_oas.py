# SPDX-License-Identifier: MIT
# KLayout writes the shapes of a GDSII file to OASIS with its defaults made
# explicit (strict mode, CBLOCKs): the file is read first, untimed; the time
# of Layout.write alone is printed.
# Run as: klayout -b -r klayout_write_oas.py -rd src=FILE.gds -rd out=FILE.oas
import time
import pya
layout = pya.Layout()
layout.read(src)  # noqa: F821 - src and out are set by klayout -rd
t0 = time.perf_counter()
options = pya.SaveLayoutOptions()
options.format = "OASIS"
options.oasis_strict_mode = True
options.oasis_write_cblocks = True
layout.write(out, options)  # noqa: F821
print("write_seconds=%.6f" % (time.perf_counter() - t0))
