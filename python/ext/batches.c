/* SPDX-License-Identifier: MIT */
/* The batch writers: one element's call over arrays that carvelle._batches
 * has checked, with the GIL released. The arrays follow the element's
 * Signature: its positional parameters as heads (a run of coordinates is
 * one (N, k) array, a text is bytes for all or a tuple of bytes, points are
 * vertices and offsets), then one column per keyword parameter, N values
 * or one for all. In the user door (scale not 0) coordinates are float64,
 * scaled and rounded here, element by element. */
#include "compiled.h"

#include <string.h>

/* Elements plus vertices written between two looks for signals. */
#define SIGNAL_WORK 65536

enum Form { MATRIX,
            TEXTS,
            RAGGED,
            COLUMN };

typedef struct {
    enum Form form;
    enum Kind kind;
    int k;     /* the first parameter it fills */
    int width; /* parameters it fills (MATRIX), or 1 */
    Py_buffer view, offsets;
    int viewed, offsets_viewed;
    Py_ssize_t step;   /* 1, or 0 for one value shared by all */
    Py_ssize_t length; /* strings given (TEXTS) */
    const char **strings;
    const char *name; /* for messages */
} Array;

typedef struct {
    Array arrays[MOST_PARAMS];
    int count;
    Py_ssize_t n;
    int32_t *scratch; /* the columns of the longest ragged element */
    int64_t most;
} Batch;

static void close_batch(Batch *b) {
    int a;
    for (a = 0; a < b->count; ++a) {
        if (b->arrays[a].viewed) PyBuffer_Release(&b->arrays[a].view);
        if (b->arrays[a].offsets_viewed) PyBuffer_Release(&b->arrays[a].offsets);
        PyMem_Free((void *)b->arrays[a].strings);
    }
    PyMem_Free(b->scratch);
}

static int refuse_arrays(const char *name) {
    PyErr_Format(PyExc_ValueError, "batch array %s must come from carvelle's checks", name);
    return -1;
}

static int view(PyObject *object, Py_buffer *out, Py_ssize_t itemsize, const char *name) {
    if (PyObject_GetBuffer(object, out, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return -1;
    if (out->itemsize != itemsize) {
        PyBuffer_Release(out);
        return refuse_arrays(name);
    }
    return 0;
}

static Py_ssize_t column_bytes(enum Kind kind, double scale) {
    switch (kind) {
        case COORD:
            return scale != 0.0 ? 8 : 4;
        case I32:
            return 4;
        case W16:
        case U16:
            return 2;
        case REAL:
        case MAG:
            return 8;
        default:
            return 0;
    }
}

/* Offsets rise from 0 to the vertex count by at most 32767; room for the
 * longest element's two columns. */
static int ragged_scratch(Batch *b, const Array *a) {
    const int64_t *offsets = a->offsets.buf;
    Py_ssize_t i, n = a->offsets.len / 8 - 1;
    b->most = 1;
    for (i = 0; i < n; ++i) {
        int64_t step = offsets[i + 1] - offsets[i];
        if (step < 0 || step > 32767) break;
        if (step > b->most) b->most = step;
    }
    if (n < 0 || i < n || offsets[0] != 0 || offsets[n] != a->view.len / a->view.itemsize / 2)
        return refuse_arrays("offsets");
    b->scratch = PyMem_Malloc(2 * (size_t)b->most * sizeof(int32_t));
    if (b->scratch == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    b->n = n;
    return 0;
}

static int open_head(Batch *b, const Signature *sig, int *k, PyObject *const *args, Py_ssize_t nargs, Py_ssize_t *at,
                     double scale) {
    Array *a = &b->arrays[b->count++];
    const Param *param = &sig->params[*k];
    memset(a, 0, sizeof *a);
    a->k = *k;
    a->kind = param->kind;
    a->name = param->name;
    a->width = 1;
    a->step = 1;
    if (*at + (param->kind == POINTS ? 2 : 1) > nargs) return refuse_arrays(param->name);
    if (param->kind == COORD) {
        a->form = MATRIX;
        a->name = "coordinates";
        while (*k + a->width < sig->positional && sig->params[*k + a->width].kind == COORD) a->width++;
        if (view(args[(*at)++], &a->view, scale != 0.0 ? 8 : 4, "of coordinates") < 0) return -1;
        a->viewed = 1;
        b->n = a->view.len / a->view.itemsize / a->width;
    } else if (param->kind == TEXT) {
        PyObject *value = args[(*at)++];
        Py_ssize_t i, count = PyTuple_CheckExact(value) ? PyTuple_GET_SIZE(value) : 1;
        a->form = TEXTS;
        a->length = count;
        a->strings = PyMem_Malloc((size_t)(count ? count : 1) * sizeof(char *));
        if (a->strings == NULL) return PyErr_NoMemory(), -1;
        a->step = PyTuple_CheckExact(value) ? 1 : 0;
        for (i = 0; i < count; ++i) {
            PyObject *item = a->step ? PyTuple_GET_ITEM(value, i) : value;
            if (!PyBytes_Check(item)) return refuse_arrays(param->name);
            a->strings[i] = PyBytes_AS_STRING(item); /* the caller keeps them while the GIL is released */
        }
    } else if (param->kind == POINTS) {
        a->form = RAGGED;
        a->name = "vertices";
        a->width = 2;
        if (view(args[(*at)++], &a->view, scale != 0.0 ? 8 : 4, "vertices") < 0) return -1;
        a->viewed = 1;
        if (view(args[(*at)++], &a->offsets, 8, "offsets") < 0) return -1;
        a->offsets_viewed = 1;
        if (ragged_scratch(b, a) < 0) return -1;
    } else {
        PyErr_Format(PyExc_TypeError, "%s() has no batch writer", sig->method);
        return -1;
    }
    *k += a->width;
    return 0;
}

static int open_batch(Batch *b, const Signature *sig, PyObject *const *args, Py_ssize_t nargs, double scale) {
    Py_ssize_t at = 0;
    int k = 0, a;
    /* Properties come last and are no column: one mapping for every row. */
    const int end = sig->params[sig->count - 1].kind == PROPS ? sig->count - 1 : sig->count;
    memset(b, 0, sizeof *b);
    b->n = -1;
    while (k < sig->positional)
        if (open_head(b, sig, &k, args, nargs, &at, scale) < 0) return -1;
    if (nargs - at != end - sig->positional) {
        PyErr_Format(PyExc_TypeError, "%s() batches take %d arrays", sig->method, (int)at + end - sig->positional);
        return -1;
    }
    for (; k < end; ++k) {
        Array *column = &b->arrays[b->count++];
        memset(column, 0, sizeof *column);
        column->form = COLUMN;
        column->width = 1;
        column->kind = sig->params[k].kind;
        column->k = k;
        column->name = sig->params[k].name;
        if (view(args[at++], &column->view, column_bytes(column->kind, scale), column->name) < 0) return -1;
        column->viewed = 1;
    }
    for (a = 0; a < b->count; ++a) { /* every array holds N values, or one for all */
        Array *array = &b->arrays[a];
        if (array->form == TEXTS && array->step == 0) continue;
        Py_ssize_t length = array->form == TEXTS    ? array->length
                            : array->form == RAGGED ? b->n
                                                    : array->view.len / array->view.itemsize / array->width;
        if (array->form == MATRIX && array->view.len != length * array->width * array->view.itemsize)
            return refuse_arrays(array->name);
        if (array->form == COLUMN && length == 1 && b->n != 1)
            array->step = 0;
        else if (length == b->n)
            array->step = array->form == TEXTS ? array->step : 1;
        else
            return refuse_arrays(array->name);
    }
    return 0;
}

/* Element i's values into values and c; 0, or a to_database failure (-1, -2). */
static int fill(const Batch *b, const Signature *sig, Call *c, void *values, Py_ssize_t i, double scale,
                const char **what) {
    int a, j;
    for (a = 0; a < b->count; ++a) {
        const Array *array = &b->arrays[a];
        Py_ssize_t at = i * array->step;
        if (at == 0 && i > 0 && (array->form == COLUMN || array->form == TEXTS))
            continue; /* one value for all: values holds it since element 0 */
        *what = array->name;
        switch (array->form) {
            case MATRIX:
                for (j = 0; j < array->width; ++j) {
                    int32_t value;
                    if (scale == 0.0) {
                        value = ((const int32_t *)array->view.buf)[at * array->width + j];
                    } else {
                        int failure = to_database(((const double *)array->view.buf)[at * array->width + j], scale, &value);
                        if (failure < 0) return failure;
                    }
                    put_integer(values, &sig->params[array->k + j], value);
                }
                break;
            case TEXTS:
                put_text(values, &sig->params[array->k], array->strings[at]);
                break;
            case RAGGED: {
                const int64_t *offsets = array->offsets.buf;
                int64_t v, start = offsets[i], end = offsets[i + 1];
                int32_t *xs = b->scratch, *ys = b->scratch + b->most;
                for (v = start; v < end; ++v) {
                    if (scale == 0.0) {
                        xs[v - start] = ((const int32_t *)array->view.buf)[2 * v];
                        ys[v - start] = ((const int32_t *)array->view.buf)[2 * v + 1];
                    } else {
                        const double *vertices = array->view.buf;
                        int failure = to_database(vertices[2 * v], scale, &xs[v - start]);
                        if (failure == 0) failure = to_database(vertices[2 * v + 1], scale, &ys[v - start]);
                        if (failure < 0) return failure;
                    }
                }
                c->xs = xs;
                c->ys = ys;
                c->count = end - start;
                break;
            }
            case COLUMN: {
                const Param *param = &sig->params[array->k];
                switch (array->kind) {
                    case W16:
                    case U16:
                        put_integer(values, param, ((const int16_t *)array->view.buf)[at]);
                        break;
                    case REAL:
                    case MAG:
                        put_real(values, param, ((const double *)array->view.buf)[at]);
                        break;
                    case COORD:
                        if (scale != 0.0) {
                            int32_t value;
                            int failure = to_database(((const double *)array->view.buf)[at], scale, &value);
                            if (failure < 0) return failure;
                            put_integer(values, param, value);
                            break;
                        }
                        put_integer(values, param, ((const int32_t *)array->view.buf)[at]);
                        break;
                    default:
                        put_integer(values, param, ((const int32_t *)array->view.buf)[at]);
                        break;
                }
                break;
            }
        }
    }
    return 0;
}

/* The batch's Call keeps only its properties' pairs. */
static void release_properties(Call *c) {
    int i;
    for (i = 0; i < c->kept; ++i) Py_DECREF(c->keep[i]);
    c->kept = 0;
}

PyObject *write_batch(Structure *self, Signature *const *table, int count, PyObject *const *args, Py_ssize_t nargs) {
    const Signature *sig = NULL;
    Batch b;
    Call c;
    void *values;
    Py_ssize_t i, failed = -1, work;
    int32_t code = GDS_OK;
    int s, failure = 0, interrupted = 0;
    const char *what = "";
    PyThreadState *state;
    if (nargs < 2 || !PyUnicode_Check(args[0]))
        return PyErr_Format(PyExc_TypeError, "_write_batch takes a method name and properties");
    for (s = 0; s < count && sig == NULL; ++s)
        if (PyUnicode_CompareWithASCIIString(args[0], table[s]->method) == 0) sig = table[s];
    if (sig == NULL) return PyErr_Format(PyExc_TypeError, "no element %R", args[0]);
    c.kept = 0;
    Py_INCREF(args[1]);
    if (take_property_pairs(&c, args[1]) < 0) {
        release_properties(&c);
        return NULL;
    }
    values = PyMem_Malloc(sig->size); /* the element's struct of named values */
    if (values == NULL) {
        release_properties(&c);
        return PyErr_NoMemory();
    }
    /* Ready last: nothing between it and writer_hold lets the GIL go, so the
     * structure it found open is still open when the loop starts. */
    if (open_batch(&b, sig, args + 2, nargs - 2, self->scale) < 0 ||
        structure_ready(self, sig->function, &c.handle) < 0) {
        close_batch(&b);
        PyMem_Free(values);
        release_properties(&c);
        return NULL;
    }
    c.count = 0; /* set by ragged elements alone */
    state = writer_hold(self->writer);
    for (i = 0, work = 0; i < b.n; ++i) {
        failure = fill(&b, sig, &c, values, i, self->scale, &what);
        if (failure < 0) break;
        code = sig->call(&c, values);
        if (code == GDS_OK && c.property_count > 0) code = write_properties(&c);
        if (code != GDS_OK) break;
        /* Ctrl-C is seen within a few milliseconds, whatever the batch's
         * length: the GIL is taken back to run the handlers every
         * SIGNAL_WORK elements and vertices (a check costs about a
         * microsecond, an element some tens of nanoseconds). */
        work += 1 + c.count;
        if (work >= SIGNAL_WORK) {
            work = 0;
            if (writer_check_signals(self->writer, &state) < 0) {
                interrupted = 1;
                ++i; /* element i is written */
                break;
            }
        }
    }
    writer_release(self->writer, state);
    release_properties(&c);
    failed = i < b.n ? i : -1;
    PyMem_Free(values);
    /* Only a batch that wrote an element refers to its structure. */
    if (sig->reference && i > 0 && PySet_Add(self->writer->referenced, args[2]) < 0) {
        close_batch(&b);
        return NULL;
    }
    close_batch(&b);
    if (interrupted) return NULL;
    if (failure < 0) {
        refuse_scaled(failure, what, failed);
        return NULL;
    }
    if (failed >= 0) return raise_error(code, sig->function, failed);
    Py_RETURN_NONE;
}
