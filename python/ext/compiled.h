/* SPDX-License-Identifier: MIT */
/* carvelle._compiled, shared by its files, from the bottom up: checks.c
 * (the Python checks and the error), platform.c (the library's file),
 * args.c (arguments by name into an element's values), writer.c (the
 * Writer type and the GIL), elements.c (one element call), batches.c (the
 * array writers), elements_generated.c (the element table and methods, from
 * scripts/generate-bindings), structure.c (the StructureBase type) and
 * module.c. */
#ifndef CARVELLE_PYTHON_COMPILED_H
#define CARVELLE_PYTHON_COMPILED_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "gds_api.h"

/* ------------------------------------------------------------ checks.c */

/* carvelle._errors.Error, and the Python checks that slow paths fall back
 * on, so that both backends refuse the same values the same way. */
typedef struct {
    PyObject *error, *range_error;
    PyObject *i32, *w16, *u16, *c16, *dim, *real, *mag, *text, *pair, *columns;
    PyObject *user_value, *user_pair, *user_columns; /* carvelle._units */
    PyObject *properties;                            /* carvelle._values: checked (attribute, bytes) pairs */
} Checks;
extern Checks checks;

PyObject *raise_error(int32_t code, const char *function, Py_ssize_t index);
/* The error of a call on a structure whose library has been closed. */
PyObject *raise_closed(const char *function);
/* Takes the checks from carvelle's Python modules, once, at import. */
int import_checks(void);

/* ------------------------------------------------------------ platform.c */

/* library_path(): the file of the library this module calls. */
PyObject *library_path(PyObject *module, PyObject *unused);

/* ------------------------------------------------------------ writer.c */

/* Calls of several threads on one writer run one after another. A call that
 * keeps the GIL throughout (an element) needs only the GIL; one that lets
 * it go (a batch, begin, end) also holds `lock` and sets `busy`, and any
 * call that finds it busy waits for the lock with the GIL released. */
typedef struct {
    PyObject_HEAD
        GdsHandle handle;
    long open_serial; /* serial of the open structure, 0 for none */
    long serials;
    int busy;                       /* a call is writing with the GIL released */
    unsigned long owner;            /* the thread of that call */
    PyThread_type_lock lock;        /* held by that call */
    PyObject *referenced, *defined; /* sets of bytes */
} Writer;

extern PyTypeObject writer_type;

/* Waits, the GIL released, until no call of another thread is writing;
 * -1 (RuntimeError) when the writing call is this thread's own (a signal
 * handler run in the middle of a batch). */
int wait_idle(Writer *writer);
/* Waits for the writer, marks it busy and releases the GIL; undone by writer_release. */
PyThreadState *writer_hold(Writer *writer);
void writer_release(Writer *writer, PyThreadState *state);
/* Reacquires the GIL in the middle of a held call, runs the signal handlers
 * and lets it go again; -1 when a handler raised (KeyboardInterrupt). */
int writer_check_signals(Writer *writer, PyThreadState **state);

/* ------------------------------------------------------------ structure.c */

typedef struct {
    PyObject_HEAD
        Writer *writer;
    long serial;
    double scale; /* 0: the integer door; else database units per user unit */
} Structure;

extern PyTypeObject structure_type;

/* Interns the table's names and readies the type. */
int structure_prepare(void);

/* ------------------------------------------------------------ args.c */

enum Kind { COORD,
            I32,
            W16,
            U16,
            C16,
            DIM,
            REAL,
            MAG,
            TEXT,
            POINTS,
            YS,
            PAIR,
            PROPS };

#define MOST_PARAMS 14
#define STACK_POINTS 64
/* Attribute numbers run from 1 to 127, each at most once per element. */
#define MOST_PROPERTIES 127

typedef struct {
    const char *name;
    enum Kind kind;
    double fallback;   /* when not given */
    const char *alias; /* a second keyword name, or NULL */
    size_t offset;     /* of its field in the element's values; 0 for points, ys, pairs and properties */
} Param;

struct Call;

/* One element: its parameters in the order of the C function. The first
 * `positional` may be given by position, the rest only by keyword. Each
 * element has a struct of its own with one field per parameter, `size`
 * bytes, which `call` passes to the C function by name. */
typedef struct {
    const char *method, *function;
    int positional, count;
    int reference; /* notes its first parameter, a structure's name */
    size_t size;
    int32_t (*call)(const struct Call *c, const void *values);
    Param params[MOST_PARAMS];
    PyObject *names[MOST_PARAMS], *aliases[MOST_PARAMS]; /* interned at import */
} Signature;

/* What one call needs beside the element's values: the handle, the point
 * columns, the three corners, and what must be released after. */
typedef struct Call {
    GdsHandle handle;
    const char *text;     /* the last TEXT, */
    Py_ssize_t text_size; /* and its length */
    PyObject *keep[5];
    int kept;
    const int32_t *xs, *ys;
    Py_ssize_t count;
    int32_t pair_x[4], pair_y[4];
    int32_t stack_x[STACK_POINTS], stack_y[STACK_POINTS];
    int32_t *heap; /* both columns, when the stack is too small */
    Py_buffer views[2];
    int viewed;
    /* The properties, written after the element; the values are kept. */
    int property_count;
    int16_t property_attributes[MOST_PROPERTIES];
    const char *property_values[MOST_PROPERTIES];
} Call;

/* A converted value into its named field of an element's values. By memcpy
 * at the field's offset: the field keeps the type its struct declares. */
static inline void put_integer(void *values, const Param *param, long long n) {
    char *field = (char *)values + param->offset;
    if (param->kind == COORD || param->kind == I32) {
        int32_t value = (int32_t)n;
        memcpy(field, &value, sizeof value);
    } else {
        int16_t value = (int16_t)n;
        memcpy(field, &value, sizeof value);
    }
}
static inline void put_real(void *values, const Param *param, double value) {
    memcpy((char *)values + param->offset, &value, sizeof value);
}
static inline void put_text(void *values, const Param *param, const char *value) {
    memcpy((char *)values + param->offset, &value, sizeof value);
}

/* Binds the arguments to the parameters by position and name, converts
 * them (scaled by `scale` in the user door) into the fields of `values`
 * and the columns and corners of c. */
int parse(const Signature *sig, double scale, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
          Call *c, void *values);
void release(Call *c);
int intern_names(Signature *sig);
/* The checked pairs of a properties mapping (None: none) into c, which keeps them. */
int read_properties(Call *c, PyObject *mapping, int reference);
/* The same from pairs already checked (a batch writer checks them once); steals pairs. */
int take_property_pairs(Call *c, PyObject *pairs);
/* GDS_Property for each of c's properties: the first code that is not GDS_OK. */
int32_t write_properties(const Call *c);
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

/* ------------------------------------------------------------ elements.c */

/* The handle of the open structure, when it is this one and no batch holds it. */
int structure_ready(Structure *self, const char *function, GdsHandle *handle);
/* Every element method: parse into values by its signature, make the one C call, report. */
PyObject *element(Structure *self, const Signature *sig, void *values, PyObject *const *args, Py_ssize_t nargs,
                  PyObject *kwnames);

/* ------------------------------------------------------------ batches.c */

/* _write_batch(method, *arrays): the batch writer of the element of that
 * name in `table`. */
PyObject *write_batch(Structure *self, Signature *const *table, int count, PyObject *const *args, Py_ssize_t nargs);

/* ------------------------------------------------------------ elements_generated.c */

/* The element table, in the order of carvelle._elements, and the methods of
 * StructureBase (the elements and _write_batch). */
extern Signature *const signatures[];
extern const int signature_count;
extern PyMethodDef element_methods[];

#endif
