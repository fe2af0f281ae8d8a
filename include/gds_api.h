/* SPDX-License-Identifier: MIT */
/**
 * @defgroup carvelle Streaming GDSII writer with a plain C ABI
 *
 * Carvelle writes GDSII stream files (stream version 3). A library is begun
 * with GDS_BeginLib(), filled with structures (GDS_BeginStructure(),
 * GDS_EndStructure()) and their elements, and ended with GDS_EndLib(). Every
 * call appends its records to the file at once; nothing is kept in memory but
 * a 1 MiB output buffer and the names of the structures begun so far (and,
 * for a name ending in `.gz` or `.oas`, the pieces being compressed, and for
 * `.oas` the cell names and text strings: see GDS_BeginLib()).
 *
 * Every function returns a result code: #GDS_OK or one of the GDS_ERR_ codes
 * below; GDS_GetError() gives its message. A call runs all its checks before
 * it writes its first byte: a refused call leaves the file and the handle's
 * state exactly as they were. The checks run in a fixed order: the handle
 * (1); the state (5, 6, 7, 8); the call's own counts and text checks (10,
 * 11, 12, 15, 16, 17); null names (13), names too long (14), reals or curve
 * samples out of range (2), null point arrays (19); last, a file that has
 * already failed (18). GDS_Property() tests the state (5, 20), a null value
 * (13), the format's limits (21), then the file (18).
 *
 * Units: coordinates, widths and PLEX numbers are 32-bit signed integers in
 * database units. Layer, type, count and bit-word parameters are 16-bit: only
 * those 16 bits reach the file. Angles are in degrees. Reals (units, mag,
 * angle) must be finite and below 2^252 in magnitude; NaN and magnitudes
 * below 2^-260 are written as zero, every other double exactly.
 *
 * Threads: a handle must not be used by two threads at once; separate
 * handles may run on separate threads.
 *
 * Fork: a library belongs to the process that began it. In the child of a
 * fork (a multiprocessing worker, a pre-forking server) every call on a
 * library begun before the fork writes, flushes and waits for nothing and
 * returns #GDS_ERR_STOPPED: GDS_EndLib() there only frees the child's copy
 * of the handle and closes its descriptor (a `.gz` or `.oas` library's worker
 * threads do not exist in the child and are not waited for), so a child may
 * end it, exit or leave it as it likes. The parent writes on and ends the file
 * as if no fork had happened. A child may begin libraries of its own.
 *
 * Functions, each with its own page: GDS_BeginLib(3), GDS_EndLib(3),
 * GDS_BeginStructure(3), GDS_EndStructure(3), GDS_Boundary(3), GDS_Box(3),
 * GDS_BoxWH(3), GDS_Square(3), GDS_Path(3), GDS_Circle(3), GDS_Arc(3),
 * GDS_Sector(3), GDS_Text(3), GDS_Sref(3), GDS_Aref(3), GDS_Node(3),
 * GDS_GetError(3); and, added since, GDS_Property(3) and GDS_BeginLibAt(3).
 *
 * Time: BGNLIB and every BGNSTR carry the local time of the call, unless the
 * environment variable SOURCE_DATE_EPOCH, read by GDS_BeginLib(), holds a
 * decimal number of seconds since 1970-01-01 00:00:00 UTC (digits only, at
 * most 253402300799): then every one of them is that moment in UTC, and two
 * runs of the same calls give the same bytes. Any other value is ignored (the
 * local time is written). GDS_BeginLibAt() fixes the moment for one library
 * without the environment.
 *
 * Include `<gds_api.h>` and link with `-lcarvelle` (`pkg-config --cflags --libs carvelle`) or, in CMake,
 * `find_package(Carvelle)` and the target `Carvelle::carvelle`.
 * @{
 */
#ifndef CARVELLE_GDS_API_H
#define CARVELLE_GDS_API_H

#include <stdint.h>

/** Major version: changes when the ABI breaks; also the shared library's SOVERSION. */
#define CARVELLE_VERSION_MAJOR 1
/** Minor version: changes when functions or result codes are added. */
#define CARVELLE_VERSION_MINOR 2
/** Patch version: changes for fixes that keep the interface. */
#define CARVELLE_VERSION_PATCH 2

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
/** Marks the exported functions: dllimport/dllexport on Windows, default visibility elsewhere. */
#define GDS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Opaque handle of one library being written, from GDS_BeginLib() until GDS_EndLib(). */
typedef struct GdsLibrary *GdsHandle;

/** Result codes, returned by every function. The numbers are stable. */
enum GdsResultCode {
    GDS_OK = 0,                    /**< Success: the call did all it was asked. */
    GDS_ERR_HANDLE = 1,            /**< Null handle, or no memory for a new library or a structure name. */
    GDS_ERR_RANGE = 2,             /**< A real or a curve sample outside what the file can hold. */
    GDS_ERR_OPEN = 3,              /**< The output file cannot be opened (or its name is null or too long). */
    GDS_ERR_STARTED = 4,           /**< Returned by no function; kept for its number. */
    GDS_ERR_STOPPED = 5,           /**< The library is not open: its GDS_BeginLib() failed, or a fork child. */
    GDS_ERR_STRUCT_NOT_CLOSED = 6, /**< GDS_EndLib() while a structure is open. */
    GDS_ERR_STRUCT_OPEN = 7,       /**< GDS_BeginStructure() while a structure is open. */
    GDS_ERR_STRUCT_NOT_OPEN = 8,   /**< GDS_EndStructure() or an element with no structure open. */
    GDS_ERR_STRUCT_DUPLICATE = 9,  /**< Structure name already begun in this library. */
    GDS_ERR_TOO_MANY_POINTS = 10,  /**< BOUNDARY or curve count above 8189. */
    GDS_ERR_TOO_FEW_POINTS = 11,   /**< BOUNDARY or curve count below 3. */
    GDS_ERR_PATH_POINTS = 12,      /**< PATH count below 2. */
    GDS_ERR_NO_STRING = 13,        /**< Null text or name. */
    GDS_ERR_STRING_LENGTH = 14,    /**< Text above 512 bytes, name above 65530 bytes. */
    GDS_ERR_TEXTTYPE = 15,         /**< Texttype outside 0 to 255. */
    GDS_ERR_NODE_TOO_MANY = 16,    /**< NODE count above 50. */
    GDS_ERR_NODE_TOO_FEW = 17,     /**< NODE count below 1. */
    GDS_ERR_WRITE = 18,            /**< The file could not be written, flushed or closed, in this call or before. */
    GDS_ERR_NO_POINTS = 19,        /**< Null point array. */
    GDS_ERR_NO_ELEMENT = 20,       /**< GDS_Property() not right after an element written. */
    GDS_ERR_PROPERTY = 21          /**< A property outside the format's limits: see GDS_Property(). */
};

/** Number of result codes: GDS_GetError() knows 0 to GDS_RESULT_CODE_COUNT - 1. */
#define GDS_RESULT_CODE_COUNT 22

/** Largest buffer that GDS_GetError() needs, terminator included. */
#define GDS_ERROR_BUFFER_SIZE 56

/** @} */

/** @defgroup GDS_BeginLib Begin a GDSII library file
 * @{ */
/**
 * Creates or truncates @p fileName and writes HEADER, BGNLIB (the local time,
 * or SOURCE_DATE_EPOCH's: see the top of this page), LIBNAME and UNITS. The handle is stored in @p *outHandle before the file is
 * opened, so it must be released with GDS_EndLib() whatever this returns,
 * except #GDS_ERR_HANDLE.
 *
 * A name that ends in `.gz`, in any case, gives a gzip file (one member,
 * RFC 1952) whose decompressed bytes are exactly those that the same calls
 * write to a plain file. Worker threads compress it while the calls go on:
 * as many as the cores available (at most 16), or the number 1 to 16 in the
 * environment variable CARVELLE_GZIP_THREADS, read here; 1 starts no thread.
 * Such a library keeps under 50 MiB in memory whatever its size. A
 * plain name starts no thread. A build without a deflate library refuses a
 * `.gz` name with #GDS_ERR_OPEN.
 *
 * A name that ends in `.oas`, in any case, gives a strict OASIS 1.0 file
 * from the same calls: the cell records in call order, compressed in CBLOCKs
 * by the same worker threads (without a deflate library: not compressed),
 * the cell-name and text-string tables before END, and a CRC-32 signature.
 * Memory grows with the distinct cell names and text strings only (about
 * 100 bytes each plus their length). What OASIS cannot hold is refused with
 * #GDS_ERR_RANGE: odd path widths, round path ends, absolute magnification
 * or angle, magnifications not above 0, arrays whose corners are not whole
 * steps away, names outside printable ASCII (or with a space), texts outside
 * printable ASCII; ELFLAGS, PLEX, NODE and a text's presentation and
 * transformation are dropped. The user unit is not kept.
 *
 * @param fileName  path of the file, also written as LIBNAME: at most 65530 bytes.
 * @param userUnit  size of a database unit in user units (0.001 for a user unit of 1000 database units).
 * @param meterUnit size of a database unit in meters (1e-9 for 1 nm).
 * @param outHandle receives the new handle.
 * @retval GDS_OK         0: the library is open.
 * @retval GDS_ERR_HANDLE 1: @p outHandle is null or there is no memory; nothing stored.
 * @retval GDS_ERR_RANGE  2: a unit is infinite or of magnitude 2^252 or more, or (for `.oas`)
 *                          @p meterUnit gives fewer than 1e-6 grid steps per micrometre; no file created.
 * @retval GDS_ERR_OPEN   3: @p fileName is null, too long or cannot be opened, or ends in `.gz` in a
 *                          build without compression or without memory for it; no file created.
 */
GDS_API int32_t GDS_BeginLib(const char *fileName, double userUnit, double meterUnit,
                             GdsHandle *outHandle);
/** @} */

/** @defgroup GDS_BeginLibAt Begin a GDSII library file with a fixed time
 * @{ */
/** Argument of GDS_BeginLibAt(): every timestamp word zero, as tools write that leave the time out. */
#define GDS_TIME_ZERO (-1)
/**
 * GDS_BeginLib(), except that BGNLIB and every BGNSTR of this library carry
 * the moment @p time, in UTC, whatever the clock and SOURCE_DATE_EPOCH say.
 * A host that writes several libraries at once, on several threads, fixes
 * each one's time here instead of in the environment the threads share.
 *
 * @param fileName  as for GDS_BeginLib().
 * @param userUnit  as for GDS_BeginLib().
 * @param meterUnit as for GDS_BeginLib().
 * @param time      seconds since 1970-01-01 00:00:00 UTC, 0 to 253402300799 (9999-12-31 23:59:59);
 *                  or #GDS_TIME_ZERO for twelve zero words (year 1900, month 0, day 0).
 * @param outHandle as for GDS_BeginLib().
 * @return the codes of GDS_BeginLib(); #GDS_ERR_RANGE also for a @p time outside the range above,
 *         tested before the file is created.
 */
GDS_API int32_t GDS_BeginLibAt(const char *fileName, double userUnit, double meterUnit, int64_t time,
                               GdsHandle *outHandle);
/** @} */

/** @defgroup GDS_EndLib End a GDSII library file and free its handle
 * @{ */
/**
 * Writes ENDLIB, flushes and closes the file, and frees the handle in every
 * case (except a null handle); the handle must not be used afterwards.
 *
 * With a structure open, GDS_EndLib writes ENDSTR and ENDLIB, closes the file,
 * frees the handle and returns #GDS_ERR_STRUCT_NOT_CLOSED, so the file stays
 * complete and readable; on a file that has already failed it writes nothing
 * more and returns #GDS_ERR_STRUCT_NOT_CLOSED.
 *
 * @param handle the library, from GDS_BeginLib().
 * @retval GDS_OK                    0: the file is complete and closed.
 * @retval GDS_ERR_HANDLE            1: @p handle is null.
 * @retval GDS_ERR_STOPPED           5: the library's GDS_BeginLib() failed, or this is the child of a
 *                                       fork made after it (nothing written); the handle is freed.
 * @retval GDS_ERR_STRUCT_NOT_CLOSED 6: a structure was open; it is ended as above.
 * @retval GDS_ERR_WRITE             18: some write, the flush, the close or (for a `.gz` or `.oas`
 *                                       name) a compression failed during the library's life. The
 *                                       worker threads of a `.gz` or `.oas` library are joined in
 *                                       every case.
 */
GDS_API int32_t GDS_EndLib(GdsHandle handle);
/** @} */

/** @defgroup GDS_BeginStructure Begin a structure (cell)
 * @{ */
/**
 * Writes BGNSTR (the time as for GDS_BeginLib()) and STRNAME. Elements go into the open
 * structure until GDS_EndStructure().
 *
 * @param handle the library.
 * @param name   the structure's name: any bytes, at most 65530, not begun before in this library.
 * @retval GDS_OK                   0: the structure is open.
 * @retval GDS_ERR_HANDLE           1: @p handle is null, or no memory for the name.
 * @retval GDS_ERR_STOPPED          5: the library is not open.
 * @retval GDS_ERR_STRUCT_OPEN      7: a structure is already open.
 * @retval GDS_ERR_STRUCT_DUPLICATE 9: @p name was begun before in this library.
 * @retval GDS_ERR_NO_STRING        13: @p name is null.
 * @retval GDS_ERR_STRING_LENGTH    14: @p name is longer than 65530 bytes.
 * @retval GDS_ERR_WRITE            18: the file has failed.
 */
GDS_API int32_t GDS_BeginStructure(GdsHandle handle, const char *name);
/** @} */

/** @defgroup GDS_EndStructure End the open structure
 * @{ */
/**
 * Writes ENDSTR. On a failed file the structure is still closed, without
 * ENDSTR, so that GDS_EndLib() reports the write failure.
 *
 * @param handle the library.
 * @retval GDS_OK                  0: the structure is ended.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_EndStructure(GdsHandle handle);
/** @} */

/** @defgroup GDS_Boundary Write a BOUNDARY (polygon) element
 * @{ */
/**
 * Writes a BOUNDARY of @p count vertices; the writer closes the ring by
 * repeating vertex 0, so the XY record holds count + 1 points.
 *
 * @param handle   the library, with a structure open.
 * @param xs       x of each vertex, database units: @p count values.
 * @param ys       y of each vertex, database units: @p count values.
 * @param count    number of vertices: 3 to 8189.
 * @param layer    LAYER, 16 bits.
 * @param datatype DATATYPE, 16 bits.
 * @param elflags  ELFLAGS bit word, 16 bits.
 * @param plex     PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_TOO_MANY_POINTS 10: @p count is above 8189.
 * @retval GDS_ERR_TOO_FEW_POINTS  11: @p count is below 3.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 * @retval GDS_ERR_NO_POINTS       19: @p xs or @p ys is null.
 */
GDS_API int32_t GDS_Boundary(GdsHandle handle, const int32_t *xs, const int32_t *ys,
                             int16_t count, int16_t layer, int16_t datatype,
                             int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Box Write a BOX element from two corners
 * @{ */
/**
 * Writes a BOX with corners (@p x1, @p y1) and (@p x2, @p y2), as the ring
 * (x1,y1) (x2,y1) (x2,y2) (x1,y2) (x1,y1).
 *
 * @param handle  the library, with a structure open.
 * @param x1      x of the first corner, database units.
 * @param y1      y of the first corner, database units.
 * @param x2      x of the opposite corner, database units.
 * @param y2      y of the opposite corner, database units.
 * @param layer   LAYER, 16 bits.
 * @param boxtype BOXTYPE, 16 bits.
 * @param elflags ELFLAGS bit word, 16 bits.
 * @param plex    PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Box(GdsHandle handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                        int16_t layer, int16_t boxtype, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_BoxWH Write a BOX element from a corner, width and height
 * @{ */
/**
 * Writes a BOX from corner (@p x, @p y) to (x + w, y + h), as GDS_Box() does.
 *
 * @param handle  the library, with a structure open.
 * @param x       x of the corner, database units.
 * @param y       y of the corner, database units.
 * @param w       width, database units; x + w wraps modulo 2^32.
 * @param h       height, database units; y + h wraps modulo 2^32.
 * @param layer   LAYER, 16 bits.
 * @param boxtype BOXTYPE, 16 bits.
 * @param elflags ELFLAGS bit word, 16 bits.
 * @param plex    PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_BoxWH(GdsHandle handle, int32_t x, int32_t y, int32_t w, int32_t h,
                          int16_t layer, int16_t boxtype, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Square Write a square BOX element
 * @{ */
/**
 * Writes a BOX from corner (@p x, @p y) to (x + side, y + side), as GDS_Box() does.
 *
 * @param handle  the library, with a structure open.
 * @param x       x of the corner, database units.
 * @param y       y of the corner, database units.
 * @param side    side length, database units; the sums wrap modulo 2^32.
 * @param layer   LAYER, 16 bits.
 * @param boxtype BOXTYPE, 16 bits.
 * @param elflags ELFLAGS bit word, 16 bits.
 * @param plex    PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Square(GdsHandle handle, int32_t x, int32_t y, int32_t side,
                           int16_t layer, int16_t boxtype, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Path Write a PATH (wire) element
 * @{ */
/**
 * Writes a PATH of @p count points. A path longer than one XY record can hold
 * is split into PATH elements of at most 8190 points that share their joint
 * points.
 *
 * @param handle   the library, with a structure open.
 * @param xs       x of each point, database units: @p count values.
 * @param ys       y of each point, database units: @p count values.
 * @param count    number of points: 2 to 32767.
 * @param width    WIDTH, database units, 32 bits (negative: absolute width, not scaled).
 * @param layer    LAYER, 16 bits.
 * @param datatype DATATYPE, 16 bits.
 * @param pathtype PATHTYPE, 16 bits (0 flush, 1 round, 2 half-width extension).
 * @param elflags  ELFLAGS bit word, 16 bits.
 * @param plex     PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_PATH_POINTS     12: @p count is below 2.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 * @retval GDS_ERR_NO_POINTS       19: @p xs or @p ys is null.
 */
GDS_API int32_t GDS_Path(GdsHandle handle, const int32_t *xs, const int32_t *ys,
                         int16_t count, int32_t width, int16_t layer, int16_t datatype,
                         int16_t pathtype, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Circle Write a circle as a BOUNDARY element
 * @{ */
/**
 * Writes a BOUNDARY of @p count points sampled on the circle, in equal angle
 * steps from angle 0; samples are truncated toward zero, by the same double
 * operations on every platform.
 *
 * @param handle   the library, with a structure open.
 * @param cx       x of the centre, database units.
 * @param cy       y of the centre, database units.
 * @param radius   radius, database units; centre plus or minus radius must fit 32 bits.
 * @param count    number of points: 3 to 8189.
 * @param layer    LAYER, 16 bits.
 * @param datatype DATATYPE, 16 bits.
 * @param elflags  ELFLAGS bit word, 16 bits.
 * @param plex     PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_RANGE           2: @p cx or @p cy plus or minus @p radius is outside the 32-bit range.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_TOO_MANY_POINTS 10: @p count is above 8189.
 * @retval GDS_ERR_TOO_FEW_POINTS  11: @p count is below 3.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Circle(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius,
                           int16_t count, int16_t layer, int16_t datatype,
                           int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Arc Write an arc as a PATH element
 * @{ */
/**
 * Writes one PATH of @p count points from @p startAngle towards @p endAngle
 * in @p count equal steps of (end - start) / count: the last point lies one
 * step short of @p endAngle. Samples are truncated toward zero.
 *
 * @param handle     the library, with a structure open.
 * @param cx         x of the centre, database units.
 * @param cy         y of the centre, database units.
 * @param radius     radius, database units; centre plus or minus radius must fit 32 bits.
 * @param startAngle angle of the first point, degrees, finite.
 * @param endAngle   angle the arc runs towards, degrees, finite.
 * @param count      number of points: 3 to 8189.
 * @param width      WIDTH, database units, 32 bits.
 * @param layer      LAYER, 16 bits.
 * @param datatype   DATATYPE, 16 bits.
 * @param pathtype   PATHTYPE, 16 bits.
 * @param elflags    ELFLAGS bit word, 16 bits.
 * @param plex       PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_RANGE           2: centre plus or minus radius outside the 32-bit range, or an angle not finite.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_TOO_MANY_POINTS 10: @p count is above 8189.
 * @retval GDS_ERR_TOO_FEW_POINTS  11: @p count is below 3.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Arc(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius,
                        double startAngle, double endAngle, int16_t count, int32_t width,
                        int16_t layer, int16_t datatype, int16_t pathtype,
                        int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Sector Write a circle sector as a BOUNDARY element
 * @{ */
/**
 * Writes a BOUNDARY of @p count vertices: the centre, then count - 1 arc
 * points from @p startAngle in steps of (end - start) / count. Samples are
 * truncated toward zero.
 *
 * @param handle     the library, with a structure open.
 * @param cx         x of the centre, database units.
 * @param cy         y of the centre, database units.
 * @param radius     radius, database units; centre plus or minus radius must fit 32 bits.
 * @param startAngle angle of the first arc point, degrees, finite.
 * @param endAngle   angle the arc runs towards, degrees, finite.
 * @param count      number of vertices, centre included: 3 to 8189.
 * @param layer      LAYER, 16 bits.
 * @param datatype   DATATYPE, 16 bits.
 * @param elflags    ELFLAGS bit word, 16 bits.
 * @param plex       PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_RANGE           2: centre plus or minus radius outside the 32-bit range, or an angle not finite.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_TOO_MANY_POINTS 10: @p count is above 8189.
 * @retval GDS_ERR_TOO_FEW_POINTS  11: @p count is below 3.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Sector(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius,
                           double startAngle, double endAngle, int16_t count,
                           int16_t layer, int16_t datatype, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Text Write a TEXT (label) element
 * @{ */
/**
 * Writes a TEXT element with all its records: LAYER, TEXTTYPE, PRESENTATION,
 * PATHTYPE, WIDTH, STRANS, MAG, ANGLE, XY and STRING, also when their values
 * are 0 (or 1.0 for MAG).
 *
 * @param handle       the library, with a structure open.
 * @param x            x of the text's origin, database units.
 * @param y            y of the text's origin, database units.
 * @param text         the string: any bytes, at most 512, NUL-terminated.
 * @param layer        LAYER, 16 bits.
 * @param texttype     TEXTTYPE: 0 to 255.
 * @param presentation PRESENTATION bit word (font, justification), 16 bits.
 * @param pathtype     PATHTYPE, 16 bits.
 * @param width        WIDTH, database units, 32 bits.
 * @param strans       STRANS bit word (reflection, absolute mag and angle), 16 bits.
 * @param mag          MAG, magnification: finite, below 2^252 in magnitude.
 * @param angle        ANGLE, degrees counterclockwise: finite, below 2^252 in magnitude.
 * @param elflags      ELFLAGS bit word, 16 bits.
 * @param plex         PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_RANGE           2: @p mag or @p angle is infinite or of magnitude 2^252 or more.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_NO_STRING       13: @p text is null.
 * @retval GDS_ERR_STRING_LENGTH   14: @p text is longer than 512 bytes.
 * @retval GDS_ERR_TEXTTYPE        15: @p texttype is outside 0 to 255.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Text(GdsHandle handle, int32_t x, int32_t y, const char *text,
                         int16_t layer, int16_t texttype, int16_t presentation,
                         int16_t pathtype, int32_t width, int16_t strans, double mag,
                         double angle, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Sref Write an SREF (structure placement) element
 * @{ */
/**
 * Writes an SREF placing the structure @p sname at (@p x, @p y), with STRANS,
 * MAG and ANGLE always written. The name is not looked up: it may name a
 * structure written later, or in another file.
 *
 * @param handle  the library, with a structure open.
 * @param sname   name of the placed structure: any bytes, at most 65530.
 * @param x       x of the placement, database units.
 * @param y       y of the placement, database units.
 * @param strans  STRANS bit word (reflection, absolute mag and angle), 16 bits.
 * @param mag     MAG, magnification: finite, below 2^252 in magnitude.
 * @param angle   ANGLE, degrees counterclockwise: finite, below 2^252 in magnitude.
 * @param elflags ELFLAGS bit word, 16 bits.
 * @param plex    PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_RANGE           2: @p mag or @p angle is infinite or of magnitude 2^252 or more.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_NO_STRING       13: @p sname is null.
 * @retval GDS_ERR_STRING_LENGTH   14: @p sname is longer than 65530 bytes.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 */
GDS_API int32_t GDS_Sref(GdsHandle handle, const char *sname, int32_t x, int32_t y,
                         int16_t strans, double mag, double angle, int16_t elflags,
                         int32_t plex);
/** @} */

/** @defgroup GDS_Aref Write an AREF (array placement) element
 * @{ */
/**
 * Writes an AREF of @p cols x @p rows instances of @p sname, with STRANS, MAG
 * and ANGLE always written. The name is not looked up.
 *
 * @param handle  the library, with a structure open.
 * @param sname   name of the placed structure: any bytes, at most 65530.
 * @param xs      x of the three array points, database units: the origin, the origin displaced by
 *                @p cols column pitches, and by @p rows row pitches.
 * @param ys      y of the same three points, database units.
 * @param cols    number of columns, 16 bits.
 * @param rows    number of rows, 16 bits.
 * @param strans  STRANS bit word (reflection, absolute mag and angle), 16 bits.
 * @param mag     MAG, magnification: finite, below 2^252 in magnitude.
 * @param angle   ANGLE, degrees counterclockwise: finite, below 2^252 in magnitude.
 * @param elflags ELFLAGS bit word, 16 bits.
 * @param plex    PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_RANGE           2: @p mag or @p angle is infinite or of magnitude 2^252 or more.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_NO_STRING       13: @p sname is null.
 * @retval GDS_ERR_STRING_LENGTH   14: @p sname is longer than 65530 bytes.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 * @retval GDS_ERR_NO_POINTS       19: @p xs or @p ys is null.
 */
GDS_API int32_t GDS_Aref(GdsHandle handle, const char *sname, const int32_t *xs,
                         const int32_t *ys, int16_t cols, int16_t rows, int16_t strans,
                         double mag, double angle, int16_t elflags, int32_t plex);
/** @} */

/** @defgroup GDS_Node Write a NODE (electrical net) element
 * @{ */
/**
 * Writes a NODE of @p count points.
 *
 * @param handle   the library, with a structure open.
 * @param xs       x of each point, database units: @p count values.
 * @param ys       y of each point, database units: @p count values.
 * @param count    number of points: 1 to 50.
 * @param layer    LAYER, 16 bits.
 * @param nodetype NODETYPE, 16 bits.
 * @param elflags  ELFLAGS bit word, 16 bits.
 * @param plex     PLEX number, 32 bits.
 * @retval GDS_OK                  0: written.
 * @retval GDS_ERR_HANDLE          1: @p handle is null.
 * @retval GDS_ERR_STRUCT_NOT_OPEN 8: no structure is open.
 * @retval GDS_ERR_NODE_TOO_MANY   16: @p count is above 50.
 * @retval GDS_ERR_NODE_TOO_FEW    17: @p count is below 1.
 * @retval GDS_ERR_WRITE           18: the file has failed.
 * @retval GDS_ERR_NO_POINTS       19: @p xs or @p ys is null.
 */
GDS_API int32_t GDS_Node(GdsHandle handle, const int32_t *xs, const int32_t *ys,
                         int16_t count, int16_t layer, int16_t nodetype, int16_t elflags,
                         int32_t plex);
/** @} */

/** @defgroup GDS_Property Attach a property to the element just written
 * @{ */
/**
 * Writes PROPATTR @p attribute and PROPVALUE @p value into the element that
 * the previous call on this handle wrote, before its ENDEL; call it again
 * for more properties of the same element. Only the call right after an
 * element's own call may do so: any other call in between (a refused one
 * too) leaves no element to attach to. The element is complete in the file
 * after each call: its ENDEL is written with it and moved behind each
 * property, so a host that stops at any point leaves no element open. A PATH
 * that GDS_Path() split into several elements gets the properties on its
 * last piece.
 *
 * The limits are those of the Calma GDSII Stream Format Manual (release 6.0,
 * PROPATTR and PROPVALUE), which strict readers hold to: attribute numbers
 * 1 to 127, each at most once per element; a value of at most 126 bytes; and
 * per element, the values' bytes (padded to even) plus 2 per property at most
 * 128, or 512 on an SREF or AREF. KLayout and gdspy read beyond them; a file
 * within them reads everywhere.
 *
 * @param handle    the library, right after an element's call that returned #GDS_OK.
 * @param attribute PROPATTR: 1 to 127, not given before to this element.
 * @param value     PROPVALUE: bytes up to the NUL, at most 126 (an odd length gets one NUL of padding).
 * @retval GDS_OK             0: written.
 * @retval GDS_ERR_HANDLE     1: @p handle is null.
 * @retval GDS_ERR_STOPPED    5: the library is not open.
 * @retval GDS_ERR_NO_STRING  13: @p value is null.
 * @retval GDS_ERR_WRITE      18: the file has failed.
 * @retval GDS_ERR_NO_ELEMENT 20: the previous call did not write an element.
 * @retval GDS_ERR_PROPERTY   21: @p attribute outside 1 to 127 or given before to this element, @p value
 *                              longer than 126 bytes, or the element's property bytes over 128 (512).
 */
GDS_API int32_t GDS_Property(GdsHandle handle, int16_t attribute, const char *value);
/** @} */

/** @defgroup GDS_GetError Copy the message of a result code
 * @{ */
/**
 * Copies the message of @p code with its NUL into @p buffer, never more than
 * @p bufferSize bytes: a short buffer gets the first bufferSize - 1 bytes and
 * a NUL. A null buffer, a bufferSize of 0 or less, or an unknown code leaves
 * the buffer untouched. Needs no handle; #GDS_ERROR_BUFFER_SIZE bytes hold
 * every message.
 *
 * @param code       a result code: 0 to GDS_RESULT_CODE_COUNT - 1.
 * @param buffer     receives the message.
 * @param bufferSize size of @p buffer in bytes.
 * @return @p code, in every case.
 */
GDS_API int32_t GDS_GetError(int32_t code, char *buffer, int32_t bufferSize);
/** @} */

#ifdef __cplusplus
}
#endif

#endif /* CARVELLE_GDS_API_H */
