/* SPDX-License-Identifier: MIT */
/*
 * Writes one library with every element kind, in values that OASIS holds,
 * to the file named on the command line; run once with a .gds name and once
 * with a .oas name, the two files must read back as the same layout. With a
 * .oas name it also checks that what OASIS cannot hold is refused with
 * GDS_ERR_RANGE. Elements of every kind carry properties, which must read
 * back the same from both files.
 *
 * Usage: oasis_elements OUTPUT    Exit status 0 when every call did as expected.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "gds_api.h"

static int failures = 0;

static void check(int32_t result, int32_t expected, const char *what) {
    if (result != expected) {
        fprintf(stderr, "%s returned %d, expected %d\n", what, (int)result, (int)expected);
        ++failures;
    }
}

#define CALL(expr) check((expr), GDS_OK, #expr)
#define REFUSED(expr) check((expr), GDS_ERR_RANGE, #expr)
#define PROP(attr, value) CALL(GDS_Property(lib, attr, value))

static int32_t xs[9000];
static int32_t ys[9000];

static void shapes(GdsHandle lib) {
    const int32_t tx[] = {0, 100, 50};
    const int32_t ty[] = {0, 0, 80};
    const int32_t lx[] = {0, 200, 200, 100, 100, 0};                 /* an L: 1-deltas, horizontal first */
    const int32_t ly[] = {0, 0, 100, 100, 300, 300};
    const int32_t vx[] = {0, 0, 100, 100, 300, 300};                 /* vertical first */
    const int32_t vy[] = {0, 200, 200, 100, 100, 0};
    const int32_t mx[] = {0, 100, 200, 200, 0};                      /* Manhattan, collinear vertex */
    const int32_t my[] = {0, 0, 0, 100, 100};
    const int32_t ox[] = {0, 100, 150, 100, 0, -50};                 /* octangular */
    const int32_t oy[] = {0, 0, 50, 100, 100, 50};
    const int32_t rx[] = {10, 60, 60, 10, 10};                       /* a rectangle, closed */
    const int32_t ry[] = {10, 10, 40, 40, 10};
    int i;
    CALL(GDS_Boundary(lib, tx, ty, 3, 1, 0, 0, 0));
    PROP(1, "polygon");
    PROP(127, "two on one, value with space");
    CALL(GDS_Boundary(lib, lx, ly, 6, 1, 1, 0, 0));
    CALL(GDS_Boundary(lib, vx, vy, 6, 1, 1, 0, 0));
    CALL(GDS_Boundary(lib, mx, my, 5, 1, 2, 0, 0));
    CALL(GDS_Boundary(lib, ox, oy, 6, 1, 3, 0, 0));
    CALL(GDS_Boundary(lib, rx, ry, 5, 1, 4, 7, 9));
    CALL(GDS_Boundary(lib, rx, ry, 4, 1, 4, 0, 0));
    CALL(GDS_Box(lib, 10, 20, -30, -40, 2, 6, 1, 7));
    CALL(GDS_Box(lib, 10, 20, -30, -40, 2, 6, 0, 0));
    PROP(2, "polygon"); /* the same string again */
    CALL(GDS_BoxWH(lib, 1000, -5, 1000, 10, 2, 0, 0, 0));
    CALL(GDS_Square(lib, -7, 9, 250, 2, 1, 0, 0));
    CALL(GDS_Square(lib, 500, 9, 250, 2, 1, 0, 0));
    CALL(GDS_Boundary(lib, tx, ty, 3, -1, -2, 0, 0));
    for (i = 0; i < 1000; ++i) {
        CALL(GDS_BoxWH(lib, (i * 7919) % 100000, (i * 104729) % 100000, 10 + i % 13, 10 + i % 17, 3, (int16_t)(i % 3), 0, 0));
    }
}

static void paths(GdsHandle lib) {
    const int32_t px[] = {0, 1000, 1000, 2000};
    const int32_t py[] = {0, 0, -1000, -2000};
    int i;
    CALL(GDS_Path(lib, px, py, 2, 20, 4, 0, 0, 0, 0));
    CALL(GDS_Path(lib, px, py, 3, 20, 4, 0, 2, 0, 0));
    PROP(3, "path");
    CALL(GDS_Path(lib, px, py, 4, -40, 4, 1, 4, 0, 0));
    CALL(GDS_Path(lib, px, py, 4, 0, 4, 2, 0, 0, 0));
    /* The most points one GDSII PATH holds: a longer one is split there. */
    for (i = 0; i < 8190; ++i) {
        xs[i] = i * 3 - 12000;
        ys[i] = (i % 7) * 11 - 33;
    }
    CALL(GDS_Path(lib, xs, ys, 8190, 8, 4, 3, 0, 0, 0));
}

static void curves(GdsHandle lib) {
    CALL(GDS_Circle(lib, 0, 0, 1000, 3, 10, 0, 0, 0));
    CALL(GDS_Circle(lib, 0, 0, 1000, 4, 10, 0, 0, 0));
    CALL(GDS_Circle(lib, 5000, -5000, 1000000, 8189, 10, 1, 0, 0));
    CALL(GDS_Circle(lib, 17, 23, -123457, 997, 10, 3, 0, 0));
    CALL(GDS_Arc(lib, 0, 0, 1000, 0.0, 180.0, 4, 10, 11, 0, 0, 0, 0));
    CALL(GDS_Arc(lib, 100, 200, 987654, 12.345, 350.1, 4001, 50, 11, 1, 2, 0, 0));
    CALL(GDS_Sector(lib, 0, 0, 1000, 0.0, 90.0, 4, 12, 0, 0, 0));
    CALL(GDS_Sector(lib, -1000, 1000, 2000000, -33.3, 271.7, 8189, 12, 1, 0, 0));
}

static void texts(GdsHandle lib) {
    CALL(GDS_Text(lib, 100, -200, "HELLO", 20, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Text(lib, 100, -300, "HELLO", 20, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Text(lib, 0, 0, "with space", 20, 255, 0, 0, 0, 0, 1.0, 0.0, 0, 0));
    PROP(4, "text");
    CALL(GDS_Text(lib, 5, 5, "", 21, 1, 0, 0, 0, 0, 1.0, 0.0, 0, 0));
}

static void nodes(GdsHandle lib) {
    int i;
    for (i = 0; i < 50; ++i) {
        xs[i] = i * i - 100;
        ys[i] = -i * 37;
    }
    CALL(GDS_Node(lib, xs, ys, 50, 30, 7, 0, 0));
    PROP(5, "node"); /* dropped with the node in OASIS */
}

static void references(GdsHandle lib) {
    const int32_t ax[] = {0, 3000, 0};
    const int32_t ay[] = {0, 0, 2000};
    const int32_t nx[] = {100, -2900, 100}; /* negative column step */
    const int32_t ny[] = {50, 50, -1950};
    const int32_t gx[] = {0, 300, 100};     /* a general lattice */
    const int32_t gy[] = {0, 150, 200};
    const int32_t rx[] = {0, 0, 500};       /* columns up, rows along */
    const int32_t ry[] = {0, 900, 0};
    CALL(GDS_Sref(lib, "LEAF", 10, 20, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Sref(lib, "LEAF", 10, 20, 0, 1.0, 90.0, 0, 0));
    PROP(6, "placement");
    CALL(GDS_Sref(lib, "LEAF", -10, -20, (int16_t)0x8000, 2.5, 30.0, 0, 1));
    CALL(GDS_Sref(lib, "LEAF", -10, -20, (int16_t)0x8000, 1.0, -90.0, 0, 1));
    CALL(GDS_Aref(lib, "LEAF", ax, ay, 3, 2, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Aref(lib, "LEAF", ax, ay, 3, 1, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Aref(lib, "LEAF", ax, ay, 1, 2, 0, 1.0, 180.0, 0, 0));
    CALL(GDS_Aref(lib, "LEAF", nx, ny, 3, 2, 0, 0.5, 45.0, 0, 0));
    CALL(GDS_Aref(lib, "LEAF", gx, gy, 3, 2, 0, 1.0, 0.0, 0, 0));
    PROP(7, "repeated placement");
    PROP(8, "");
    CALL(GDS_Aref(lib, "LEAF", gx, gy, 1, 2, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Aref(lib, "LEAF", rx, ry, 3, 5, (int16_t)0x8000, 1.0, 270.0, 0, 0));
}

static void refusals(GdsHandle lib) {
    const int32_t px[] = {0, 1000};
    const int32_t py[] = {0, 0};
    const int32_t ax[] = {0, 1000, 0};
    const int32_t ay[] = {0, 0, 1000};
    REFUSED(GDS_Path(lib, px, py, 2, 21, 4, 0, 0, 0, 0));
    REFUSED(GDS_Path(lib, px, py, 2, 20, 4, 0, 1, 0, 0));
    REFUSED(GDS_Arc(lib, 0, 0, 100, 0.0, 90.0, 5, 20, 4, 0, 1, 0, 0));
    REFUSED(GDS_Sref(lib, "LEAF", 0, 0, 0x0004, 1.0, 0.0, 0, 0));
    REFUSED(GDS_Sref(lib, "LEAF", 0, 0, 0x0002, 1.0, 0.0, 0, 0));
    REFUSED(GDS_Sref(lib, "LEAF", 0, 0, 0, 0.0, 0.0, 0, 0));
    REFUSED(GDS_Sref(lib, "has space", 0, 0, 0, 1.0, 0.0, 0, 0));
    REFUSED(GDS_Aref(lib, "LEAF", ax, ay, 3, 1, 0, 1.0, 0.0, 0, 0));
    REFUSED(GDS_Aref(lib, "LEAF", ax, ay, 0, 1, 0, 1.0, 0.0, 0, 0));
    REFUSED(GDS_Text(lib, 0, 0, "tab\there", 20, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0));
}

int main(int argc, char **argv) {
    GdsHandle lib = NULL;
    size_t length;
    int oasis;
    if (argc != 2) {
        fprintf(stderr, "usage: oasis_elements OUTPUT\n");
        return 2;
    }
    length = strlen(argv[1]);
    oasis = length > 4 && strcmp(argv[1] + length - 4, ".oas") == 0;
    CALL(GDS_BeginLib(argv[1], 0.001, 1e-9, &lib));
    CALL(GDS_BeginStructure(lib, "TOP"));
    references(lib);
    CALL(GDS_EndStructure(lib));
    CALL(GDS_BeginStructure(lib, "LEAF"));
    shapes(lib);
    paths(lib);
    curves(lib);
    texts(lib);
    nodes(lib);
    if (oasis) refusals(lib);
    CALL(GDS_EndStructure(lib));
    if (oasis) REFUSED(GDS_BeginStructure(lib, "bad name"));
    CALL(GDS_BeginStructure(lib, "EMPTY"));
    CALL(GDS_EndStructure(lib));
    CALL(GDS_EndLib(lib));
    return failures == 0 ? 0 : 1;
}
