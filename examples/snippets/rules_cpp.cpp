// SPDX-License-Identifier: MIT
// A fragment shown on the site (Rules a CI can run); it is not compiled on its own.
carvelle::Library lib("chip.gds", 1e-3, 1e-9, "fab");
auto top = lib.structure("TOP");
lib.box(0, 0, 10, 10, 300);  // throws carvelle::RuleError:
// GDS_Box: breaks rule max-layer: layer 300, over 255 (...)
