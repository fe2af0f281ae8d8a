/* SPDX-License-Identifier: MIT */
/* carvelle._compiled, shared by its files: writer.c (the Writer type and
 * the GIL), args.c (arguments by name into C values), elements.c (the
 * element table and methods), batches.c (the array writers) and module.c. */
#ifndef CARVELLE_PYTHON_COMPILED_H
#define CARVELLE_PYTHON_COMPILED_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <math.h>
#include <stdint.h>

#include "gds_api.h"

/* ------------------------------------------------------------ module.c */

/* carvelle._errors.Error, and the Python checks that slow paths fall back
 * on, so that both backends refuse the same values the same way. */
typedef struct {
    PyObject *error;
    PyObject *i32, *w16, *c16, *dim, *real, *mag, *text, *pair, *columns;
    PyObject *user_value, *user_pair, *user_columns; /* carvelle._units */
} Checks;
extern Checks checks;

PyObject *raise_error(int32_t code, const char *function, Py_ssize_t index);

/* ------------------------------------------------------------ writer.c */

typedef struct {
    PyObject_HEAD
        GdsHandle handle;
    long open_serial; /* serial of the open structure, 0 for none */
    long serials;
    int busy;                       /* a call is writing with the GIL released */
    PyObject *referenced, *defined; /* sets of bytes */
} Writer;

extern PyTypeObject writer_type;

int refuse_busy(Writer *writer);
/* Marks the writer busy and releases the GIL; undone by writer_release. */
PyThreadState *writer_hold(Writer *writer);
void writer_release(Writer *writer, PyThreadState *state);

/* ------------------------------------------------------------ elements.c */

typedef struct {
    PyObject_HEAD
        Writer *writer;
    long serial;
    double scale; /* 0: the integer door; else database units per user unit */
} Structure;

extern PyTypeObject structure_type;

/* Interns the table's names and gives each method its text signature. */
int structure_prepare(void);
/* The handle of the open structure, when it is this one and no batch holds it. */
int structure_ready(Structure *self, const char *function, GdsHandle *handle);

/* ------------------------------------------------------------ args.c */

enum Kind { COORD,
            I32,
            W16,
            C16,
            DIM,
            REAL,
            MAG,
            TEXT,
            POINTS,
            YS,
            PAIR };

#define MOST_PARAMS 14
#define STACK_POINTS 64

typedef struct {
    const char *name;
    enum Kind kind;
    double fallback;   /* when not given */
    const char *alias; /* a second keyword name, or NULL */
} Param;

struct Call;

/* One element: its parameters in the order of the C function. The first
 * `positional` may be given by position, the rest only by keyword. */
typedef struct {
    const char *method, *function, *doc;
    int positional, count;
    int reference; /* notes its first parameter, a structure's name */
    Param params[MOST_PARAMS];
    int32_t (*call)(const struct Call *c);
    PyObject *names[MOST_PARAMS], *aliases[MOST_PARAMS]; /* interned at import */
} Signature;

/* The converted arguments of one call, and what must be released after. */
typedef struct Call {
    GdsHandle handle;
    union {
        long long i;
        double d;
        const char *s;
    } v[MOST_PARAMS];
    Py_ssize_t text_size; /* of the last TEXT */
    PyObject *keep[4];
    int kept;
    const int32_t *xs, *ys;
    Py_ssize_t count;
    int32_t pair_x[4], pair_y[4];
    int32_t stack_x[STACK_POINTS], stack_y[STACK_POINTS];
    int32_t *heap; /* both columns, when the stack is too small */
    Py_buffer views[2];
    int viewed;
} Call;

static inline int32_t arg_i32(const Call *c, int k) { return (int32_t)c->v[k].i; }
static inline int16_t arg_w16(const Call *c, int k) { return (int16_t)c->v[k].i; }
static inline double arg_real(const Call *c, int k) { return c->v[k].d; }
static inline const char *arg_text(const Call *c, int k) { return c->v[k].s; }
static inline int16_t arg_count(const Call *c) { return (int16_t)c->count; }

/* Binds the arguments to the parameters by position and name, converts
 * them (scaled by `scale` in the user door) and leaves them in c. */
int parse(const Signature *sig, double scale, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
          Call *c);
void release(Call *c);
int intern_names(Signature *sig);
/* "name($self, a, b, *, c=0)\n--\n\ndoc", CPython's __text_signature__ form. */
char *text_signature(const Signature *sig);
/* A user-unit value in database units: value * scale rounded to the nearest
 * integer, halves away from zero; 0 when it is finite and fits 32 bits,
 * else -1 (not finite) or -2 (out of range). Inline: the batch loops call it
 * for every coordinate. */
static inline int to_database(double value, double scale, int32_t *out) {
    double scaled = value * scale, fraction;
    int64_t whole;
    if (!isfinite(scaled)) return -1;
    if (fabs(scaled) >= 4294967296.0) return -2;
    whole = (int64_t)scaled; /* truncates; scaled - whole is exact */
    fraction = scaled - (double)whole;
    if (fraction >= 0.5) whole += 1;
    if (fraction <= -0.5) whole -= 1;
    if (whole < INT32_MIN || whole > INT32_MAX) return -2;
    *out = (int32_t)whole;
    return 0;
}

/* Sets the exception for a to_database failure of `what` in element `index` (or -1). */
void refuse_scaled(int failure, const char *what, Py_ssize_t index);

/* ------------------------------------------------------------ batches.c */

/* _write_batch(method, *arrays): the batch writer of one element. */
PyObject *write_batch(Structure *self, PyObject *const *args, Py_ssize_t nargs);

/* elements.c: the element table, in the order of StructureBase's methods. */
extern Signature *const signatures[];
extern const int signature_count;

#endif
