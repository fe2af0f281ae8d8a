/* SPDX-License-Identifier: MIT */
/* The practical limit for the benchmark files: a minimal hand-written encoder
 * that writes the same bytes as carvelle_write. Each element is encoded into a
 * stack buffer and appended to a 1 MiB stdio buffer; nothing is checked that
 * the fixed geometry does not need. Usage: carvelle_limit box|boundary COUNT FILE */
#define _GNU_SOURCE
#include <time.h>

#include "shapes.h"

#if defined(__GLIBC__)
#  define APPEND(data, size, file) fwrite_unlocked(data, 1, size, file)
#else
#  define APPEND(data, size, file) fwrite(data, 1, size, file)
#endif

static uint8_t* put16(uint8_t* at, uint32_t v) {
    at[0] = (uint8_t)(v >> 8);
    at[1] = (uint8_t)v;
    return at + 2;
}
static uint8_t* put32(uint8_t* at, uint32_t v) {
    at[0] = (uint8_t)(v >> 24);
    at[1] = (uint8_t)(v >> 16);
    at[2] = (uint8_t)(v >> 8);
    at[3] = (uint8_t)v;
    return at + 4;
}
/* Record header: total length, record type, data type. */
static uint8_t* record(uint8_t* at, uint32_t payload, uint8_t type, uint8_t data) {
    at = put16(at, 4 + payload);
    at[0] = type;
    at[1] = data;
    return at + 2;
}
/* A positive double as an excess-64 base-16 real: every double fits exactly
 * in the 56-bit mantissa, whatever the 0 to 3 bits of normalisation. */
static uint8_t* putReal(uint8_t* at, double v) {
    int e;
    const double m = frexp(v, &e); /* v = m * 2^e, m in [0.5, 1) */
    const int k = (e + 3 >= 0) ? (e + 3) / 4 : -((-(e + 3) + 3) / 4); /* ceil(e / 4) */
    const uint64_t mantissa = (uint64_t)ldexp(m, 56 + e - 4 * k);
    at[0] = (uint8_t)(k + 64);
    for (int b = 1; b < 8; ++b) at[b] = (uint8_t)(mantissa >> (8 * (7 - b)));
    return at + 8;
}
static uint8_t* putTimestamp(uint8_t* at, const struct tm* t) {
    for (int twice = 0; twice < 2; ++twice) {
        at = put16(at, (uint32_t)t->tm_year);
        at = put16(at, (uint32_t)t->tm_mon + 1);
        at = put16(at, (uint32_t)t->tm_mday);
        at = put16(at, (uint32_t)t->tm_hour);
        at = put16(at, (uint32_t)t->tm_min);
        at = put16(at, (uint32_t)t->tm_sec);
    }
    return at;
}
static uint8_t* putString(uint8_t* at, uint8_t type, const char* text) {
    const size_t length = strlen(text), padded = length + (length & 1);
    at = record(at, (uint32_t)padded, type, 0x06);
    memcpy(at, text, length);
    if (length & 1) at[length] = 0;
    return at + padded;
}
/* BOUNDARY or BOX, ELFLAGS 0, PLEX 0, layer, datatype or boxtype. */
static uint8_t* opening(uint8_t* at, uint8_t kind, uint8_t typeRecord) {
    at = record(at, 0, kind, 0x00);
    at = put16(record(at, 2, 0x26, 0x01), 0);
    at = put32(record(at, 4, 0x2F, 0x03), 0);
    at = put16(record(at, 2, 0x0D, 0x02), SHAPE_LAYER);
    return put16(record(at, 2, typeRecord, 0x02), SHAPE_TYPE);
}

int main(int argc, char** argv) {
    int polygons;
    uint64_t count;
    if (!parseArguments(argc, argv, &polygons, &count)) return 2;
    FILE* file = fopen(argv[3], "wb");
    if (file == NULL) return 1;
    static char stdioBuffer[1 << 20];
    setvbuf(file, stdioBuffer, _IOFBF, sizeof stdioBuffer);

    const time_t now = time(NULL);
    struct tm local;
    localtime_r(&now, &local);
    uint8_t head[65600];
    uint8_t* at = put16(record(head, 2, 0x00, 0x02), 3);
    at = putTimestamp(record(at, 24, 0x01, 0x02), &local);
    at = putString(at, 0x02, argv[3]);
    at = putReal(putReal(record(at, 16, 0x03, 0x05), SHAPE_USER_UNIT), SHAPE_METER_UNIT);
    at = putTimestamp(record(at, 24, 0x05, 0x02), &local);
    at = putString(at, 0x06, SHAPE_STRUCTURE);
    APPEND(head, (size_t)(at - head), file);

    if (polygons) {
        int32_t tx[POLYGON_VERTICES], ty[POLYGON_VERTICES], xs[POLYGON_VERTICES], ys[POLYGON_VERTICES];
        polygonTemplate(tx, ty);
        for (uint64_t i = 0; i < count; ++i) {
            const int32_t x = shapeX(i), y = shapeY(i);
            for (int k = 0; k < POLYGON_VERTICES; ++k) {
                xs[k] = tx[k] + x;
                ys[k] = ty[k] + y;
            }
            uint8_t element[600];
            uint8_t* p = record(opening(element, 0x08, 0x0E), 8 * (POLYGON_VERTICES + 1), 0x10, 0x03);
            for (int k = 0; k < POLYGON_VERTICES; ++k) p = put32(put32(p, (uint32_t)xs[k]), (uint32_t)ys[k]);
            p = put32(put32(p, (uint32_t)xs[0]), (uint32_t)ys[0]);
            p = record(p, 0, 0x11, 0x00);
            APPEND(element, (size_t)(p - element), file);
        }
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            const uint32_t x1 = (uint32_t)shapeX(i), y1 = (uint32_t)shapeY(i);
            const uint32_t x2 = x1 + BOX_SIDE, y2 = y1 + BOX_SIDE;
            uint8_t element[80];
            uint8_t* p = record(opening(element, 0x2D, 0x2E), 40, 0x10, 0x03);
            p = put32(put32(p, x1), y1);
            p = put32(put32(p, x2), y1);
            p = put32(put32(p, x2), y2);
            p = put32(put32(p, x1), y2);
            p = put32(put32(p, x1), y1);
            p = record(p, 0, 0x11, 0x00);
            APPEND(element, (size_t)(p - element), file);
        }
    }
    uint8_t tail[8];
    at = record(record(tail, 0, 0x07, 0x00), 0, 0x04, 0x00);
    APPEND(tail, (size_t)(at - tail), file);
    return fclose(file) == 0 ? 0 : 1;
}
