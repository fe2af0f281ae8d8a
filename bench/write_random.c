/* SPDX-License-Identifier: MIT */
/* GDSII data for the compression benchmark, through the C API:
 *   rects COUNT FILE   COUNT random rectangles, 10 to 100 units a side, in a
 *                      10^7 field, on 5 layers (the benchmark)
 *   hier COUNT FILE    a hierarchy: COUNT cells of a few boxes, texts and
 *                      paths, placed by SREF and AREF into a top cell
 *   paths COUNT FILE   COUNT random-walk paths of 200 to 8000 points
 * The generator is a fixed-seed xorshift: every run writes the same bytes. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gds_api.h"

static uint64_t state = 0x9E3779B97F4A7C15u;
static uint32_t next(void) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (uint32_t)(state >> 32);
}
static int32_t between(int32_t low, int32_t high) { return low + (int32_t)(next() % (uint32_t)(high - low + 1)); }

static int32_t rects(GdsHandle lib, uint64_t count) {
    int32_t rc = GDS_BeginStructure(lib, "TOP");
    for (uint64_t i = 0; i < count && rc == GDS_OK; ++i) {
        const int32_t x = between(0, 10000000), y = between(0, 10000000);
        rc = GDS_BoxWH(lib, x, y, between(10, 100), between(10, 100), (int16_t)(1 + next() % 5), 0, 0, 0);
    }
    return rc == GDS_OK ? GDS_EndStructure(lib) : rc;
}

static int32_t hier(GdsHandle lib, uint64_t count) {
    char name[32], text[32];
    int32_t rc = GDS_OK;
    for (uint64_t c = 0; c < count && rc == GDS_OK; ++c) {
        snprintf(name, sizeof name, "CELL_%llu", (unsigned long long)c);
        rc = GDS_BeginStructure(lib, name);
        for (int k = 0; k < 20 && rc == GDS_OK; ++k)
            rc = GDS_BoxWH(lib, between(0, 5000), between(0, 5000), between(10, 400), between(10, 400),
                           (int16_t)(1 + next() % 8), 0, 0, 0);
        int32_t xs[6], ys[6];
        for (int k = 0; k < 6; ++k) { xs[k] = between(0, 5000); ys[k] = between(0, 5000); }
        if (rc == GDS_OK) rc = GDS_Path(lib, xs, ys, 6, 40, 10, 0, 0, 0, 0);
        snprintf(text, sizeof text, "NET_%u", next() % 100000);
        if (rc == GDS_OK) rc = GDS_Text(lib, xs[0], ys[0], text, 20, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0);
        if (c > 0 && rc == GDS_OK) {
            snprintf(name, sizeof name, "CELL_%llu", (unsigned long long)(next() % c));
            rc = GDS_Sref(lib, name, between(0, 5000), between(0, 5000), 0, 1.0, 90.0 * (next() % 4), 0, 0);
        }
        if (rc == GDS_OK) rc = GDS_EndStructure(lib);
    }
    if (rc == GDS_OK) rc = GDS_BeginStructure(lib, "TOP");
    for (uint64_t c = 0; c < count && rc == GDS_OK; ++c) {
        snprintf(name, sizeof name, "CELL_%llu", (unsigned long long)c);
        const int32_t x = between(0, 10000000), y = between(0, 10000000);
        int32_t xs[3] = {x, x + 6000 * 4, x}, ys[3] = {y, y, y + 6000 * 3};
        rc = (c % 2) ? GDS_Sref(lib, name, x, y, 0, 1.0, 0.0, 0, 0)
                     : GDS_Aref(lib, name, xs, ys, 4, 3, 0, 1.0, 0.0, 0, 0);
    }
    return rc == GDS_OK ? GDS_EndStructure(lib) : rc;
}

static int32_t paths(GdsHandle lib, uint64_t count) {
    static int32_t xs[8000], ys[8000];
    int32_t rc = GDS_BeginStructure(lib, "TOP");
    for (uint64_t i = 0; i < count && rc == GDS_OK; ++i) {
        const int16_t points = (int16_t)between(200, 8000);
        xs[0] = between(0, 10000000);
        ys[0] = between(0, 10000000);
        for (int k = 1; k < points; ++k) {
            /* Manhattan routing: alternate horizontal and vertical runs. */
            xs[k] = xs[k - 1] + ((k & 1) ? between(-2000, 2000) : 0);
            ys[k] = ys[k - 1] + ((k & 1) ? 0 : between(-2000, 2000));
        }
        rc = GDS_Path(lib, xs, ys, points, 100, (int16_t)(1 + next() % 5), 0, 2, 0, 0);
    }
    return rc == GDS_OK ? GDS_EndStructure(lib) : rc;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s rects|hier|paths COUNT FILE\n", argv[0]);
        return 2;
    }
    const uint64_t count = strtoull(argv[2], NULL, 10);
    GdsHandle lib = NULL;
    int32_t rc = GDS_BeginLib(argv[3], 0.001, 1e-9, &lib);
    if (rc == GDS_OK) {
        if (strcmp(argv[1], "rects") == 0) rc = rects(lib, count);
        else if (strcmp(argv[1], "hier") == 0) rc = hier(lib, count);
        else rc = paths(lib, count);
    }
    const int32_t end = lib ? GDS_EndLib(lib) : GDS_ERR_HANDLE;
    if (rc == GDS_OK) rc = end;
    if (rc != GDS_OK) {
        char message[GDS_ERROR_BUFFER_SIZE];
        GDS_GetError(rc, message, (int32_t)sizeof message);
        fprintf(stderr, "carvelle_write_random: %s\n", message);
        return 1;
    }
    return 0;
}
