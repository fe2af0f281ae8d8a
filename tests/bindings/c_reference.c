/* SPDX-License-Identifier: MIT */
/* Writes the reference files that the binding tests compare against: the
 * same sequence of calls that test_bindings.py makes through Python, made
 * here straight through the C functions.
 *
 * Usage: c_reference SCENARIO FILE   (SCENARIO: every | defaults)
 * Exit status 0 when every call returned GDS_OK. */

#include <stdio.h>
#include <string.h>

#include "gds_api.h"

static int failures = 0;

static void check(int32_t code, const char *what) {
    if (code != GDS_OK) {
        fprintf(stderr, "%s returned %d\n", what, (int)code);
        ++failures;
    }
}

/* Every element with values that differ from the defaults, including the
 * extremes of the 32-bit range and 16-bit bit words with the top bit set. */
static void every(GdsHandle h) {
    check(GDS_BeginStructure(h, "CELL"), "BeginStructure CELL");
    check(GDS_Box(h, -10, -20, 30, 40, 1, 2, 0, 0), "Box");
    check(GDS_EndStructure(h), "EndStructure");

    check(GDS_BeginStructure(h, "TOP"), "BeginStructure TOP");
    {
        const int32_t xs[] = {0, 100, 100, 0};
        const int32_t ys[] = {0, 0, 50, 50};
        check(GDS_Boundary(h, xs, ys, 4, 5, 6, 1, 7), "Boundary");
    }
    {
        const int32_t xs[] = {INT32_MIN, INT32_MAX, 0};
        const int32_t ys[] = {INT32_MAX, INT32_MIN, -1};
        check(GDS_Boundary(h, xs, ys, 3, 255, 254, 2, INT32_MAX), "Boundary extremes");
    }
    check(GDS_Box(h, -5, -6, 7, 8, 3, 4, 2, 9), "Box");
    check(GDS_Box(h, 0, 0, 1, 1, (int16_t)-1, (int16_t)0x8000, (int16_t)0xFFFF, INT32_MIN), "Box words");
    check(GDS_Box(h, 0, 0, 2, 2, (int16_t)40000, 32767, 0, -1), "Box unsigned layer");
    check(GDS_BoxWH(h, 10, 20, 30, 40, 1, 0, 0, 0), "BoxWH");
    check(GDS_Square(h, -100, -100, 25, 2, 1, 0, 0), "Square");
    {
        const int32_t xs[] = {0, 1000, 1000};
        const int32_t ys[] = {0, 0, -500};
        check(GDS_Path(h, xs, ys, 3, 20, 7, 1, 2, 0, 0), "Path");
    }
    check(GDS_Circle(h, 500, 500, 100, 16, 8, 0, 0, 0), "Circle");
    check(GDS_Arc(h, 0, 0, 300, 0.0, 90.0, 12, 10, 9, 1, 0, 0, 0), "Arc");
    check(GDS_Sector(h, 0, 0, 200, 45.0, 135.0, 10, 10, 2, 0, 0), "Sector");
    check(GDS_Text(h, 12, 34, "hello", 11, 3, 5, 1, 7, (int16_t)0x8006, 2.5, 30.0, 0, 0), "Text");
    check(GDS_Sref(h, "CELL", 100, 200, (int16_t)0x8000, 1.5, 90.0, 0, 0), "Sref");
    {
        const int32_t xs[] = {0, 400, 0};
        const int32_t ys[] = {0, 0, 300};
        check(GDS_Aref(h, "CELL", xs, ys, 4, 3, 0, 1.0, 0.0, 0, 0), "Aref");
    }
    {
        const int32_t xs[] = {1, 2, 3};
        const int32_t ys[] = {4, 5, 6};
        check(GDS_Node(h, xs, ys, 3, 12, 3, 0, 0), "Node");
    }
    check(GDS_EndStructure(h), "EndStructure");
}

/* Every element with only its required arguments; the rest at the values a
 * binding gives by default. */
static void defaults(GdsHandle h) {
    const int32_t xs[] = {0, 10, 0};
    const int32_t ys[] = {0, 0, 10};
    check(GDS_BeginStructure(h, "D"), "BeginStructure D");
    check(GDS_Boundary(h, xs, ys, 3, 0, 0, 0, 0), "Boundary");
    check(GDS_Box(h, 0, 0, 10, 10, 0, 0, 0, 0), "Box");
    check(GDS_BoxWH(h, 0, 0, 10, 10, 0, 0, 0, 0), "BoxWH");
    check(GDS_Square(h, 0, 0, 10, 0, 0, 0, 0), "Square");
    check(GDS_Path(h, xs, ys, 2, 0, 0, 0, 0, 0, 0), "Path");
    check(GDS_Circle(h, 0, 0, 10, 8, 0, 0, 0, 0), "Circle");
    check(GDS_Arc(h, 0, 0, 10, 0.0, 90.0, 8, 0, 0, 0, 0, 0, 0), "Arc");
    check(GDS_Sector(h, 0, 0, 10, 0.0, 90.0, 8, 0, 0, 0, 0), "Sector");
    check(GDS_Text(h, 0, 0, "T", 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), "Text");
    check(GDS_Sref(h, "A", 0, 0, 0, 1.0, 0.0, 0, 0), "Sref");
    check(GDS_Aref(h, "A", xs, ys, 2, 2, 0, 1.0, 0.0, 0, 0), "Aref");
    check(GDS_Node(h, xs, ys, 1, 0, 0, 0, 0), "Node");
    check(GDS_EndStructure(h), "EndStructure");
}

/* Every element kind with properties, at a fixed time: what
 * test_python_properties.py writes through Python. */
static void properties(GdsHandle h) {
    const int32_t xs[] = {0, 100, 100}, ys[] = {0, 0, 50};
    const int32_t ax[] = {0, 300, 0}, ay[] = {0, 0, 200};
    check(GDS_BeginStructure(h, "LEAF"), "BeginStructure");
    check(GDS_Boundary(h, xs, ys, 3, 1, 0, 0, 0), "Boundary");
    check(GDS_Property(h, 1, "boundary"), "Property");
    check(GDS_Property(h, 2, "17"), "Property");
    check(GDS_EndStructure(h), "EndStructure");
    check(GDS_BeginStructure(h, "TOP"), "BeginStructure");
    check(GDS_Box(h, 0, 0, 10, 20, 2, 0, 0, 0), "Box");
    check(GDS_Property(h, 1, "box"), "Property");
    check(GDS_Path(h, xs, ys, 3, 4, 3, 0, 0, 0, 0), "Path");
    check(GDS_Property(h, 3, "odd"), "Property");
    check(GDS_Text(h, 5, 5, "label", 4, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), "Text");
    check(GDS_Property(h, 4, "text"), "Property");
    check(GDS_Sref(h, "LEAF", 1000, 0, 0, 1.0, 0.0, 0, 0), "Sref");
    check(GDS_Property(h, 5, "sref"), "Property");
    check(GDS_Property(h, 127, "2.5"), "Property");
    check(GDS_Aref(h, "LEAF", ax, ay, 3, 2, 0, 1.0, 0.0, 0, 0), "Aref");
    check(GDS_Property(h, 6, "aref"), "Property");
    check(GDS_Node(h, xs, ys, 2, 5, 0, 0, 0), "Node");
    check(GDS_Property(h, 7, "node"), "Property");
    check(GDS_Box(h, 0, 0, 1, 1, 6, 0, 0, 0), "Box");
    check(GDS_Property(h, 8, "row"), "Property");
    check(GDS_Box(h, 2, 2, 3, 3, 6, 0, 0, 0), "Box");
    check(GDS_Property(h, 8, "row"), "Property");
    check(GDS_EndStructure(h), "EndStructure");
}

int main(int argc, char **argv) {
    GdsHandle h = NULL;
    double userUnit = 1e-3, meterUnit = 1e-9;
    if (argc != 3) {
        fprintf(stderr, "usage: %s every|defaults|properties FILE\n", argv[0]);
        return 2;
    }
    if (strcmp(argv[1], "every") == 0) {
        userUnit = 0.5;
        meterUnit = 2.5e-10;
    }
    if (strcmp(argv[1], "properties") == 0) {
        check(GDS_BeginLibAt(argv[2], userUnit, meterUnit, 1709296496, &h), "BeginLibAt");
    } else {
        check(GDS_BeginLib(argv[2], userUnit, meterUnit, &h), "BeginLib");
    }
    if (strcmp(argv[1], "properties") == 0) {
        properties(h);
    } else if (strcmp(argv[1], "every") == 0) {
        every(h);
    } else if (strcmp(argv[1], "defaults") == 0) {
        defaults(h);
    } else {
        fprintf(stderr, "unknown scenario %s\n", argv[1]);
        ++failures;
    }
    check(GDS_EndLib(h), "EndLib");
    return failures == 0 ? 0 : 1;
}
