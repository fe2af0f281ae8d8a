/* SPDX-License-Identifier: MIT */
#include <stdio.h>

#include "gds_api.h"

int main(int argc, char **argv) {
    GdsHandle lib;
    if (argc < 2 || GDS_BeginLib(argv[1], 0.001, 1e-9, &lib) != GDS_OK) return 1;
    if (GDS_BeginStructure(lib, "TOP") != GDS_OK) return 2;
    if (GDS_Box(lib, 0, 0, 10, 20, 1, 0, 0, 0) != GDS_OK) return 3;
    if (GDS_EndStructure(lib) != GDS_OK) return 4;
    return GDS_EndLib(lib) == GDS_OK ? 0 : 5;
}
