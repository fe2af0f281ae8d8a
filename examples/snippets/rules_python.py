# SPDX-License-Identifier: MIT
# A fragment shown on the site (Rules a CI can run); it is not run on its own.
import carvelle

with carvelle.Library("chip.gds", rules="fab,max-vertices=8191") as lib:
    with lib.structure("TOP") as top:
        top.box(0, 0, 10, 10, layer=300)  # raises carvelle.RuleError:
        # box: breaks rule max-layer: layer 300, over 255 (...)
