/* SPDX-License-Identifier: MIT */
/* A fragment shown on the site (OASIS files); it is not compiled on its own. */
GdsHandle lib;
GDS_BeginLib("chip.oas", 0.001, 1e-9, &lib); /* 1000 grid steps per micrometre */
GDS_BeginStructure(lib, "TOP");
GDS_Box(lib, 0, 0, 100, 50, 1, 0, 0, 0); /* a RECTANGLE record */
GDS_EndStructure(lib);
GDS_EndLib(lib); /* tables, END, signature */
