/* SPDX-License-Identifier: MIT */
/*
 * Carvelle: a streaming GDSII (stream version 3) writer behind a plain C ABI.
 *
 * A library is begun with GDS_BeginLib, filled with structures and elements,
 * and ended with GDS_EndLib. Every call appends its records to the file at
 * once; nothing is kept in memory. Every function returns a result code
 * (GDS_OK or one of the GDS_ERR_ values below); GDS_GetError gives its text.
 *
 * Coordinates, widths and PLEX numbers are 32-bit signed integers in database
 * units. Layer, type, count and bit-word parameters are 16-bit: only those 16
 * bits reach the file. Angles are in degrees.
 *
 * A handle must not be used by two threads at once; separate handles may run
 * on separate threads.
 */
#ifndef CARVELLE_GDS_API_H
#define CARVELLE_GDS_API_H

#include <stdint.h>

#define CARVELLE_VERSION_MAJOR 1
#define CARVELLE_VERSION_MINOR 0
#define CARVELLE_VERSION_PATCH 0

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(CARVELLE_STATIC_DEFINE)
#define GDS_API
#elif defined(CARVELLE_BUILDING_LIBRARY)
#define GDS_API __declspec(dllexport)
#else
#define GDS_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define GDS_API __attribute__((visibility("default")))
#else
#define GDS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle of one library being written. */
typedef struct GdsLibrary *GdsHandle;

/* Result codes. The numbers are stable. */
enum GdsResultCode {
    GDS_OK = 0,                    /* "No error." */
    GDS_ERR_HANDLE = 1,            /* null handle, or no memory for a new library */
    GDS_ERR_RANGE = 2,             /* a real or a curve sample outside what the file can hold */
    GDS_ERR_OPEN = 3,              /* the output file cannot be opened */
    GDS_ERR_STARTED = 4,           /* returned by no function; kept for its number */
    GDS_ERR_STOPPED = 5,           /* the library is not open */
    GDS_ERR_STRUCT_NOT_CLOSED = 6, /* GDS_EndLib while a structure is open */
    GDS_ERR_STRUCT_OPEN = 7,       /* GDS_BeginStructure while a structure is open */
    GDS_ERR_STRUCT_NOT_OPEN = 8,   /* GDS_EndStructure or an element with no structure open */
    GDS_ERR_STRUCT_DUPLICATE = 9,  /* structure name already begun in this library */
    GDS_ERR_TOO_MANY_POINTS = 10,  /* BOUNDARY or curve count above 8189 */
    GDS_ERR_TOO_FEW_POINTS = 11,   /* BOUNDARY or curve count below 3 */
    GDS_ERR_PATH_POINTS = 12,      /* PATH count below 2 */
    GDS_ERR_NO_STRING = 13,        /* null text or name */
    GDS_ERR_STRING_LENGTH = 14,    /* text above 512 bytes, name above 65530 bytes */
    GDS_ERR_TEXTTYPE = 15,         /* texttype outside 0 to 255 */
    GDS_ERR_NODE_TOO_MANY = 16,    /* NODE count above 50 */
    GDS_ERR_NODE_TOO_FEW = 17,     /* NODE count below 1 */
    GDS_ERR_WRITE = 18,            /* the file could not be written, flushed or closed */
    GDS_ERR_NO_POINTS = 19         /* null point array */
};

/* Number of result codes: GetError knows 0 to GDS_RESULT_CODE_COUNT - 1. */
#define GDS_RESULT_CODE_COUNT 20

/* Largest buffer that GDS_GetError needs, terminator included. */
#define GDS_ERROR_BUFFER_SIZE 56

/* Begins a library: creates or truncates fileName and writes HEADER, BGNLIB,
 * LIBNAME (fileName as given, at most 65530 bytes) and UNITS (userUnit, then
 * meterUnit). The handle is stored in *outHandle before the file is opened,
 * so it must be released with GDS_EndLib whatever this returns, except 1.
 * Returns 0; 1 (outHandle null or no memory, nothing stored); 2 (a unit is
 * infinite or of magnitude 2^252 or more; no file created); 3 (fileName
 * null, too long or not openable; no file created). */
GDS_API int32_t GDS_BeginLib(const char *fileName, double userUnit, double meterUnit,
                             GdsHandle *outHandle);

/* Ends the library: writes ENDLIB, flushes and closes the file, and frees the
 * handle in every case (except a null handle). Returns 0; 1 (null handle);
 * 5 (library not open: its GDS_BeginLib failed); 6 (a structure is open: the
 * file is closed without ENDSTR and ENDLIB); 18 (some write, the flush or the
 * close failed during the library's life). */
GDS_API int32_t GDS_EndLib(GdsHandle handle);

/* Begins a structure named name (any bytes, at most 65530). Returns 0; 1; 5;
 * 7 (one is open); 13 (name null); 14 (name too long); 18 (file failed);
 * 9 (name already begun in this library). */
GDS_API int32_t GDS_BeginStructure(GdsHandle handle, const char *name);

/* Ends the open structure. Returns 0; 1; 8 (none open); 18. */
GDS_API int32_t GDS_EndStructure(GdsHandle handle);

/* BOUNDARY of count vertices (3 to 8189) from xs[i], ys[i]; the writer closes
 * the ring by repeating vertex 0. Returns 0; 1; 8; 10 (count > 8189);
 * 11 (count < 3); 19 (xs or ys null); 18. */
GDS_API int32_t GDS_Boundary(GdsHandle handle, const int32_t *xs, const int32_t *ys,
                             int16_t count, int16_t layer, int16_t datatype,
                             int16_t elflags, int32_t plex);

/* BOX with corners (x1, y1) and (x2, y2), written as the ring (x1,y1) (x2,y1)
 * (x2,y2) (x1,y2) (x1,y1). Returns 0; 1; 8; 18. */
GDS_API int32_t GDS_Box(GdsHandle handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                        int16_t layer, int16_t boxtype, int16_t elflags, int32_t plex);

/* BOX from corner (x, y) to (x + w, y + h); the sums wrap modulo 2^32.
 * Returns 0; 1; 8; 18. */
GDS_API int32_t GDS_BoxWH(GdsHandle handle, int32_t x, int32_t y, int32_t w, int32_t h,
                          int16_t layer, int16_t boxtype, int16_t elflags, int32_t plex);

/* BOX from corner (x, y) to (x + side, y + side); the sums wrap modulo 2^32.
 * Returns 0; 1; 8; 18. */
GDS_API int32_t GDS_Square(GdsHandle handle, int32_t x, int32_t y, int32_t side,
                           int16_t layer, int16_t boxtype, int16_t elflags, int32_t plex);

/* PATH of count points (2 to 32767), split into elements of at most 8190
 * points that share their joint points. Returns 0; 1; 8; 12 (count < 2);
 * 19 (xs or ys null); 18. */
GDS_API int32_t GDS_Path(GdsHandle handle, const int32_t *xs, const int32_t *ys,
                         int16_t count, int32_t width, int16_t layer, int16_t datatype,
                         int16_t pathtype, int16_t elflags, int32_t plex);

/* Circle of count points (3 to 8189) as a BOUNDARY. Returns 0; 1; 8; 10; 11;
 * 2 (cx or cy plus or minus radius outside the 32-bit range); 18. */
GDS_API int32_t GDS_Circle(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius,
                           int16_t count, int16_t layer, int16_t datatype,
                           int16_t elflags, int32_t plex);

/* Arc of count points (3 to 8189) as one PATH, from startAngle towards
 * endAngle (degrees) in count equal steps of (end - start) / count: the last
 * point lies one step short of endAngle. Returns 0; 1; 8; 10; 11; 2 (centre
 * plus or minus radius outside the 32-bit range, or an angle not finite); 18. */
GDS_API int32_t GDS_Arc(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius,
                        double startAngle, double endAngle, int16_t count, int32_t width,
                        int16_t layer, int16_t datatype, int16_t pathtype,
                        int16_t elflags, int32_t plex);

/* Sector as a BOUNDARY of count vertices (3 to 8189): the centre and count - 1
 * arc points from startAngle in steps of (end - start) / count.
 * Returns 0; 1; 8; 10; 11; 2; 18. */
GDS_API int32_t GDS_Sector(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius,
                           double startAngle, double endAngle, int16_t count,
                           int16_t layer, int16_t datatype, int16_t elflags, int32_t plex);

/* TEXT element. Returns 0; 1; 8; 13 (text null); 14 (text above 512 bytes);
 * 15 (texttype outside 0 to 255); 2 (mag or angle infinite or of magnitude
 * 2^252 or more); 18. */
GDS_API int32_t GDS_Text(GdsHandle handle, int32_t x, int32_t y, const char *text,
                         int16_t layer, int16_t texttype, int16_t presentation,
                         int16_t pathtype, int32_t width, int16_t strans, double mag,
                         double angle, int16_t elflags, int32_t plex);

/* SREF to the structure sname placed at (x, y). The name is not looked up.
 * Returns 0; 1; 8; 13 (sname null); 14 (sname above 65530 bytes); 2; 18. */
GDS_API int32_t GDS_Sref(GdsHandle handle, const char *sname, int32_t x, int32_t y,
                         int16_t strans, double mag, double angle, int16_t elflags,
                         int32_t plex);

/* AREF of cols x rows instances of sname; xs and ys hold exactly three points:
 * the origin, the origin displaced by cols column pitches, and by rows row
 * pitches. Returns 0; 1; 8; 13; 14; 2; 19 (xs or ys null); 18. */
GDS_API int32_t GDS_Aref(GdsHandle handle, const char *sname, const int32_t *xs,
                         const int32_t *ys, int16_t cols, int16_t rows, int16_t strans,
                         double mag, double angle, int16_t elflags, int32_t plex);

/* NODE of count points (1 to 50). Returns 0; 1; 8; 16 (count > 50);
 * 17 (count < 1); 19 (xs or ys null); 18. */
GDS_API int32_t GDS_Node(GdsHandle handle, const int32_t *xs, const int32_t *ys,
                         int16_t count, int16_t layer, int16_t nodetype, int16_t elflags,
                         int32_t plex);

/* Copies the message of code (0 to 19) with its NUL into buffer, never more
 * than bufferSize bytes: a short buffer gets the first bufferSize - 1 bytes
 * and a NUL. A null buffer, a bufferSize of 0 or less, or an unknown code
 * leaves the buffer untouched. Returns code in every case. Needs no handle;
 * GDS_ERROR_BUFFER_SIZE bytes hold every message. */
GDS_API int32_t GDS_GetError(int32_t code, char *buffer, int32_t bufferSize);

#ifdef __cplusplus
}
#endif

#endif /* CARVELLE_GDS_API_H */
