/* SPDX-License-Identifier: MIT */
/*
 * Writes the interop layouts through the public C API, and next to each
 * layout a JSON manifest of exactly what was asked for. The reader scripts
 * (read_klayout.py, read_gdspy.py) open every layout with another tool and
 * compare what that tool sees with the manifest.
 *
 * Usage: generate_layouts OUTPUT_DIR
 *
 * The manifest records calls, not records: a BOUNDARY as its vertices
 * without the closing one, a BOX as its two corners, a PATH as all its
 * points, a circle, arc or sector as its parameters. The readers derive the
 * file's view themselves (closing vertex, the five-point BOX ring, the
 * 8190-point PATH pieces, the sampled curve points).
 */
#include "gds_api.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *g_outdir;
static FILE *g_manifest;
static GdsHandle g_lib;
static int g_first_struct;
static int g_first_element;
static int g_failures;

static void check(int32_t rc, const char *what)
{
    if (rc != GDS_OK) {
        char message[GDS_ERROR_BUFFER_SIZE] = "";
        GDS_GetError(rc, message, (int32_t)sizeof message);
        fprintf(stderr, "generate_layouts: %s returned %d (%s)\n", what, (int)rc, message);
        g_failures++;
    }
}

static void out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(g_manifest, format, args);
    va_end(args);
}

static void out_string(const char *text)
{
    const unsigned char *p = (const unsigned char *)text;
    fputc('"', g_manifest);
    for (; *p; ++p) {
        if (*p == '"' || *p == '\\')
            fprintf(g_manifest, "\\%c", *p);
        else if (*p < 0x20 || *p >= 0x7f)
            fprintf(g_manifest, "\\u%04x", *p);
        else
            fputc(*p, g_manifest);
    }
    fputc('"', g_manifest);
}

static void out_points(const int32_t *xs, const int32_t *ys, int count)
{
    out("[");
    for (int i = 0; i < count; ++i)
        out("%s[%ld,%ld]", i ? "," : "", (long)xs[i], (long)ys[i]);
    out("]");
}

/* ---- layout and structure brackets ---------------------------------- */

static void begin_layout(const char *name, double user_unit, double meter_unit)
{
    char path[4096];
    snprintf(path, sizeof path, "%s/%s.json", g_outdir, name);
    g_manifest = fopen(path, "w");
    if (!g_manifest) {
        fprintf(stderr, "generate_layouts: cannot write %s\n", path);
        exit(2);
    }
    snprintf(path, sizeof path, "%s/%s.gds", g_outdir, name);
    check(GDS_BeginLib(path, user_unit, meter_unit, &g_lib), "GDS_BeginLib");
    out("{\"layout\":\"%s\",\"file\":\"%s.gds\",\"user_unit\":%.17g,\"meter_unit\":%.17g,"
        "\"structures\":[",
        name, name, user_unit, meter_unit);
    g_first_struct = 1;
}

static void end_layout(void)
{
    check(GDS_EndLib(g_lib), "GDS_EndLib");
    out("]}\n");
    fclose(g_manifest);
}

static void begin_struct(const char *name)
{
    check(GDS_BeginStructure(g_lib, name), "GDS_BeginStructure");
    out("%s\n{\"name\":", g_first_struct ? "" : ",");
    out_string(name);
    out(",\"elements\":[");
    g_first_struct = 0;
    g_first_element = 1;
}

static void end_struct(void)
{
    check(GDS_EndStructure(g_lib), "GDS_EndStructure");
    out("]}");
}

static void element_start(const char *kind)
{
    out("%s\n{\"kind\":\"%s\"", g_first_element ? "" : ",", kind);
    g_first_element = 0;
}

/* ---- element writers: call the library, record the call ------------- */

static void boundary(const int32_t *xs, const int32_t *ys, int count, int layer, int datatype)
{
    check(GDS_Boundary(g_lib, xs, ys, (int16_t)count, (int16_t)layer, (int16_t)datatype, 0, 0),
          "GDS_Boundary");
    element_start("boundary");
    out(",\"layer\":%d,\"datatype\":%d,\"points\":", layer, datatype);
    out_points(xs, ys, count);
    out("}");
}

static void box_element(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int layer, int boxtype)
{
    element_start("box");
    out(",\"layer\":%d,\"boxtype\":%d,\"corners\":[%ld,%ld,%ld,%ld]}", layer, boxtype, (long)x1,
        (long)y1, (long)x2, (long)y2);
}

static void box(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int layer, int boxtype)
{
    check(GDS_Box(g_lib, x1, y1, x2, y2, (int16_t)layer, (int16_t)boxtype, 0, 0), "GDS_Box");
    box_element(x1, y1, x2, y2, layer, boxtype);
}

/* Sums that wrap modulo 2^32, as the library documents for BoxWH/Square. */
static int32_t wrap_add(int32_t a, int32_t b)
{
    uint32_t sum = (uint32_t)a + (uint32_t)b;
    return sum <= 0x7fffffffu ? (int32_t)sum : (int32_t)(sum - 0x80000000u) - 0x7fffffff - 1;
}

static void box_wh(int32_t x, int32_t y, int32_t w, int32_t h, int layer, int boxtype)
{
    check(GDS_BoxWH(g_lib, x, y, w, h, (int16_t)layer, (int16_t)boxtype, 0, 0), "GDS_BoxWH");
    box_element(x, y, wrap_add(x, w), wrap_add(y, h), layer, boxtype);
}

static void square(int32_t x, int32_t y, int32_t side, int layer, int boxtype)
{
    check(GDS_Square(g_lib, x, y, side, (int16_t)layer, (int16_t)boxtype, 0, 0), "GDS_Square");
    box_element(x, y, wrap_add(x, side), wrap_add(y, side), layer, boxtype);
}

static void path(const int32_t *xs, const int32_t *ys, int count, int32_t width, int layer,
                 int datatype, int pathtype)
{
    check(GDS_Path(g_lib, xs, ys, (int16_t)count, width, (int16_t)layer, (int16_t)datatype,
                   (int16_t)pathtype, 0, 0),
          "GDS_Path");
    element_start("path");
    out(",\"layer\":%d,\"datatype\":%d,\"pathtype\":%d,\"width\":%ld,\"points\":", layer, datatype,
        pathtype, (long)width);
    out_points(xs, ys, count);
    out("}");
}

static void circle(int32_t cx, int32_t cy, int32_t radius, int count, int layer, int datatype)
{
    check(GDS_Circle(g_lib, cx, cy, radius, (int16_t)count, (int16_t)layer, (int16_t)datatype, 0,
                     0),
          "GDS_Circle");
    element_start("circle");
    out(",\"layer\":%d,\"datatype\":%d,\"center\":[%ld,%ld],\"radius\":%ld,\"count\":%d}", layer,
        datatype, (long)cx, (long)cy, (long)radius, count);
}

static void arc(int32_t cx, int32_t cy, int32_t radius, double start, double end, int count,
                int32_t width, int layer, int datatype, int pathtype)
{
    check(GDS_Arc(g_lib, cx, cy, radius, start, end, (int16_t)count, width, (int16_t)layer,
                  (int16_t)datatype, (int16_t)pathtype, 0, 0),
          "GDS_Arc");
    element_start("arc");
    out(",\"layer\":%d,\"datatype\":%d,\"pathtype\":%d,\"width\":%ld,\"center\":[%ld,%ld],"
        "\"radius\":%ld,\"start\":%.17g,\"end\":%.17g,\"count\":%d}",
        layer, datatype, pathtype, (long)width, (long)cx, (long)cy, (long)radius, start, end, count);
}

static void sector(int32_t cx, int32_t cy, int32_t radius, double start, double end, int count,
                   int layer, int datatype)
{
    check(GDS_Sector(g_lib, cx, cy, radius, start, end, (int16_t)count, (int16_t)layer,
                     (int16_t)datatype, 0, 0),
          "GDS_Sector");
    element_start("sector");
    out(",\"layer\":%d,\"datatype\":%d,\"center\":[%ld,%ld],\"radius\":%ld,\"start\":%.17g,"
        "\"end\":%.17g,\"count\":%d}",
        layer, datatype, (long)cx, (long)cy, (long)radius, start, end, count);
}

static void text(int32_t x, int32_t y, const char *string, int layer, int texttype,
                 int presentation, int pathtype, int32_t width, int strans, double mag,
                 double angle)
{
    check(GDS_Text(g_lib, x, y, string, (int16_t)layer, (int16_t)texttype, (int16_t)presentation,
                   (int16_t)pathtype, width, (int16_t)strans, mag, angle, 0, 0),
          "GDS_Text");
    element_start("text");
    out(",\"layer\":%d,\"texttype\":%d,\"string\":", layer, texttype);
    out_string(string);
    out(",\"position\":[%ld,%ld],\"presentation\":%d,\"pathtype\":%d,\"width\":%ld,"
        "\"strans\":%d,\"mag\":%.17g,\"angle\":%.17g}",
        (long)x, (long)y, presentation & 0xffff, pathtype, (long)width, strans & 0xffff, mag,
        angle);
}

static void sref(const char *name, int32_t x, int32_t y, int strans, double mag, double angle)
{
    check(GDS_Sref(g_lib, name, x, y, (int16_t)strans, mag, angle, 0, 0), "GDS_Sref");
    element_start("sref");
    out(",\"name\":");
    out_string(name);
    out(",\"position\":[%ld,%ld],\"strans\":%d,\"mag\":%.17g,\"angle\":%.17g}", (long)x, (long)y,
        strans & 0xffff, mag, angle);
}

static void aref(const char *name, const int32_t xs[3], const int32_t ys[3], int cols, int rows,
                 int strans, double mag, double angle)
{
    check(GDS_Aref(g_lib, name, xs, ys, (int16_t)cols, (int16_t)rows, (int16_t)strans, mag, angle,
                   0, 0),
          "GDS_Aref");
    element_start("aref");
    out(",\"name\":");
    out_string(name);
    out(",\"points\":");
    out_points(xs, ys, 3);
    out(",\"cols\":%d,\"rows\":%d,\"strans\":%d,\"mag\":%.17g,\"angle\":%.17g}", cols, rows,
        strans & 0xffff, mag, angle);
}

static void node(const int32_t *xs, const int32_t *ys, int count, int layer, int nodetype)
{
    check(GDS_Node(g_lib, xs, ys, (int16_t)count, (int16_t)layer, (int16_t)nodetype, 0, 0),
          "GDS_Node");
    element_start("node");
    out(",\"layer\":%d,\"nodetype\":%d,\"points\":", layer, nodetype);
    out_points(xs, ys, count);
    out("}");
}

/* ---- the layouts ------------------------------------------------------ */

#define REFLECT 0x8000
#define ABS_MAG 0x0004
#define ABS_ANGLE 0x0002

/* Every element kind on several layers and datatypes, usual units. */
static void layout_elements(void)
{
    begin_layout("elements", 0.001, 1e-9);

    begin_struct("CELL_A");
    {
        const int32_t tx[3] = {0, 1000, 0}, ty[3] = {0, 0, 1000};
        const int32_t px[5] = {0, 400, 500, 250, -100}, py[5] = {0, -50, 300, 600, 350};
        const int32_t lx[6] = {0, 2000, 2000, 1000, 1000, 0};
        const int32_t ly[6] = {0, 0, 1000, 1000, 2000, 2000};
        boundary(tx, ty, 3, 1, 0);
        boundary(px, py, 5, 1, 7);
        boundary(lx, ly, 6, 2, 0);
        boundary(tx, ty, 3, 255, 255);
        box(-100, -200, 300, 400, 3, 0);
        box(500, 600, -500, -600, 3, 5); /* corners given high to low */
        box_wh(1000, 1000, -250, 750, 4, 1);
        square(-3000, 2000, 1500, 4095, 2);
        const int32_t wx[4] = {0, 1000, 1000, 3000}, wy[4] = {0, 0, 1000, 1000};
        path(wx, wy, 4, 100, 5, 0, 0);
        path(wx, wy, 4, 200, 5, 1, 1);
        path(wx, wy, 4, 40, 6, 0, 2);
        const int32_t dx[2] = {-500, 500}, dy[2] = {-500, -500};
        path(dx, dy, 2, 10, 6, 3, 0);
        text(0, 0, "A", 10, 0, 0, 0, 0, 0, 1.0, 0.0);
        text(100, -100, "even", 10, 1, 5, 0, 0, 0, 1.0, 0.0);
        text(-7, 13, "odd", 11, 255, 10, 0, 0, 0, 1.0, 0.0);
        const int32_t nx[1] = {10}, ny[1] = {-20};
        node(nx, ny, 1, 20, 2);
        int32_t mx[50], my[50];
        for (int i = 0; i < 50; ++i) {
            mx[i] = i * 37 - 900;
            my[i] = (i % 7) * 11 + i;
        }
        node(mx, my, 50, 21, 0);
    }
    end_struct();

    begin_struct("TEXTS");
    {
        char long_text[513];
        for (int i = 0; i < 512; ++i)
            long_text[i] = (char)('!' + (i * 7) % 94); /* printable ASCII, quotes included */
        long_text[512] = '\0';
        text(5000, -5000, long_text, 12, 3, 0, 0, 0, 0, 1.0, 0.0);
        /* every transformation field set: font 2, bottom-right anchor, round
           ends, a width, reflection, magnification and rotation */
        text(123456, -654321, "all fields", 13, 42, 0x0020 | 0x0008 | 0x0002, 1, 250,
             REFLECT, 2.5, 90.0);
        text(-1, -1, "abs bits", 13, 43, 0x0014 | 0x0001, 2, 40, REFLECT | ABS_MAG | ABS_ANGLE,
             0.5, 270.0);
        text(7, 7, "rot180", 14, 0, 0x0005, 0, 0, 0, 1.0, 180.0);
    }
    end_struct();

    begin_struct("TOP");
    sref("CELL_A", 0, 0, 0, 1.0, 0.0);
    sref("CELL_A", 10000, 0, REFLECT, 1.0, 0.0);
    sref("CELL_A", 0, 10000, 0, 2.0, 90.0);
    sref("TEXTS", -20000, 5000, REFLECT, 3.0, 270.0);
    {
        const int32_t ax[3] = {-50000, -50000 + 4 * 3000, -50000};
        const int32_t ay[3] = {-50000, -50000, -50000 + 3 * 4000};
        aref("CELL_A", ax, ay, 4, 3, 0, 1.0, 0.0);
    }
    end_struct();

    end_layout();
}

/* The largest elements: a BOUNDARY of 8189 vertices and long PATHs. */
static void layout_big(void)
{
    static int32_t xs[20000], ys[20000];
    begin_layout("big", 0.0005, 5e-10);
    begin_struct("BIG");

    /* 8189 vertices: a comb of spikes over a base at y = -5000; no three
       consecutive vertices lie in line and no edges cross. */
    for (int i = 0; i < 8188; ++i) {
        xs[i] = i * 10;
        ys[i] = (i % 2) ? 1000 + (i % 5) * 3 : -(i % 3);
    }
    xs[0] = 0;
    ys[0] = -5000;
    xs[8188] = 81870;
    ys[8188] = -5000;
    boundary(xs, ys, 8189, 1, 0);

    /* 20000 points: a staircase-like zigzag, so no point lies in line with
       its neighbours; three pieces of 8190, 8190 and 3622 points. */
    for (int i = 0; i < 20000; ++i) {
        xs[i] = i * 7;
        ys[i] = 100000 + ((i % 2) ? 500 + (i % 11) : -(i % 13));
    }
    path(xs, ys, 20000, 20, 2, 0, 0);

    /* Exactly 8190 points: one element. 8191 points: a second piece of two. */
    for (int i = 0; i < 8191; ++i) {
        xs[i] = -i * 5;
        ys[i] = -200000 + ((i % 2) ? 300 : 0) + (i % 4);
    }
    path(xs, ys, 8190, 6, 3, 0, 2);
    path(xs, ys, 8191, 8, 3, 1, 1);
    end_struct();
    end_layout();
}

/* Circles, arcs and sectors, with a database unit of one micrometre. */
static void layout_curves(void)
{
    begin_layout("curves", 1.0, 1e-6);
    begin_struct("CURVES");
    circle(0, 0, 1000, 3, 1, 0);
    circle(0, 0, 1000, 4, 1, 0);
    circle(5000, -3000, 2500, 64, 1, 1);
    circle(-40000, 40000, 12345, 7, 2, 0);
    circle(0, 0, 50000000, 8189, 3, 0);

    arc(0, 0, 1000, 0.0, 180.0, 4, 50, 4, 0, 0);
    arc(10000, 0, 3000, 10.0, 350.0, 90, 100, 4, 1, 1);
    arc(10000, 10000, 3000, 270.0, 45.0, 60, 80, 4, 2, 2);   /* clockwise */
    arc(-10000, 0, -2000, 30.0, 150.0, 25, 40, 4, 3, 0);     /* negative radius */
    arc(0, -20000, 5000, -90.0, 630.0, 200, 30, 4, 4, 0);    /* past a full turn */

    sector(0, 0, 1000, 0.0, 90.0, 4, 5, 0);
    sector(20000, 0, 4000, 45.0, 300.0, 40, 5, 1);
    sector(20000, 20000, 4000, 180.0, -60.0, 33, 5, 2);      /* clockwise */
    sector(-20000, -20000, -3000, 0.0, 120.0, 17, 5, 3);     /* negative radius */
    sector(-20000, 20000, 3000, 350.0, 10.0, 3, 5, 4);       /* clockwise, three vertices */
    end_struct();
    end_layout();
}

/* A hierarchy five levels deep, LEAF referenced from every level, with
   arrays, reflections, magnifications and rotations. */
static void layout_hierarchy(void)
{
    begin_layout("hierarchy", 0.01, 1e-8);

    begin_struct("LEAF");
    box(0, 0, 100, 50, 1, 0);
    {
        const int32_t x[3] = {0, 100, 0}, y[3] = {50, 50, 120};
        boundary(x, y, 3, 2, 0);
    }
    end_struct();

    begin_struct("L3");
    sref("LEAF", 0, 0, 0, 1.0, 0.0);
    sref("LEAF", 500, 0, REFLECT, 1.0, 0.0);
    sref("LEAF", 1000, 0, 0, 1.5, 0.0);
    sref("LEAF", 1500, 0, 0, 1.0, 45.0);
    sref("LEAF", 2000, 0, REFLECT, 0.25, 135.0);
    end_struct();

    /* a name of odd length and one with punctuation */
    begin_struct("LEVEL2x");
    sref("L3", 0, 0, 0, 1.0, 90.0);
    sref("LEAF", -300, 400, 0, 1.0, 0.0);
    {
        const int32_t x[3] = {0, 0 + 5 * 200, 0}, y[3] = {1000, 1000, 1000 + 2 * 300};
        aref("LEAF", x, y, 5, 2, 0, 1.0, 0.0);
    }
    end_struct();

    begin_struct("L1$mid");
    sref("LEVEL2x", 0, 0, REFLECT, 2.0, 180.0);
    sref("L3", 10000, 10000, 0, 1.0, 0.0);
    {
        /* 3 columns x 4 rows, rotated 90 degrees: the column pitch runs
           along y, the row pitch along -x */
        const int32_t x[3] = {-5000, -5000, -5000 - 4 * 700};
        const int32_t y[3] = {-5000, -5000 + 3 * 400, -5000};
        aref("LEAF", x, y, 3, 4, 0, 1.0, 90.0);
    }
    {
        /* reflected, magnified and rotated 180 degrees */
        const int32_t x[3] = {20000, 20000 - 2 * 600, 20000};
        const int32_t y[3] = {0, 0, 0 + 6 * 250};
        aref("LEAF", x, y, 2, 6, REFLECT, 3.0, 180.0);
    }
    end_struct();

    begin_struct("TOP");
    sref("L1$mid", 0, 0, 0, 1.0, 0.0);
    sref("LEVEL2x", 100000, 0, 0, 0.5, 270.0);
    sref("L3", 0, 100000, REFLECT, 1.0, 90.0);
    sref("LEAF", -100000, -100000, 0, 10.0, 0.0);
    {
        /* rotated 30 degrees: pitch vectors (866, 500) and (-500, 866) */
        const int32_t x[3] = {0, 0 + 4 * 866, 0 - 3 * 500};
        const int32_t y[3] = {-50000, -50000 + 4 * 500, -50000 + 3 * 866};
        aref("LEAF", x, y, 4, 3, 0, 1.0, 30.0);
    }
    {
        /* one instance as an array */
        const int32_t x[3] = {7, 107, 7}, y[3] = {-7, -7, 93};
        aref("LEVEL2x", x, y, 1, 1, REFLECT, 1.25, 0.0);
    }
    end_struct();

    end_layout();
}

/* Coordinates at and near the ends of the 32-bit range. */
static void layout_limits(void)
{
    const int32_t MAX = 2147483647, MIN = -2147483647 - 1;
    begin_layout("limits", 0.25, 2.5e-10);
    begin_struct("EDGE");
    {
        const int32_t x[4] = {MIN, MAX, MAX, MIN}, y[4] = {MIN, MIN, MAX, MAX - 1};
        boundary(x, y, 4, 1, 0);
        const int32_t x2[3] = {MAX, MAX - 1, MAX - 2}, y2[3] = {MAX, MIN, MAX - 5};
        boundary(x2, y2, 3, 1, 1);
    }
    box(MIN, MIN, MAX, MAX, 2, 0);
    box_wh(MAX - 1000, 0, 1000, 1000, 2, 1);
    box_wh(MAX - 1000, MIN + 1000, 2000, -1000, 2, 2); /* x + w wraps */
    square(MIN, MIN, -1, 2, 3);                        /* wraps to MAX */
    {
        const int32_t x[3] = {MIN + 100, 0, MAX - 100}, y[3] = {MAX - 100, 0, MIN + 100};
        path(x, y, 3, 100, 3, 0, 0);
    }
    text(MAX, MIN, "corner", 4, 0, 0, 0, 0, 0, 1.0, 0.0);
    text(MIN, MAX, "other corner", 4, 1, 0, 0, 0, 0, 1.0, 0.0);
    {
        const int32_t x[2] = {MAX, MIN}, y[2] = {MIN, MAX};
        node(x, y, 2, 5, 0);
    }
    end_struct();

    begin_struct("FAR");
    sref("EDGE", MAX, MIN, 0, 1.0, 0.0);
    sref("EDGE", MIN, MAX, REFLECT, 1.0, 180.0);
    {
        const int32_t x[3] = {MIN, MIN + 2 * 1000000000, MIN};
        const int32_t y[3] = {MIN, MIN, MIN + 2 * 1000000000};
        aref("EDGE", x, y, 2, 2, 0, 1.0, 0.0);
    }
    end_struct();
    end_layout();
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: generate_layouts OUTPUT_DIR\n");
        return 2;
    }
    g_outdir = argv[1];
    layout_elements();
    layout_big();
    layout_curves();
    layout_hierarchy();
    layout_limits();
    if (g_failures) {
        fprintf(stderr, "generate_layouts: %d calls failed\n", g_failures);
        return 1;
    }
    printf("generate_layouts: 5 layouts written to %s\n", g_outdir);
    return 0;
}
