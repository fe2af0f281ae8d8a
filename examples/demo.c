/* SPDX-License-Identifier: MIT */
/* Writes a small test chip with every element kind, then reads the file back
 * and prints one line per structure. Usage: carvelle_demo [output.gds] */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gds_api.h"

static int check(int32_t code, const char *call) {
    if (code != GDS_OK) {
        char message[GDS_ERROR_BUFFER_SIZE];
        GDS_GetError(code, message, sizeof message);
        fprintf(stderr, "%s failed with %d: %s\n", call, (int)code, message);
        exit(1);
    }
    return 0;
}
#define CHECK(call) check((call), #call)

enum { METAL1 = 1, METAL2 = 2, VIA1 = 3, POLY = 4, LABELS = 10 };

static void writeVia(GdsHandle lib) {
    CHECK(GDS_BeginStructure(lib, "VIA"));
    CHECK(GDS_Square(lib, -200, -200, 400, METAL1, 0, 0, 0));
    CHECK(GDS_Square(lib, -100, -100, 200, VIA1, 0, 0, 0));
    CHECK(GDS_BoxWH(lib, -250, -250, 500, 500, METAL2, 0, 0, 0));
    CHECK(GDS_EndStructure(lib));
}

static void writePad(GdsHandle lib) {
    const int32_t xs[] = {-5000, 5000, 5000, 3000, -5000};
    const int32_t ys[] = {-5000, -5000, 3000, 5000, 5000};
    CHECK(GDS_BeginStructure(lib, "PAD"));
    CHECK(GDS_Boundary(lib, xs, ys, 5, METAL2, 0, 0, 0));
    CHECK(GDS_Circle(lib, 0, 0, 3000, 64, METAL1, 1, 0, 0));
    CHECK(GDS_Text(lib, 0, -6000, "PAD", LABELS, 0, 5, 0, 0, 0, 2.0, 0.0, 0, 0));
    CHECK(GDS_EndStructure(lib));
}

static void writeCell(GdsHandle lib) {
    const int32_t wireX[] = {0, 6000, 6000, 12000};
    const int32_t wireY[] = {0, 0, 8000, 8000};
    const int32_t nodeX[] = {0, 12000};
    const int32_t nodeY[] = {0, 8000};
    CHECK(GDS_BeginStructure(lib, "CELL"));
    CHECK(GDS_Box(lib, -1000, -1000, 13000, 9000, POLY, 0, 0, 0));
    CHECK(GDS_Path(lib, wireX, wireY, 4, 400, METAL1, 0, 2, 0, 0));
    CHECK(GDS_Sref(lib, "VIA", 0, 0, 0, 1.0, 0.0, 0, 0));
    CHECK(GDS_Sref(lib, "VIA", 12000, 8000, 0, 1.0, 90.0, 0, 0));
    CHECK(GDS_Arc(lib, 6000, 4000, 2500, 0.0, 270.0, 48, 200, METAL2, 0, 0, 0, 0));
    CHECK(GDS_Sector(lib, 6000, 4000, 1500, 90.0, 180.0, 24, METAL2, 1, 0, 0));
    CHECK(GDS_Node(lib, nodeX, nodeY, 2, METAL1, 0, 0, 0));
    CHECK(GDS_EndStructure(lib));
}

static void writeTop(GdsHandle lib) {
    /* A 4 x 3 array of cells on a 16 x 12 um pitch: the origin, then the
     * origin displaced by 4 column pitches, and by 3 row pitches. */
    const int32_t arrayX[] = {0, 4 * 16000, 0};
    const int32_t arrayY[] = {0, 0, 3 * 12000};
    /* A wavy bus of 10000 points: more than one PATH element holds, so the
     * library splits it into pieces that share their joint points. */
    enum { BUS_POINTS = 10000 };
    static int32_t busX[BUS_POINTS], busY[BUS_POINTS];
    for (int i = 0; i < BUS_POINTS; ++i) {
        busX[i] = -8000 + 8 * i;
        busY[i] = (int32_t)(-5000 + 2500 * sin(i * 6.283185307179586 / 2500));
    }
    CHECK(GDS_BeginStructure(lib, "TOP"));
    CHECK(GDS_Aref(lib, "CELL", arrayX, arrayY, 4, 3, 0, 1.0, 0.0, 0, 0));
    CHECK(GDS_Sref(lib, "PAD", -12000, 18000, 0, 1.0, 0.0, 0, 0));
    CHECK(GDS_Sref(lib, "PAD", 78000, 18000, (int16_t)0x8000, 1.0, 0.0, 0, 0)); /* mirrored */
    CHECK(GDS_Path(lib, busX, busY, BUS_POINTS, 300, METAL2, 0, 0, 0, 0));
    CHECK(GDS_Text(lib, 33000, 40000, "CARVELLE DEMO", LABELS, 0, 5, 0, 0, 0, 4.0, 0.0, 0, 0));
    CHECK(GDS_EndStructure(lib));
}

/* Reads the file back and prints, per structure, its elements by kind. */
static void summarise(const char *fileName) {
    FILE *file = fopen(fileName, "rb");
    if (!file) { perror(fileName); exit(1); }
    static const char *const kinds[] = {"BOUNDARY", "PATH", "SREF", "AREF", "TEXT", "NODE", "BOX"};
    static const unsigned char kindTypes[] = {0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x15, 0x2D};
    unsigned counts[7] = {0};
    unsigned long bytes = 0, structureBytes = 0;
    char name[256] = "";
    unsigned char header[4], payload[65536];
    while (fread(header, 1, 4, file) == 4) {
        const unsigned length = (unsigned)header[0] << 8 | header[1];
        const unsigned char type = header[2];
        if (length < 4 || fread(payload, 1, length - 4, file) != length - 4) { fprintf(stderr, "bad record\n"); exit(1); }
        bytes += length;
        structureBytes += length;
        if (type == 0x05) { structureBytes = length; memset(counts, 0, sizeof counts); }
        if (type == 0x06) { size_t n = length - 4 < sizeof name - 1 ? length - 4 : sizeof name - 1; memcpy(name, payload, n); name[n] = 0; }
        for (int k = 0; k < 7; ++k) if (type == kindTypes[k]) ++counts[k];
        if (type == 0x07) {
            printf("  %-5s %7lu bytes:", name, structureBytes);
            for (int k = 0; k < 7; ++k) if (counts[k]) printf(" %u %s", counts[k], kinds[k]);
            printf("\n");
        }
    }
    fclose(file);
    printf("%s: %lu bytes\n", fileName, bytes);
}

int main(int argc, char **argv) {
    const char *fileName = argc > 1 ? argv[1] : "demo.gds";
    GdsHandle lib = NULL;
    CHECK(GDS_BeginLib(fileName, 0.001, 1e-9, &lib)); /* 1 nm database unit, um user unit */
    writeVia(lib);
    writePad(lib);
    writeCell(lib);
    writeTop(lib);
    CHECK(GDS_EndLib(lib));
    printf("wrote %s:\n", fileName);
    summarise(fileName);
    return 0;
}
