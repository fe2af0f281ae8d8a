/* SPDX-License-Identifier: MIT */
/* carvelle._compiled: the element writers of the Python package as direct
 * calls of the bundled library. The common call (plain ints, floats, str,
 * lists of pairs) is converted here; anything else goes to the checks in
 * carvelle._values, so both backends accept and refuse the same values with
 * the same exceptions. Batch writers loop over arrays that Python has
 * checked, with the GIL released. */
/* The layout is CPython's own (case labels flush with the switch, one-line
 * ifs, tables of signatures), which the library's style would rewrap around
 * CPython's statement macros. */
// clang-format off
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>
#include <stdint.h>
#include <string.h>

#include "gds_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

/* carvelle._errors.Error and the checks of carvelle._values. */
static PyObject *error_type, *check_i32, *check_w16, *check_c16, *check_real, *check_text, *check_pair,
    *point_columns;

static PyObject *raise_error(int32_t code, const char *function, Py_ssize_t index) {
    PyObject *error = index < 0 ? PyObject_CallFunction(error_type, "is", (int)code, function)
                                : PyObject_CallFunction(error_type, "isn", (int)code, function, index);
    if (error != NULL) {
        PyErr_SetObject((PyObject *)Py_TYPE(error), error);
        Py_DECREF(error);
    }
    return NULL;
}

/* ------------------------------------------------------------------ Writer */

typedef struct {
    PyObject_HEAD
    GdsHandle handle;
    long open_serial; /* serial of the open structure, 0 for none */
    long serials;
    int busy; /* a batch is writing with the GIL released */
    PyObject *referenced, *defined; /* sets of bytes */
} Writer;

static int refuse_busy(Writer *w) {
    if (w->busy) {
        PyErr_SetString(PyExc_RuntimeError, "the library is being written by a batch call in another thread");
        return -1;
    }
    return 0;
}

/* Calls that open, flush or close the file run without the GIL: a slow disk
 * or a pipe that this process itself reads must not stop the other threads.
 * Meanwhile the writer is busy, so no other thread can end or use it. */
#define WITHOUT_GIL(writer, call)             \
    do {                                      \
        (writer)->busy = 1;                   \
        Py_BEGIN_ALLOW_THREADS code = (call); \
        Py_END_ALLOW_THREADS                  \
        (writer)->busy = 0;                   \
    } while (0)

static int writer_init(Writer *self, PyObject *args, PyObject *kwds) {
    const char *path;
    double user_unit, meter_unit;
    GdsHandle handle = NULL;
    int32_t code;
    (void)kwds;
    if (self->handle != NULL || !PyArg_ParseTuple(args, "ydd", &path, &user_unit, &meter_unit)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "Writer is begun once");
        return -1;
    }
    Py_XSETREF(self->referenced, PySet_New(NULL));
    Py_XSETREF(self->defined, PySet_New(NULL));
    if (self->referenced == NULL || self->defined == NULL) return -1;
    WITHOUT_GIL(self, GDS_BeginLib(path, user_unit, meter_unit, &handle));
    if (code != GDS_OK) {
        if (handle != NULL) GDS_EndLib(handle); /* stored even when the file could not be begun */
        raise_error(code, "GDS_BeginLib", -1);
        return -1;
    }
    self->handle = handle;
    return 0;
}

static void writer_dealloc(Writer *self) {
    if (self->handle != NULL) GDS_EndLib(self->handle);
    Py_XDECREF(self->referenced);
    Py_XDECREF(self->defined);
    Py_TYPE(self)->tp_free((PyObject *)self);
}

static PyObject *writer_begin_structure(Writer *self, PyObject *name) {
    int32_t code;
    if (refuse_busy(self) < 0) return NULL;
    if (name != Py_None && !PyBytes_Check(name)) return PyErr_Format(PyExc_TypeError, "name must be bytes or None");
    WITHOUT_GIL(self, GDS_BeginStructure(self->handle, name == Py_None ? NULL : PyBytes_AS_STRING(name)));
    if (code != GDS_OK) return raise_error(code, "GDS_BeginStructure", -1);
    if (PySet_Add(self->defined, name) < 0) return NULL;
    self->open_serial = ++self->serials;
    return PyLong_FromLong(self->open_serial);
}

static PyObject *writer_end_structure(Writer *self, PyObject *unused) {
    int32_t code;
    (void)unused;
    if (refuse_busy(self) < 0) return NULL;
    self->open_serial = 0;
    WITHOUT_GIL(self, GDS_EndStructure(self->handle));
    if (code != GDS_OK) return raise_error(code, "GDS_EndStructure", -1);
    Py_RETURN_NONE;
}

static PyObject *writer_end_library(Writer *self, PyObject *unused) {
    GdsHandle handle = self->handle;
    int32_t code;
    (void)unused;
    if (refuse_busy(self) < 0) return NULL;
    self->handle = NULL;
    self->open_serial = 0;
    if (handle == NULL) Py_RETURN_NONE;
    WITHOUT_GIL(self, GDS_EndLib(handle));
    if (code != GDS_OK) return raise_error(code, "GDS_EndLib", -1);
    Py_RETURN_NONE;
}

static PyObject *writer_handle(Writer *self, void *closure) {
    (void)closure;
    if (self->handle == NULL) Py_RETURN_NONE;
    return PyLong_FromVoidPtr(self->handle);
}

static PyMethodDef writer_methods[] = {
    {"begin_structure", (PyCFunction)writer_begin_structure, METH_O, "Begins a structure; returns its serial."},
    {"end_structure", (PyCFunction)writer_end_structure, METH_NOARGS, "Ends the open structure."},
    {"end_library", (PyCFunction)writer_end_library, METH_NOARGS, "Ends the library and frees the handle."},
    {NULL, NULL, 0, NULL}};

static PyMemberDef writer_members[] = {
    {"open_serial", T_LONG, offsetof(Writer, open_serial), READONLY, NULL},
    {"referenced", T_OBJECT, offsetof(Writer, referenced), READONLY, NULL},
    {"defined", T_OBJECT, offsetof(Writer, defined), READONLY, NULL},
    {NULL, 0, 0, 0, NULL}};

static PyGetSetDef writer_getset[] = {{"handle", (getter)writer_handle, NULL, NULL, NULL},
                                      {NULL, NULL, NULL, NULL, NULL}};

static PyTypeObject writer_type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "carvelle._compiled.Writer",
    .tp_doc = "One library being written: its handle and the structure open in it.",
    .tp_basicsize = sizeof(Writer),
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)writer_init,
    .tp_dealloc = (destructor)writer_dealloc,
    .tp_methods = writer_methods,
    .tp_members = writer_members,
    .tp_getset = writer_getset,
};

/* ------------------------------------------------------- argument parsing */

enum Kind { I32, W16, C16, REAL, TEXT, POINTS, YS, PAIR };

#define MOST_PARAMS 14

typedef struct {
    const char *name;
    enum Kind kind;
    double fallback; /* when not given: 0, or 1.0 for mag */
} Param;

/* One Python method: its parameters in the order of the C function. The
 * first `required` must be given; the first `positional` may be given by
 * position; the rest are keyword-only. */
typedef struct {
    const char *method, *function;
    int required, positional, count;
    Param params[MOST_PARAMS];
    PyObject *names[MOST_PARAMS]; /* interned at import */
} Signature;

#define STACK_POINTS 64

/* The converted arguments of one call, and what must be released after. */
typedef struct {
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
    int32_t pair_x[3], pair_y[3];
    int32_t stack_x[STACK_POINTS], stack_y[STACK_POINTS];
    int32_t *heap; /* both columns, when the stack is too small */
    Py_buffer views[2];
    int viewed;
} Call;

static void release(Call *c) {
    int i;
    for (i = 0; i < c->kept; ++i) Py_DECREF(c->keep[i]);
    for (i = 0; i < c->viewed; ++i) PyBuffer_Release(&c->views[i]);
    PyMem_Free(c->heap);
}

static int keep(Call *c, PyObject *object) {
    c->keep[c->kept++] = object; /* at most one TEXT, points and a corner set per call */
    return 0;
}

/* An integer in [low, high] from an exact int, else by the Python check
 * (which refuses bool and floats, and takes numpy integers). */
static int integer(PyObject *value, long long low, long long high, PyObject *check, const char *what,
                   long long *out) {
    if (PyLong_CheckExact(value)) {
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (!overflow && n >= low && n <= high) {
            *out = n;
            return 0;
        }
    }
    {
        PyObject *checked = PyObject_CallFunction(check, "Os", value, what);
        if (checked == NULL) return -1;
        *out = PyLong_AsLongLong(checked);
        Py_DECREF(checked);
        return *out == -1 && PyErr_Occurred() ? -1 : 0;
    }
}

static int real(PyObject *value, const char *what, double *out) {
    PyObject *checked;
    if (PyFloat_CheckExact(value)) {
        *out = PyFloat_AS_DOUBLE(value);
        return 0;
    }
    checked = PyObject_CallFunction(check_real, "Os", value, what);
    if (checked == NULL) return -1;
    *out = PyFloat_AsDouble(checked);
    Py_DECREF(checked);
    return 0;
}

static int text(Call *c, PyObject *value, const char *what, const char **out) {
    Py_ssize_t size = 0;
    const char *data = NULL;
    if (value == NULL || value == Py_None) { /* not given, or None: the library refuses a null text */
        *out = NULL;
        return 0;
    }
    if (PyUnicode_CheckExact(value)) {
        data = PyUnicode_AsUTF8AndSize(value, &size);
        if (data == NULL) return -1;
    } else if (PyBytes_CheckExact(value)) {
        data = PyBytes_AS_STRING(value);
        size = PyBytes_GET_SIZE(value);
    }
    if (data == NULL || (Py_ssize_t)strlen(data) != size) {
        PyObject *checked = PyObject_CallFunction(check_text, "Os", value, what);
        if (checked == NULL) return -1;
        keep(c, checked);
        data = PyBytes_AS_STRING(checked);
        size = PyBytes_GET_SIZE(checked);
    }
    c->text_size = size;
    *out = data;
    return 0;
}

/* A list or tuple of (x, y) pairs of plain ints in range; 0 when the value
 * has another form (then Python converts it), -1 on a memory error. */
static int plain_pairs(Call *c, PyObject *points) {
    Py_ssize_t n, i;
    int32_t *xs, *ys;
    if (!PyList_CheckExact(points) && !PyTuple_CheckExact(points)) return 0;
    n = PySequence_Fast_GET_SIZE(points);
    if (n > 32767) return 0;
    if (n <= STACK_POINTS) {
        xs = c->stack_x;
        ys = c->stack_y;
    } else {
        c->heap = PyMem_Malloc(2 * (size_t)n * sizeof(int32_t));
        if (c->heap == NULL) {
            PyErr_NoMemory();
            return -1;
        }
        xs = c->heap;
        ys = c->heap + n;
    }
    for (i = 0; i < n; ++i) {
        PyObject *point = PySequence_Fast_GET_ITEM(points, i);
        PyObject *x, *y;
        long long vx, vy;
        int ox = 0, oy = 0;
        if (PyTuple_CheckExact(point) && PyTuple_GET_SIZE(point) == 2) {
            x = PyTuple_GET_ITEM(point, 0);
            y = PyTuple_GET_ITEM(point, 1);
        } else if (PyList_CheckExact(point) && PyList_GET_SIZE(point) == 2) {
            x = PyList_GET_ITEM(point, 0);
            y = PyList_GET_ITEM(point, 1);
        } else {
            return 0;
        }
        if (!PyLong_CheckExact(x) || !PyLong_CheckExact(y)) return 0;
        vx = PyLong_AsLongLongAndOverflow(x, &ox);
        vy = PyLong_AsLongLongAndOverflow(y, &oy);
        if (ox || oy || vx < INT32_MIN || vx > INT32_MAX || vy < INT32_MIN || vy > INT32_MAX) return 0;
        xs[i] = (int32_t)vx;
        ys[i] = (int32_t)vy;
    }
    c->xs = xs;
    c->ys = ys;
    c->count = n;
    return 1;
}

static int column_view(Call *c, PyObject *column) {
    Py_buffer *view = &c->views[c->viewed];
    if (PyObject_GetBuffer(column, view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return -1;
    c->viewed++;
    if (view->itemsize != 4) {
        PyErr_SetString(PyExc_TypeError, "point columns must hold 32-bit integers");
        return -1;
    }
    return 0;
}

static int points(Call *c, PyObject *value, PyObject *ys) {
    static const int32_t none[1] = {0}; /* a valid pointer for empty lists: the library reports the count */
    PyObject *columns;
    int plain = ys == NULL ? plain_pairs(c, value) : 0;
    if (plain != 0) return plain < 0 ? -1 : 0;
    columns = PyObject_CallFunctionObjArgs(point_columns, value, ys == NULL ? Py_None : ys, NULL);
    if (columns == NULL) return -1;
    keep(c, columns);
    if (!PyTuple_Check(columns) || PyTuple_GET_SIZE(columns) != 2) {
        PyErr_SetString(PyExc_TypeError, "int32_columns must return two columns");
        return -1;
    }
    if (column_view(c, PyTuple_GET_ITEM(columns, 0)) < 0 || column_view(c, PyTuple_GET_ITEM(columns, 1)) < 0)
        return -1;
    c->count = c->views[0].len / 4;
    c->xs = c->count ? c->views[0].buf : none;
    c->ys = c->count ? c->views[1].buf : none;
    return 0;
}

static int corner(Call *c, PyObject *value, const char *what, int k) {
    PyObject *checked = PyObject_CallFunction(check_pair, "Os", value, what);
    int ok;
    if (checked == NULL) return -1;
    ok = PyArg_ParseTuple(checked, "ii", &c->pair_x[k], &c->pair_y[k]);
    Py_DECREF(checked);
    return ok ? 0 : -1;
}

typedef struct {
    PyObject_HEAD
    Writer *writer;
    long serial;
} Structure;

/* Matches the arguments to the parameters, converts them into c, and checks
 * that the structure is still the open one. */
static int begin(Structure *self, Signature *sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                 Call *c) {
    PyObject *given[MOST_PARAMS] = {NULL};
    Py_ssize_t i, k;
    int corners = 0;
    c->kept = c->viewed = 0;
    c->heap = NULL;
    c->text_size = 0;
    memset(c->v, 0, sizeof c->v);
    if (nargs > sig->positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional arguments (%zd given)", sig->method,
                     sig->positional, nargs);
        return -1;
    }
    for (i = 0; i < nargs; ++i) given[i] = args[i];
    for (k = 0; kwnames != NULL && k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject *name = PyTuple_GET_ITEM(kwnames, k);
        int p;
        for (p = 0; p < sig->count && sig->names[p] != name; ++p) {}
        if (p == sig->count)
            for (p = 0; p < sig->count && PyUnicode_Compare(sig->names[p], name) != 0; ++p) {}
        if (p == sig->count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig->method, name);
            return -1;
        }
        if (given[p] != NULL) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig->method,
                         sig->params[p].name);
            return -1;
        }
        given[p] = args[nargs + k];
    }
    for (i = 0; i < sig->count; ++i) {
        const Param *param = &sig->params[i];
        PyObject *value = given[i];
        /* Points and corners have no default, whatever the signature says. */
        if (value == NULL && (i < sig->required || param->kind == POINTS || param->kind == PAIR)) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", sig->method, param->name);
            return -1;
        }
        switch (param->kind) {
        case I32:
            if (value == NULL) c->v[i].i = 0;
            else if (integer(value, INT32_MIN, INT32_MAX, check_i32, param->name, &c->v[i].i) < 0) return -1;
            break;
        case W16:
            if (value == NULL) c->v[i].i = 0;
            else if (integer(value, -32768, 65535, check_w16, param->name, &c->v[i].i) < 0) return -1;
            if (c->v[i].i > 32767) c->v[i].i -= 65536; /* the bits of an unsigned word */
            break;
        case C16:
            if (value == NULL) c->v[i].i = 0;
            else if (integer(value, -32768, 32767, check_c16, param->name, &c->v[i].i) < 0) return -1;
            break;
        case REAL:
            if (value == NULL) c->v[i].d = param->fallback;
            else if (real(value, param->name, &c->v[i].d) < 0) return -1;
            break;
        case TEXT:
            if (text(c, value, param->name, &c->v[i].s) < 0) return -1;
            break;
        case POINTS:
            if (points(c, value, given[i + 1] == Py_None ? NULL : given[i + 1]) < 0) return -1;
            break;
        case YS:
            break;
        case PAIR:
            if (corner(c, value, param->name, corners++) < 0) return -1;
            break;
        }
    }
    if (self->writer->open_serial != self->serial) {
        /* This structure has ended: do not write into whatever is open now. */
        raise_error(GDS_ERR_STRUCT_NOT_OPEN, sig->function, -1);
        return -1;
    }
    if (refuse_busy(self->writer) < 0) return -1;
    c->handle = self->writer->handle;
    return 0;
}

static PyObject *finish(Call *c, int32_t code, const char *function) {
    release(c);
    if (code != GDS_OK) return raise_error(code, function, -1);
    Py_RETURN_NONE;
}

/* ---------------------------------------------------------------- elements */

#define INT(name) {name, I32, 0.0}
#define WORD(name) {name, W16, 0.0}
#define ELEMENT_TAIL WORD("elflags"), INT("plex")

static Signature sig_boundary = {"boundary", "GDS_Boundary", 1, 2, 6,
    {{"points", POINTS, 0.0}, {"ys", YS, 0.0}, WORD("layer"), WORD("datatype"), ELEMENT_TAIL}, {NULL}};
static Signature sig_box = {"box", "GDS_Box", 4, 4, 8,
    {INT("x1"), INT("y1"), INT("x2"), INT("y2"), WORD("layer"), WORD("boxtype"), ELEMENT_TAIL}, {NULL}};
static Signature sig_box_wh = {"box_wh", "GDS_BoxWH", 4, 4, 8,
    {INT("x"), INT("y"), INT("w"), INT("h"), WORD("layer"), WORD("boxtype"), ELEMENT_TAIL}, {NULL}};
static Signature sig_square = {"square", "GDS_Square", 3, 3, 7,
    {INT("x"), INT("y"), INT("side"), WORD("layer"), WORD("boxtype"), ELEMENT_TAIL}, {NULL}};
static Signature sig_path = {"path", "GDS_Path", 1, 2, 8,
    {{"points", POINTS, 0.0}, {"ys", YS, 0.0}, INT("width"), WORD("layer"), WORD("datatype"), WORD("pathtype"),
     ELEMENT_TAIL}, {NULL}};
static Signature sig_circle = {"circle", "GDS_Circle", 4, 4, 8,
    {INT("cx"), INT("cy"), INT("radius"), {"count", C16, 0.0}, WORD("layer"), WORD("datatype"), ELEMENT_TAIL},
    {NULL}};
static Signature sig_arc = {"arc", "GDS_Arc", 6, 6, 12,
    {INT("cx"), INT("cy"), INT("radius"), {"start_angle", REAL, 0.0}, {"end_angle", REAL, 0.0},
     {"count", C16, 0.0}, INT("width"), WORD("layer"), WORD("datatype"), WORD("pathtype"), ELEMENT_TAIL}, {NULL}};
static Signature sig_sector = {"sector", "GDS_Sector", 6, 6, 10,
    {INT("cx"), INT("cy"), INT("radius"), {"start_angle", REAL, 0.0}, {"end_angle", REAL, 0.0},
     {"count", C16, 0.0}, WORD("layer"), WORD("datatype"), ELEMENT_TAIL}, {NULL}};
static Signature sig_text = {"text", "GDS_Text", 3, 3, 13,
    {INT("x"), INT("y"), {"text", TEXT, 0.0}, WORD("layer"), WORD("texttype"), WORD("presentation"),
     WORD("pathtype"), INT("width"), WORD("strans"), {"mag", REAL, 1.0}, {"angle", REAL, 0.0}, ELEMENT_TAIL},
    {NULL}};
static Signature sig_sref = {"sref", "GDS_Sref", 3, 3, 8,
    {{"sname", TEXT, 0.0}, INT("x"), INT("y"), WORD("strans"), {"mag", REAL, 1.0}, {"angle", REAL, 0.0},
     ELEMENT_TAIL}, {NULL}};
static Signature sig_aref = {"aref", "GDS_Aref", 6, 6, 11,
    {{"sname", TEXT, 0.0}, {"origin", PAIR, 0.0}, {"col_corner", PAIR, 0.0}, {"row_corner", PAIR, 0.0},
     WORD("cols"), WORD("rows"), WORD("strans"), {"mag", REAL, 1.0}, {"angle", REAL, 0.0}, ELEMENT_TAIL}, {NULL}};
static Signature sig_node = {"node", "GDS_Node", 1, 2, 6,
    {{"points", POINTS, 0.0}, {"ys", YS, 0.0}, WORD("layer"), WORD("nodetype"), ELEMENT_TAIL}, {NULL}};

static Signature *signatures[] = {&sig_boundary, &sig_box, &sig_box_wh, &sig_square, &sig_path, &sig_circle,
                                  &sig_arc, &sig_sector, &sig_text, &sig_sref, &sig_aref, &sig_node};

#define I(k) ((int32_t)c.v[k].i)
#define W(k) ((int16_t)c.v[k].i)
#define D(k) (c.v[k].d)
#define S(k) (c.v[k].s)
#define COUNT ((int16_t)c.count)

/* Each method: parse by its signature, make the one C call, report. */
#define ELEMENT(method, call)                                                                                  \
    static PyObject *s_##method(Structure *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) { \
        Call c;                                                                                                \
        if (begin(self, &sig_##method, args, nargs, kwnames, &c) < 0) {                                        \
            release(&c);                                                                                       \
            return NULL;                                                                                       \
        }                                                                                                      \
        return finish(&c, call, sig_##method.function);                                                       \
    }

ELEMENT(boundary, GDS_Boundary(c.handle, c.xs, c.ys, COUNT, W(2), W(3), W(4), I(5)))
ELEMENT(box, GDS_Box(c.handle, I(0), I(1), I(2), I(3), W(4), W(5), W(6), I(7)))
ELEMENT(box_wh, GDS_BoxWH(c.handle, I(0), I(1), I(2), I(3), W(4), W(5), W(6), I(7)))
ELEMENT(square, GDS_Square(c.handle, I(0), I(1), I(2), W(3), W(4), W(5), I(6)))
ELEMENT(path, GDS_Path(c.handle, c.xs, c.ys, COUNT, I(2), W(3), W(4), W(5), W(6), I(7)))
ELEMENT(circle, GDS_Circle(c.handle, I(0), I(1), I(2), W(3), W(4), W(5), W(6), I(7)))
ELEMENT(arc, GDS_Arc(c.handle, I(0), I(1), I(2), D(3), D(4), W(5), I(6), W(7), W(8), W(9), W(10), I(11)))
ELEMENT(sector, GDS_Sector(c.handle, I(0), I(1), I(2), D(3), D(4), W(5), W(6), W(7), W(8), I(9)))
ELEMENT(text, GDS_Text(c.handle, I(0), I(1), S(2), W(3), W(4), W(5), W(6), I(7), W(8), D(9), D(10), W(11),
                       I(12)))
ELEMENT(node, GDS_Node(c.handle, c.xs, c.ys, COUNT, W(2), W(3), W(4), I(5)))

/* References also note the name, for the library's list of undefined ones. */
static PyObject *noted(Structure *self, Call *c, const char *name, PyObject *result) {
    PyObject *data;
    if (result == NULL || name == NULL) return result;
    data = PyBytes_FromStringAndSize(name, c->text_size);
    if (data == NULL || PySet_Add(self->writer->referenced, data) < 0) {
        Py_XDECREF(data);
        Py_DECREF(result);
        return NULL;
    }
    Py_DECREF(data);
    return result;
}

#define REFERENCE(method, call)                                                                                \
    static PyObject *s_##method(Structure *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) { \
        Call c;                                                                                                \
        int32_t code;                                                                                          \
        PyObject *result;                                                                                      \
        if (begin(self, &sig_##method, args, nargs, kwnames, &c) < 0) {                                        \
            release(&c);                                                                                       \
            return NULL;                                                                                       \
        }                                                                                                      \
        code = call;                                                                                           \
        result = code == GDS_OK ? (Py_INCREF(Py_None), noted(self, &c, S(0), Py_None)) : NULL;                            \
        release(&c);                                                                                           \
        return code == GDS_OK ? result : raise_error(code, sig_##method.function, -1);                         \
    }

REFERENCE(sref, GDS_Sref(c.handle, S(0), I(1), I(2), W(3), D(4), D(5), W(6), I(7)))
REFERENCE(aref, GDS_Aref(c.handle, S(0), c.pair_x, c.pair_y, W(4), W(5), W(6), D(7), D(8), W(9), I(10)))

/* ---------------------------------------------------------------- batches */

/* A checked array: `per` values for each of N elements, or (per 1) a single
 * value that every element shares; per 0 leaves the length to the caller. */
typedef struct {
    Py_buffer view;
    Py_ssize_t step;
} Column;

#define AT(column, type, i) (((const type *)(column).view.buf)[(i) * (column).step])

static void close_columns(Column *columns, int count) {
    int k;
    for (k = 0; k < count; ++k) PyBuffer_Release(&columns[k].view);
}

static int open_columns(PyObject *const *objects, const Py_ssize_t *sizes, const Py_ssize_t *per, int count,
                        Py_ssize_t n, Column *out) {
    int k;
    for (k = 0; k < count; ++k) {
        Py_ssize_t length;
        if (PyObject_GetBuffer(objects[k], &out[k].view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
            close_columns(out, k);
            return -1;
        }
        length = out[k].view.len / sizes[k];
        if (out[k].view.itemsize != sizes[k] || (per[k] > 0 && length != per[k] * n && !(per[k] == 1 && length == 1))) {
            PyErr_SetString(PyExc_ValueError, "batch arrays must come from carvelle's checks");
            close_columns(out, k + 1);
            return -1;
        }
        out[k].step = length == n ? 1 : 0;
    }
    return 0;
}

/* The handle of the open structure, when it is this one and no other batch
 * holds the writer. */
static int ready(Structure *self, const char *function, GdsHandle *handle) {
    if (self->writer->open_serial != self->serial) {
        raise_error(GDS_ERR_STRUCT_NOT_OPEN, function, -1);
        return -1;
    }
    if (refuse_busy(self->writer) < 0) return -1;
    *handle = self->writer->handle;
    return 0;
}

/* Runs `call` for i = 0 .. n - 1 with the GIL released, stopping at the
 * first refusal; leaves `failed` at its index (or -1) and `code` at its result. */
#define LOOP(n, call)                                                      \
    do {                                                                   \
        self->writer->busy = 1;                                            \
        Py_BEGIN_ALLOW_THREADS for (i = 0; i < (n); ++i) {                 \
            code = (call);                                                 \
            if (code != GDS_OK) {                                          \
                failed = i;                                                \
                break;                                                     \
            }                                                              \
        }                                                                  \
        Py_END_ALLOW_THREADS self->writer->busy = 0;                       \
    } while (0)

static PyObject *batch_result(int32_t code, const char *function, Py_ssize_t failed) {
    if (failed >= 0) return raise_error(code, function, failed);
    Py_RETURN_NONE;
}

static PyObject *s_write_boxes(Structure *self, PyObject *const *args, Py_ssize_t nargs) {
    static const Py_ssize_t sizes[] = {4, 2, 2, 2, 4}, per[] = {4, 1, 1, 1, 1};
    Column col[5];
    Py_ssize_t n, i, failed = -1;
    int32_t code = GDS_OK;
    const int32_t *r;
    GdsHandle h;
    if (nargs != 5) return PyErr_Format(PyExc_TypeError, "_write_boxes takes 5 arrays");
    n = PyObject_Length(args[0]);
    if (n < 0 || ready(self, "GDS_Box", &h) < 0 || open_columns(args, sizes, per, 5, n, col) < 0) return NULL;
    r = col[0].view.buf;
    LOOP(n, GDS_Box(h, r[4 * i], r[4 * i + 1], r[4 * i + 2], r[4 * i + 3], AT(col[1], int16_t, i),
                    AT(col[2], int16_t, i), AT(col[3], int16_t, i), AT(col[4], int32_t, i)));
    close_columns(col, 5);
    return batch_result(code, "GDS_Box", failed);
}

/* Copies the vertices of element i of an (M, 2) array into the two columns
 * that the library takes; returns their count. */
static int16_t split(const int32_t *vertices, const int64_t *offsets, Py_ssize_t i, int32_t *xs, int32_t *ys) {
    int64_t k, start = offsets[i], end = offsets[i + 1];
    for (k = start; k < end; ++k) {
        xs[k - start] = vertices[2 * k];
        ys[k - start] = vertices[2 * k + 1];
    }
    return (int16_t)(end - start);
}

/* Room for the longest element's two columns, after checking that the
 * offsets rise from 0 to the vertex count with steps of at most 32767. */
static int32_t *scratch_for(const int64_t *offsets, Py_ssize_t n, Py_ssize_t vertices, int64_t *most) {
    Py_ssize_t i;
    int32_t *scratch;
    *most = 1;
    for (i = 0; i < n; ++i) {
        int64_t step = offsets[i + 1] - offsets[i];
        if (step < 0 || step > 32767) break;
        if (step > *most) *most = step;
    }
    if (i < n || offsets[0] != 0 || offsets[n] != vertices) {
        PyErr_SetString(PyExc_ValueError, "batch offsets must come from carvelle's checks");
        return NULL;
    }
    scratch = PyMem_Malloc(2 * (size_t)*most * sizeof(int32_t));
    if (scratch == NULL) PyErr_NoMemory();
    return scratch;
}

/* BOUNDARY (is_path 0) or PATH elements from vertices, offsets and columns. */
static PyObject *ragged(Structure *self, PyObject *const *args, Py_ssize_t nargs, int is_path) {
    static const Py_ssize_t boundary_sizes[] = {4, 8, 2, 2, 2, 4}, path_sizes[] = {4, 8, 4, 2, 2, 2, 2, 4};
    const int count = is_path ? 8 : 6;
    const char *function = is_path ? "GDS_Path" : "GDS_Boundary";
    Py_ssize_t per[8] = {0, 0, 1, 1, 1, 1, 1, 1};
    Column col[8];
    Py_ssize_t n, i, failed = -1;
    int32_t code = GDS_OK;
    const int32_t *vertices;
    const int64_t *offsets;
    int32_t *xs, *ys;
    int64_t most;
    GdsHandle h;
    if (nargs != count) return PyErr_Format(PyExc_TypeError, "expected %d arrays", count);
    n = PyObject_Length(args[1]) - 1;
    if (n < 0 || ready(self, function, &h) < 0 ||
        open_columns(args, is_path ? path_sizes : boundary_sizes, per, count, n, col) < 0)
        return NULL;
    vertices = col[0].view.buf;
    offsets = col[1].view.buf;
    xs = scratch_for(offsets, n, col[0].view.len / 8, &most);
    if (xs == NULL) {
        close_columns(col, count);
        return NULL;
    }
    ys = xs + most;
    if (is_path)
        LOOP(n, GDS_Path(h, xs, ys, split(vertices, offsets, i, xs, ys), AT(col[2], int32_t, i),
                         AT(col[3], int16_t, i), AT(col[4], int16_t, i), AT(col[5], int16_t, i),
                         AT(col[6], int16_t, i), AT(col[7], int32_t, i)));
    else
        LOOP(n, GDS_Boundary(h, xs, ys, split(vertices, offsets, i, xs, ys), AT(col[2], int16_t, i),
                             AT(col[3], int16_t, i), AT(col[4], int16_t, i), AT(col[5], int32_t, i)));
    PyMem_Free(xs);
    close_columns(col, count);
    return batch_result(code, function, failed);
}

static PyObject *s_write_boundaries(Structure *self, PyObject *const *args, Py_ssize_t nargs) {
    return ragged(self, args, nargs, 0);
}

static PyObject *s_write_paths(Structure *self, PyObject *const *args, Py_ssize_t nargs) {
    return ragged(self, args, nargs, 1);
}

static PyObject *s_write_srefs(Structure *self, PyObject *const *args, Py_ssize_t nargs) {
    static const Py_ssize_t sizes[] = {4, 2, 8, 8, 2, 4}, per[] = {2, 1, 1, 1, 1, 1};
    Column col[6];
    Py_ssize_t n, i, failed = -1;
    int32_t code = GDS_OK;
    const int32_t *p;
    const char *name;
    GdsHandle h;
    if (nargs != 7 || !PyBytes_Check(args[0]))
        return PyErr_Format(PyExc_TypeError, "_write_srefs takes a name and 6 arrays");
    name = PyBytes_AS_STRING(args[0]);
    n = PyObject_Length(args[1]);
    if (n < 0 || ready(self, "GDS_Sref", &h) < 0 || open_columns(args + 1, sizes, per, 6, n, col) < 0) return NULL;
    p = col[0].view.buf;
    LOOP(n, GDS_Sref(h, name, p[2 * i], p[2 * i + 1], AT(col[1], int16_t, i), AT(col[2], double, i),
                     AT(col[3], double, i), AT(col[4], int16_t, i), AT(col[5], int32_t, i)));
    close_columns(col, 6);
    if (n > 0 && PySet_Add(self->writer->referenced, args[0]) < 0) return NULL;
    return batch_result(code, "GDS_Sref", failed);
}

static PyObject *s_write_texts(Structure *self, PyObject *const *args, Py_ssize_t nargs) {
    static const Py_ssize_t sizes[] = {4, 2, 2, 2, 2, 4, 2, 8, 8, 2, 4}, per[] = {2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    PyObject *arrays[11];
    Column col[11];
    Py_ssize_t n, i, failed = -1;
    int32_t code = GDS_OK;
    const int32_t *p;
    const char **strings;
    GdsHandle h;
    if (nargs != 12 || !PyTuple_CheckExact(args[1]))
        return PyErr_Format(PyExc_TypeError, "_write_texts takes positions, a tuple of strings and 10 arrays");
    arrays[0] = args[0];
    for (i = 1; i < 11; ++i) arrays[i] = args[i + 1];
    n = PyObject_Length(args[0]);
    if (n < 0 || ready(self, "GDS_Text", &h) < 0) return NULL;
    if (PyTuple_GET_SIZE(args[1]) != n) return PyErr_Format(PyExc_ValueError, "one string per position");
    strings = PyMem_Malloc((size_t)(n ? n : 1) * sizeof(char *));
    if (strings == NULL) return PyErr_NoMemory();
    for (i = 0; i < n; ++i) {
        PyObject *item = PyTuple_GET_ITEM(args[1], i);
        if (!PyBytes_Check(item)) {
            PyMem_Free(strings);
            return PyErr_Format(PyExc_TypeError, "strings must be bytes");
        }
        strings[i] = PyBytes_AS_STRING(item); /* the tuple keeps them while the GIL is released */
    }
    if (open_columns(arrays, sizes, per, 11, n, col) < 0) {
        PyMem_Free(strings);
        return NULL;
    }
    p = col[0].view.buf;
    LOOP(n, GDS_Text(h, p[2 * i], p[2 * i + 1], strings[i], AT(col[1], int16_t, i), AT(col[2], int16_t, i),
                     AT(col[3], int16_t, i), AT(col[4], int16_t, i), AT(col[5], int32_t, i), AT(col[6], int16_t, i),
                     AT(col[7], double, i), AT(col[8], double, i), AT(col[9], int16_t, i), AT(col[10], int32_t, i)));
    PyMem_Free(strings);
    close_columns(col, 11);
    return batch_result(code, "GDS_Text", failed);
}

/* -------------------------------------------------------------- Structure */

static int structure_init(Structure *self, PyObject *args, PyObject *kwds) {
    PyObject *writer;
    long serial;
    (void)kwds;
    if (!PyArg_ParseTuple(args, "O!l", &writer_type, &writer, &serial)) return -1;
    Py_INCREF(writer);
    Py_XSETREF(self->writer, (Writer *)writer);
    self->serial = serial;
    return 0;
}

static void structure_dealloc(Structure *self) {
    Py_XDECREF(self->writer);
    Py_TYPE(self)->tp_free((PyObject *)self);
}

#define FAST(method, doc) {#method, (PyCFunction)(void (*)(void))s_##method, METH_FASTCALL | METH_KEYWORDS, doc}
#define ARRAYS(method) {"_" #method, (PyCFunction)(void (*)(void))s_##method, METH_FASTCALL, NULL}

static PyMethodDef structure_methods[] = {
    FAST(boundary, "BOUNDARY through the points (3 to 8189; the library closes the ring)."),
    FAST(box, "BOX with corners (x1, y1) and (x2, y2)."),
    FAST(box_wh, "BOX from (x, y) to (x + w, y + h)."),
    FAST(square, "BOX from (x, y) to (x + side, y + side)."),
    FAST(path, "PATH through the points (2 to 32767)."),
    FAST(circle, "Circle of count points (3 to 8189) written as a BOUNDARY."),
    FAST(arc, "Arc of count points written as a PATH; angles in degrees."),
    FAST(sector, "Sector (the centre and count - 1 arc points) written as a BOUNDARY."),
    FAST(text, "TEXT element at (x, y); text is str (UTF-8) or bytes."),
    FAST(sref, "SREF placing the structure sname at (x, y)."),
    FAST(aref, "AREF of cols x rows instances of sname."),
    FAST(node, "NODE of 1 to 50 points."),
    ARRAYS(write_boxes),
    ARRAYS(write_boundaries),
    ARRAYS(write_paths),
    ARRAYS(write_srefs),
    ARRAYS(write_texts),
    {NULL, NULL, 0, NULL}};

static PyMemberDef structure_members[] = {
    {"_writer", T_OBJECT, offsetof(Structure, writer), READONLY, NULL},
    {"_serial", T_LONG, offsetof(Structure, serial), READONLY, NULL},
    {NULL, 0, 0, 0, NULL}};

static PyTypeObject structure_type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "carvelle._compiled.StructureBase",
    .tp_doc = "The element writers of an open structure (coordinates in database units).",
    .tp_basicsize = sizeof(Structure),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)structure_init,
    .tp_dealloc = (destructor)structure_dealloc,
    .tp_methods = structure_methods,
    .tp_members = structure_members,
};

/* ------------------------------------------------------------------ module */

static PyObject *error_message(PyObject *module, PyObject *code) {
    char buffer[GDS_ERROR_BUFFER_SIZE] = "";
    long long value;
    (void)module;
    if (integer(code, INT32_MIN, INT32_MAX, check_i32, "code", &value) < 0) return NULL;
    GDS_GetError((int32_t)value, buffer, (int32_t)sizeof buffer);
    return PyUnicode_DecodeASCII(buffer, (Py_ssize_t)strlen(buffer), "replace");
}

static PyObject *library_path(PyObject *module, PyObject *unused) {
    (void)module;
    (void)unused;
#ifdef _WIN32
    {
        HMODULE library = NULL;
        wchar_t name[32768];
        DWORD size;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                (LPCWSTR)(void *)&GDS_BeginLib, &library))
            return PyErr_SetFromWindowsErr(0);
        size = GetModuleFileNameW(library, name, 32768);
        return PyUnicode_FromWideChar(name, (Py_ssize_t)size);
    }
#else
    {
        Dl_info info;
        if (!dladdr((void *)&GDS_BeginLib, &info) || info.dli_fname == NULL)
            return PyErr_Format(PyExc_OSError, "the library's file is unknown");
        return PyUnicode_DecodeFSDefault(info.dli_fname);
    }
#endif
}

static PyMethodDef module_methods[] = {
    {"error_message", error_message, METH_O, "The library's message for a result code, '' when unknown."},
    {"library_path", library_path, METH_NOARGS, "The file of the library this module calls."},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "carvelle._compiled",
                                        "The element writers of carvelle as direct calls of the library.", -1,
                                        module_methods, NULL, NULL, NULL, NULL};

static int import_names(void) {
    PyObject *values = PyImport_ImportModule("carvelle._values");
    PyObject *errors = PyImport_ImportModule("carvelle._errors");
    int ok = values != NULL && errors != NULL && (error_type = PyObject_GetAttrString(errors, "Error")) != NULL &&
             (check_i32 = PyObject_GetAttrString(values, "i32")) != NULL &&
             (check_w16 = PyObject_GetAttrString(values, "w16")) != NULL &&
             (check_c16 = PyObject_GetAttrString(values, "c16")) != NULL &&
             (check_real = PyObject_GetAttrString(values, "real")) != NULL &&
             (check_text = PyObject_GetAttrString(values, "text_bytes")) != NULL &&
             (check_pair = PyObject_GetAttrString(values, "pair")) != NULL &&
             (point_columns = PyObject_GetAttrString(values, "int32_columns")) != NULL;
    Py_XDECREF(values);
    Py_XDECREF(errors);
    return ok ? 0 : -1;
}

static int intern_names(void) {
    size_t s;
    int p;
    for (s = 0; s < sizeof signatures / sizeof signatures[0]; ++s)
        for (p = 0; p < signatures[s]->count; ++p)
            if ((signatures[s]->names[p] = PyUnicode_InternFromString(signatures[s]->params[p].name)) == NULL)
                return -1;
    return 0;
}

PyMODINIT_FUNC PyInit__compiled(void) {
    PyObject *module;
    if (import_names() < 0 || intern_names() < 0 || PyType_Ready(&writer_type) < 0 ||
        PyType_Ready(&structure_type) < 0)
        return NULL;
    module = PyModule_Create(&module_def);
    if (module == NULL) return NULL;
    Py_INCREF(&writer_type);
    Py_INCREF(&structure_type);
    if (PyModule_AddObject(module, "Writer", (PyObject *)&writer_type) < 0 ||
        PyModule_AddObject(module, "StructureBase", (PyObject *)&structure_type) < 0) {
        Py_DECREF(module);
        return NULL;
    }
    return module;
}
