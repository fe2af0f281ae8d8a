/* SPDX-License-Identifier: MIT */
/* A first library from C: one structure with a box, a path and a label.
 * Usage: carvelle_getting_started [chip.gds] */
#include <stdio.h>

#include "gds_api.h"

int main(int argc, char **argv) {
    const char *fileName = argc > 1 ? argv[1] : "chip.gds";
    const int32_t xs[] = {0, 5000, 5000}, ys[] = {0, 0, 5000};
    GdsHandle lib = NULL; /* stays NULL if GDS_BeginLib fails; GDS_EndLib(NULL) returns 1 */
    /* 1 user unit (um) = 1000 database units of 1 nm */
    int32_t code = GDS_BeginLib(fileName, 0.001, 1e-9, &lib);
    /* box: corners, layer 1, boxtype, elflags, plex */
    if (code == GDS_OK) code = GDS_BeginStructure(lib, "TOP");
    if (code == GDS_OK) code = GDS_Box(lib, 0, 0, 10000, 2000, 1, 0, 0, 0);
    /* path: 3 points, width 200, layer 2, datatype, pathtype, elflags, plex */
    if (code == GDS_OK) code = GDS_Path(lib, xs, ys, 3, 200, 2, 0, 0, 0, 0);
    if (code == GDS_OK) code = GDS_Text(lib, 0, -1000, "TOP", 10, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0);
    if (code == GDS_OK) code = GDS_EndStructure(lib);
    int32_t ended = GDS_EndLib(lib); /* frees the handle, whatever came before */
    if (code == GDS_OK) code = ended;
    if (code != GDS_OK) {
        char message[GDS_ERROR_BUFFER_SIZE];
        GDS_GetError(code, message, sizeof message);
        fprintf(stderr, "%s: %s\n", fileName, message);
        return 1;
    }
    printf("wrote %s\n", fileName);
    return 0;
}
