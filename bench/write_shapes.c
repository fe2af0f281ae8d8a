/* SPDX-License-Identifier: MIT */
/* Writes COUNT boxes or 64-vertex boundaries through the library's C API. */
#include "gds_api.h"
#include "shapes.h"

int main(int argc, char** argv) {
    int polygons;
    uint64_t count;
    if (!parseArguments(argc, argv, &polygons, &count)) return 2;

    GdsHandle lib = NULL;
    int32_t rc = GDS_BeginLib(argv[3], SHAPE_USER_UNIT, SHAPE_METER_UNIT, &lib);
    if (rc == GDS_OK) rc = GDS_BeginStructure(lib, SHAPE_STRUCTURE);
    if (polygons) {
        int32_t tx[POLYGON_VERTICES], ty[POLYGON_VERTICES], xs[POLYGON_VERTICES], ys[POLYGON_VERTICES];
        polygonTemplate(tx, ty);
        for (uint64_t i = 0; i < count && rc == GDS_OK; ++i) {
            const int32_t x = shapeX(i), y = shapeY(i);
            for (int k = 0; k < POLYGON_VERTICES; ++k) {
                xs[k] = tx[k] + x;
                ys[k] = ty[k] + y;
            }
            rc = GDS_Boundary(lib, xs, ys, POLYGON_VERTICES, SHAPE_LAYER, SHAPE_TYPE, 0, 0);
        }
    } else {
        for (uint64_t i = 0; i < count && rc == GDS_OK; ++i) {
            const int32_t x = shapeX(i), y = shapeY(i);
            rc = GDS_Box(lib, x, y, x + BOX_SIDE, y + BOX_SIDE, SHAPE_LAYER, SHAPE_TYPE, 0, 0);
        }
    }
    if (rc == GDS_OK) rc = GDS_EndStructure(lib);
    const int32_t end = lib ? GDS_EndLib(lib) : GDS_ERR_HANDLE;
    if (rc == GDS_OK) rc = end;
    if (rc != GDS_OK) {
        char message[GDS_ERROR_BUFFER_SIZE];
        GDS_GetError(rc, message, (int32_t)sizeof message);
        fprintf(stderr, "carvelle_write: %s\n", message);
        return 1;
    }
    return 0;
}
