# SPDX-License-Identifier: MIT
# A fragment shown on the site (Rules a CI can run); it is not run on its own.
import carvelle

found = carvelle.check("chip.gds", profile="fab,one-top=off")
if not found.clean:
    for f in found.findings:
        print(f.rule, f.structure, f.offset, f.what)
