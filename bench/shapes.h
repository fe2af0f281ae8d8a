/* SPDX-License-Identifier: MIT */
/* The geometry that both writer programs produce, so that their files can be
 * compared byte for byte: shape i sits on a 1000-column grid with a 200-unit
 * pitch; a box is 100 x 100, a polygon is a fixed 64-gon of radius 90. */
#ifndef CARVELLE_BENCH_SHAPES_H
#define CARVELLE_BENCH_SHAPES_H

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SHAPE_PITCH 200
#define SHAPE_COLUMNS 1000
#define BOX_SIDE 100
#define POLYGON_VERTICES 64
#define SHAPE_LAYER 1
#define SHAPE_TYPE 0
#define SHAPE_USER_UNIT 0.001
#define SHAPE_METER_UNIT 1e-9
#define SHAPE_STRUCTURE "TOP"

static inline int32_t shapeX(uint64_t i) { return (int32_t)(i % SHAPE_COLUMNS) * SHAPE_PITCH; }
static inline int32_t shapeY(uint64_t i) { return (int32_t)(i / SHAPE_COLUMNS) * SHAPE_PITCH; }

/* The 64-gon around the origin, integers computed once. */
static inline void polygonTemplate(int32_t* xs, int32_t* ys) {
    for (int k = 0; k < POLYGON_VERTICES; ++k) {
        const double a = 2.0 * 3.14159265358979323846 * k / POLYGON_VERTICES;
        xs[k] = (int32_t)lround(90.0 * cos(a));
        ys[k] = (int32_t)lround(90.0 * sin(a));
    }
}

/* Usage: PROGRAM box|boundary COUNT FILE */
static inline int parseArguments(int argc, char** argv, int* polygons, uint64_t* count) {
    if (argc != 4 || (strcmp(argv[1], "box") != 0 && strcmp(argv[1], "boundary") != 0)) {
        fprintf(stderr, "usage: %s box|boundary COUNT FILE\n", argv[0]);
        return 0;
    }
    *polygons = strcmp(argv[1], "boundary") == 0;
    *count = strtoull(argv[2], NULL, 10);
    return 1;
}

#endif
