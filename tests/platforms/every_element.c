/* SPDX-License-Identifier: MIT */
/*
 * A host program in plain C: writes one library that uses every exported
 * function, with curves over awkward angles and large radii, and a structure
 * that sweeps curves over half degrees, radii and counts, so that the file
 * depends on the platform's cosine and sine as much as possible. The same
 * source is built for x86-64, aarch64 and s390x Linux and for Windows
 * (against carvelle.dll through its import library, with gds_api.h declaring
 * the functions dllimport), and the files must match byte for byte,
 * timestamps aside. An OUTPUT ending in .oas gives an OASIS file of the same
 * calls, whose records must match once its CBLOCKs are expanded (their
 * bytes are the platform's deflate library's); the calls that OASIS cannot
 * hold must then be refused with GDS_ERR_RANGE.
 *
 * Usage: every_element OUTPUT    Exit status 0 when every call returned what it should.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "gds_api.h"

static int failures = 0;

static void check(int32_t result, int32_t expected, const char *what) {
    if (result != expected) {
        char message[GDS_ERROR_BUFFER_SIZE] = "";
        GDS_GetError(result, message, (int32_t)sizeof message);
        fprintf(stderr, "%s returned %d (%s), expected %d\n", what, (int)result, message, (int)expected);
        ++failures;
    }
}

static int oasis = 0;

#define CALL(expr) check((expr), GDS_OK, #expr)
/* Round path ends, odd widths, absolute magnification or angle. */
#define GDSII_ONLY(expr) check((expr), oasis ? GDS_ERR_RANGE : GDS_OK, #expr)

static int32_t xs[9000];
static int32_t ys[9000];

static void polygons(GdsHandle lib) {
    const int32_t bx[] = {-100, 100, 150, 0, -2147483647 - 1};
    const int32_t by[] = {-100, -100, 50, 2147483647, 0};
    CALL(GDS_Boundary(lib, bx, by, 5, 1, 2, 0, 0));
    CALL(GDS_Boundary(lib, bx, by, 3, -1, -32768, 3, -5));
    CALL(GDS_Box(lib, 10, 20, -30, -40, 5, 6, 1, 7));
    CALL(GDS_Property(lib, 1, "box"));
    CALL(GDS_Property(lib, 127, "odd length"));
    CALL(GDS_BoxWH(lib, 2147483000, -5, 1000, 10, 5, 0, 0, 0));
    CALL(GDS_Square(lib, -7, 9, 250, 255, 1, 2, 65536));
}

static void paths(GdsHandle lib) {
    int i;
    const int32_t px[] = {0, 1000, 1000};
    const int32_t py[] = {0, 0, -1000};
    CALL(GDS_Path(lib, px, py, 3, 20, 3, 0, 2, 0, 0));
    CALL(GDS_Property(lib, 2, "path"));
    /* Long enough to be split into two elements that share a point. */
    for (i = 0; i < 8200; ++i) {
        xs[i] = i * 3 - 12000;
        ys[i] = (i % 7) * 11 - 33;
    }
    CALL(GDS_Path(lib, xs, ys, 8200, -8, 4, 1, 4, 2, 9));
}

static void curves(GdsHandle lib) {
    CALL(GDS_Circle(lib, 0, 0, 1000, 3, 10, 0, 0, 0));
    CALL(GDS_Circle(lib, 0, 0, 1000, 4, 10, 0, 0, 0));
    CALL(GDS_Circle(lib, 5000, -5000, 1000000, 8189, 10, 1, 0, 0));
    CALL(GDS_Circle(lib, 0, 0, 2147483647, 7919, 10, 2, 0, 0));
    CALL(GDS_Circle(lib, 17, 23, -123457, 997, 10, 3, 0, 0));
    CALL(GDS_Circle(lib, 1, 1, 0, 5, 10, 4, 0, 0));
    CALL(GDS_Arc(lib, 0, 0, 1000, 0.0, 180.0, 4, 10, 11, 0, 0, 0, 0));
    GDSII_ONLY(GDS_Arc(lib, 100, 200, 987654321, 12.345, 350.1, 4001, 50, 11, 1, 1, 0, 0));
    CALL(GDS_Arc(lib, 0, 0, 1999999999, 359.999, -720.25, 8189, 0, 11, 2, 2, 0, 0));
    GDSII_ONLY(GDS_Arc(lib, -3, 4, 765432109, 123456.789, 123999.5, 3001, 1, 11, 3, 4, 0, 0));
    GDSII_ONLY(GDS_Arc(lib, 0, 0, 1000000000, 1e6, 1e6 + 33.3, 2001, 1, 11, 4, 0, 0, 0));
    GDSII_ONLY(GDS_Arc(lib, 0, 0, 5, 45.0, 45.0, 3, 1, 11, 5, 0, 0, 0));
    CALL(GDS_Sector(lib, 0, 0, 1000, 0.0, 90.0, 4, 12, 0, 0, 0));
    CALL(GDS_Sector(lib, -1000, 1000, 2000000000, -33.3, 271.7, 8189, 12, 1, 0, 0));
    CALL(GDS_Sector(lib, 0, 0, 1234567891, 7.5, -3.25, 5003, 12, 2, 0, 0));
    CALL(GDS_Sector(lib, 0, 0, -999999937, 3e5, 3e5 + 720.0, 6007, 12, 3, 0, 0));
}

static void texts(GdsHandle lib) {
    int32_t code;
    char message[GDS_ERROR_BUFFER_SIZE];
    CALL(GDS_Text(lib, 100, -200, "HELLO", 20, 0, 5, 0, 0, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Property(lib, 6, "text"));
    CALL(GDS_Text(lib, 0, 0, "odd", 20, 255, 10, 1, -40, -32768, 0.1, 33.3, 1, 2));
    CALL(GDS_Text(lib, 0, 0, "", 20, 1, 0, 2, 7, 0x0006, 1e-300, -1e70, 0, 0));
    /* Every result message, so that GDS_GetError is compared too. */
    for (code = 0; code < GDS_RESULT_CODE_COUNT; ++code) {
        message[0] = '\0';
        check(GDS_GetError(code, message, (int32_t)sizeof message), code, "GDS_GetError");
        CALL(GDS_Text(lib, 0, code * 100, message, 21, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0));
    }
}

static void nodes(GdsHandle lib) {
    int i;
    for (i = 0; i < 50; ++i) {
        xs[i] = i * i - 100;
        ys[i] = -i * 37;
    }
    CALL(GDS_Node(lib, xs, ys, 1, 30, 0, 0, 0));
    CALL(GDS_Property(lib, 3, "node"));
    CALL(GDS_Node(lib, xs, ys, 50, 30, 7, 0, 0));
}

static void references(GdsHandle lib) {
    const int32_t ax[] = {0, 3000, 0};
    const int32_t ay[] = {0, 0, 2000};
    CALL(GDS_Sref(lib, "CELL", 10, 20, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Property(lib, 7, "sref"));
    GDSII_ONLY(GDS_Sref(lib, "CELL", -10, -20, (int16_t)0x8006, 2.5, 90.0, 0, 1));
    CALL(GDS_Aref(lib, "CELL", ax, ay, 3, 2, 0, 1.0, 0.0, 0, 0));
    CALL(GDS_Property(lib, 4, "aref"));
    CALL(GDS_Property(lib, 5, ""));
    GDSII_ONLY(GDS_Aref(lib, "missing", ax, ay, 1, 1, 0x0004, 0.333333333333, 359.9, 1, 3));
}

/* Radii from 1 to 2^31 - 1: each power of two and the value below it, where
 * the product with the cosine changes binade. */
static int radii(int32_t *out) {
    int n = 0, k;
    int32_t power = 1;
    out[n++] = 1;
    for (k = 1; k <= 30; ++k) {
        power *= 2;
        out[n++] = power - 1;
        out[n++] = power;
    }
    out[n++] = 2147483647;
    return n;
}

/* About 2.5 MB of curves: every radius at counts whose steps fall on whole
 * and half degrees; arcs and sectors starting on every half degree from
 * -360 to 360; and counts from 3 to 8189 at the largest radius. */
static void curveSweep(GdsHandle lib) {
    int32_t r[64];
    const int radiusCount = radii(r);
    const int16_t stepCounts[] = {3, 4, 360, 720};
    const int16_t counts[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 31, 32, 33, 63, 64, 127, 128, 255, 256,
                              511, 512, 1023, 1024, 2047, 2048, 4095, 4096, 8185, 8186, 8187, 8188, 8189};
    int i, k;
    for (i = 0; i < radiusCount; ++i) {
        for (k = 0; k < (int)(sizeof stepCounts / sizeof stepCounts[0]); ++k) {
            CALL(GDS_Circle(lib, 0, 0, r[i], stepCounts[k], 40, (int16_t)k, 0, 0));
        }
        CALL(GDS_Arc(lib, 0, 0, r[i], 0.0, 360.0, 720, 0, 41, 0, 0, 0, 0));
    }
    for (k = 0; k <= 1440; ++k) {
        const double start = (k - 720) * 0.5;
        const int32_t radius = r[k % radiusCount];
        const int32_t centre = radius < 1073741824 ? k - 720 : 0;
        const int16_t count = (int16_t)(3 + k % 6);
        CALL(GDS_Arc(lib, centre, -centre, radius, start, start + 0.5 * (k % 9 + 1), count, 2, 42, 0, 0, 0, 0));
        CALL(GDS_Sector(lib, -centre, centre, radius, start, start - 90.5 * (k % 3 + 1), count, 43, 0, 0, 0));
    }
    for (k = 0; k < (int)(sizeof counts / sizeof counts[0]); ++k) {
        CALL(GDS_Circle(lib, 0, 0, 2147483647, counts[k], 44, 0, 0, 0));
        CALL(GDS_Arc(lib, 0, 0, 2147483647, -0.5, 359.5, counts[k], 0, 44, 1, 0, 0, 0));
        CALL(GDS_Sector(lib, 0, 0, 2147483647, 45.0, 315.5, counts[k], 44, 2, 0, 0));
    }
}

int main(int argc, char **argv) {
    GdsHandle lib = NULL, refused = NULL;
    size_t length;
    if (argc != 2) {
        fprintf(stderr, "usage: every_element OUTPUT\n");
        return 2;
    }
    length = strlen(argv[1]);
    oasis = length >= 4 && strcmp(argv[1] + length - 4, ".oas") == 0;
    /* A time past 9999 is refused alike everywhere, before the file is made. */
    check(GDS_BeginLibAt(argv[1], 0.001, 1e-9, 253402300800, &refused), GDS_ERR_RANGE, "GDS_BeginLibAt(10000)");
    check(GDS_EndLib(refused), GDS_ERR_STOPPED, "GDS_EndLib(refused)");
    CALL(GDS_BeginLib(argv[1], 0.001, 1e-9, &lib));
    CALL(GDS_BeginStructure(lib, "CELL"));
    polygons(lib);
    paths(lib);
    curves(lib);
    texts(lib);
    nodes(lib);
    CALL(GDS_EndStructure(lib));
    CALL(GDS_BeginStructure(lib, "TOP"));
    references(lib);
    CALL(GDS_EndStructure(lib));
    CALL(GDS_BeginStructure(lib, "SWEEP"));
    curveSweep(lib);
    CALL(GDS_EndStructure(lib));
    /* A refused call writes nothing on either platform. */
    check(GDS_BeginStructure(lib, "CELL"), GDS_ERR_STRUCT_DUPLICATE, "duplicate structure");
    check(GDS_Box(lib, 0, 0, 1, 1, 0, 0, 0, 0), GDS_ERR_STRUCT_NOT_OPEN, "box outside a structure");
    CALL(GDS_EndLib(lib));
    return failures == 0 ? 0 : 1;
}
