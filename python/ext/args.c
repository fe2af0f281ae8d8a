/* SPDX-License-Identifier: MIT */
/* Arguments by name into the named fields of an element's values, by its
 * Signature (numpy's npy_argparse does the same). Plain ints, floats, str and lists of pairs
 * are converted here; anything else, and every refusal, goes to the Python
 * checks, so both backends accept and refuse the same values. */
#include "compiled.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

void release(Call *c) {
    int i;
    for (i = 0; i < c->kept; ++i) Py_DECREF(c->keep[i]);
    for (i = 0; i < c->viewed; ++i) PyBuffer_Release(&c->views[i]);
    PyMem_Free(c->heap);
    c->kept = c->viewed = 0;
    c->heap = NULL;
}

void refuse_scaled(int failure, const char *what, Py_ssize_t index) {
    const char *why = failure == -1 ? "is not finite" : "is outside the 32-bit range";
    PyObject *kind = failure == -1 ? PyExc_ValueError : checks.range_error;
    PyObject *type, *value, *traceback, *number;
    if (index < 0) {
        PyErr_Format(kind, "%s %s in database units", what, why);
        return;
    }
    PyErr_Format(kind, "%s of element %zd %s in database units", what, index, why);
    /* error.index: the elements before it are written, as for Error. */
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    number = PyLong_FromSsize_t(index);
    if (number == NULL || PyObject_SetAttrString(value, "index", number) < 0) PyErr_Clear();
    Py_XDECREF(number);
    PyErr_Restore(type, value, traceback);
}

/* The Python check's answer as a C value; -1 when it raised. */
static int checked_integer(PyObject *check, PyObject *value, const char *what, long long *out) {
    PyObject *checked = PyObject_CallFunction(check, "Os", value, what);
    if (checked == NULL) return -1;
    *out = PyLong_AsLongLong(checked);
    Py_DECREF(checked);
    return *out == -1 && PyErr_Occurred() ? -1 : 0;
}

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
    return checked_integer(check, value, what, out);
}

/* A user-unit number in database units, by the fast path or by Python's. */
static int user_value(PyObject *value, double scale, const char *what, long long *out) {
    int32_t n;
    if (PyFloat_CheckExact(value) && to_database(PyFloat_AS_DOUBLE(value), scale, &n) == 0) {
        *out = n;
        return 0;
    }
    if (PyLong_CheckExact(value)) {
        double d = PyLong_AsDouble(value);
        if (!(d == -1.0 && PyErr_Occurred()) && to_database(d, scale, &n) == 0) {
            *out = n;
            return 0;
        }
        PyErr_Clear();
    }
    {
        PyObject *checked = PyObject_CallFunction(checks.user_value, "Ods", value, scale, what);
        if (checked == NULL) return -1;
        *out = PyLong_AsLongLong(checked);
        Py_DECREF(checked);
        return *out == -1 && PyErr_Occurred() ? -1 : 0;
    }
}

/* A double that passes `fast`, else the Python check's. */
static int real(PyObject *value, PyObject *check, int positive, const char *what, double *out) {
    if (PyFloat_CheckExact(value)) {
        double d = PyFloat_AS_DOUBLE(value);
        /* A GDSII real holds magnitudes from 2^-260 up to, not including, 2^252. */
        if (fabs(d) < 0x1p252 && (!positive || d >= 0x1p-260)) {
            *out = d;
            return 0;
        }
    }
    {
        PyObject *checked = PyObject_CallFunction(check, "Os", value, what);
        if (checked == NULL) return -1;
        *out = PyFloat_AsDouble(checked);
        Py_DECREF(checked);
        return *out == -1.0 && PyErr_Occurred() ? -1 : 0;
    }
}

static void keep(Call *c, PyObject *object) {
    c->keep[c->kept++] = object; /* at most one text, points, corner and properties per call */
}

/* The Python check turns the mapping into a tuple of (attribute, bytes)
 * pairs within the format's limits, so that nothing is refused after the
 * element is written. */
int read_properties(Call *c, PyObject *mapping, int reference) {
    c->property_count = 0;
    if (mapping == Py_None) return 0;
    return take_property_pairs(c, PyObject_CallFunction(checks.properties, "Oi", mapping, reference));
}

int take_property_pairs(Call *c, PyObject *pairs) {
    Py_ssize_t i, n;
    c->property_count = 0;
    if (pairs == NULL) return -1;
    if (!PyTuple_Check(pairs) || (n = PyTuple_GET_SIZE(pairs)) > MOST_PROPERTIES) {
        Py_DECREF(pairs);
        PyErr_SetString(PyExc_TypeError, "properties must be the pairs that carvelle._values.properties gives");
        return -1;
    }
    keep(c, pairs);
    for (i = 0; i < n; ++i) {
        PyObject *pair = PyTuple_GET_ITEM(pairs, i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyBytes_Check(PyTuple_GET_ITEM(pair, 1))) {
            PyErr_SetString(PyExc_TypeError, "properties must be the pairs that carvelle._values.properties gives");
            return -1;
        }
        c->property_attributes[i] = (int16_t)PyLong_AsLong(PyTuple_GET_ITEM(pair, 0));
        c->property_values[i] = PyBytes_AS_STRING(PyTuple_GET_ITEM(pair, 1));
    }
    if (PyErr_Occurred()) return -1;
    c->property_count = (int)n;
    return 0;
}

int32_t write_properties(const Call *c) {
    int i;
    for (i = 0; i < c->property_count; ++i) {
        int32_t code = GDS_Property(c->handle, c->property_attributes[i], c->property_values[i]);
        if (code != GDS_OK) return code;
    }
    return GDS_OK;
}

static int text(Call *c, PyObject *value, const char *what, const char **out) {
    Py_ssize_t size = 0;
    const char *data = NULL;
    if (value == NULL || value == Py_None) { /* the library refuses a null text */
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
        PyObject *checked = PyObject_CallFunction(checks.text, "Os", value, what);
        if (checked == NULL) return -1;
        keep(c, checked);
        data = PyBytes_AS_STRING(checked);
        size = PyBytes_GET_SIZE(checked);
    }
    c->text = data;
    c->text_size = size;
    *out = data;
    return 0;
}

/* One coordinate of a plain pair: 1 when taken, 0 when Python must convert it. */
static int plain_coordinate(PyObject *value, double scale, int32_t *out) {
    int overflow = 0;
    long long n;
    if (scale != 0.0) {
        if (PyFloat_CheckExact(value)) return to_database(PyFloat_AS_DOUBLE(value), scale, out) == 0;
        if (!PyLong_CheckExact(value)) return 0;
        n = PyLong_AsLongLongAndOverflow(value, &overflow);
        return !overflow && llabs(n) < (1LL << 53) && to_database((double)n, scale, out) == 0;
    }
    if (!PyLong_CheckExact(value)) return 0;
    n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow || n < INT32_MIN || n > INT32_MAX) return 0;
    *out = (int32_t)n;
    return 1;
}

/* A list or tuple of (x, y) pairs of plain numbers; 0 when the value has
 * another form (then Python converts it), -1 on a memory error. */
static int plain_pairs(Call *c, PyObject *points, double scale) {
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
        if ((!PyTuple_CheckExact(point) && !PyList_CheckExact(point)) || PySequence_Fast_GET_SIZE(point) != 2)
            return 0;
        if (!plain_coordinate(PySequence_Fast_GET_ITEM(point, 0), scale, &xs[i]) ||
            !plain_coordinate(PySequence_Fast_GET_ITEM(point, 1), scale, &ys[i]))
            return 0;
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

static int points(Call *c, PyObject *value, PyObject *ys, double scale) {
    static const int32_t none[1] = {0}; /* a valid pointer for empty lists: the library reports the count */
    PyObject *columns;
    int plain = ys == NULL ? plain_pairs(c, value, scale) : 0;
    if (plain != 0) return plain < 0 ? -1 : 0;
    if (scale != 0.0)
        columns = PyObject_CallFunction(checks.user_columns, "OOd", value, ys == NULL ? Py_None : ys, scale);
    else
        columns = PyObject_CallFunctionObjArgs(checks.columns, value, ys == NULL ? Py_None : ys, NULL);
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

static int corner(Call *c, PyObject *value, const char *what, double scale, int k) {
    PyObject *checked = scale != 0.0 ? PyObject_CallFunction(checks.user_pair, "Osd", value, what, scale)
                                     : PyObject_CallFunction(checks.pair, "Os", value, what);
    int ok;
    if (checked == NULL) return -1;
    ok = PyArg_ParseTuple(checked, "ii", &c->pair_x[k], &c->pair_y[k]);
    Py_DECREF(checked);
    return ok ? 0 : -1;
}

/* Which parameter a keyword names: by identity first (the interpreter
 * interns keyword names), then by value. */
static int keyword(const Signature *sig, PyObject *name, int *aliased) {
    int p;
    for (int pass = 0; pass < 2; ++pass)
        for (p = 0; p < sig->count; ++p) {
            PyObject *alias = sig->aliases[p];
            if (pass == 0 ? sig->names[p] == name : PyUnicode_Compare(sig->names[p], name) == 0) {
                *aliased = 0;
                return p;
            }
            if (alias != NULL && (pass == 0 ? alias == name : PyUnicode_Compare(alias, name) == 0)) {
                *aliased = 1;
                return p;
            }
        }
    return -1;
}

static int bind(const Signature *sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **given) {
    Py_ssize_t i, k;
    if (nargs > sig->positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional arguments (%zd given)", sig->method,
                     sig->positional, nargs);
        return -1;
    }
    for (i = 0; i < nargs; ++i) given[i] = args[i];
    for (k = 0; kwnames != NULL && k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject *name = PyTuple_GET_ITEM(kwnames, k);
        int aliased = 0, p = keyword(sig, name, &aliased);
        if (p < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig->method, name);
            return -1;
        }
        if (given[p] != NULL) {
            if (aliased || sig->params[p].alias != NULL)
                PyErr_Format(PyExc_TypeError, "%s() takes %s or its alias %s, not both", sig->method,
                             sig->params[p].name, sig->params[p].alias);
            else
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig->method,
                             sig->params[p].name);
            return -1;
        }
        given[p] = args[nargs + k];
    }
    return 0;
}

static int convert(const Param *param, PyObject *value, PyObject *ys, double scale, Call *c, void *values,
                   int *corners) {
    long long n = 0;
    double d = 0.0;
    const char *s = NULL;
    switch (param->kind) {
        case COORD:
            if (scale != 0.0 ? user_value(value, scale, param->name, &n) < 0
                             : integer(value, INT32_MIN, INT32_MAX, checks.i32, param->name, &n) < 0)
                return -1;
            break;
        case I32:
            if (integer(value, INT32_MIN, INT32_MAX, checks.i32, param->name, &n) < 0) return -1;
            break;
        case W16:
            if (integer(value, -32768, 65535, checks.w16, param->name, &n) < 0) return -1;
            if (n > 32767) n -= 65536; /* the bits of an unsigned word */
            break;
        case U16: /* a layer or type: int16_t cannot tell -1 from 65535, so no negatives */
            if (integer(value, 0, 65535, checks.u16, param->name, &n) < 0) return -1;
            if (n > 32767) n -= 65536;
            break;
        case C16:
            if (integer(value, -32768, 32767, checks.c16, param->name, &n) < 0) return -1;
            break;
        case DIM:
            if (integer(value, 1, 32767, checks.dim, param->name, &n) < 0) return -1;
            break;
        case REAL:
        case MAG:
            if (real(value, param->kind == MAG ? checks.mag : checks.real, param->kind == MAG, param->name, &d) < 0)
                return -1;
            put_real(values, param, d);
            return 0;
        case TEXT:
            if (text(c, value, param->name, &s) < 0) return -1;
            put_text(values, param, s);
            return 0;
        case POINTS:
            return points(c, value, ys == Py_None ? NULL : ys, scale);
        case YS:
            return 0;
        case PAIR:
            return corner(c, value, param->name, scale, (*corners)++);
        case PROPS:
            return 0; /* read by parse, which knows the element */
    }
    put_integer(values, param, n);
    return 0;
}

int parse(const Signature *sig, double scale, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
          Call *c, void *values) {
    PyObject *given[MOST_PARAMS] = {NULL};
    int k, corners = 0;
    c->kept = c->viewed = 0;
    c->heap = NULL;
    c->text = NULL;
    c->text_size = 0;
    c->property_count = 0;
    if (bind(sig, args, nargs, kwnames, given) < 0) return -1;
    for (k = 0; k < sig->count; ++k) {
        const Param *param = &sig->params[k];
        if (given[k] == NULL) {
            if (param->fallback != param->fallback || param->kind == POINTS || param->kind == PAIR) {
                PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", sig->method, param->name);
                return -1;
            }
            if (param->kind == REAL || param->kind == MAG)
                put_real(values, param, param->fallback);
            else if (param->kind != YS && param->kind != PROPS)
                put_integer(values, param, 0);
            continue;
        }
        if (param->kind == PROPS) {
            if (read_properties(c, given[k], sig->reference) < 0) return -1;
            continue;
        }
        if (convert(param, given[k], k + 1 < sig->count ? given[k + 1] : NULL, scale, c, values, &corners) < 0)
            return -1;
    }
    return 0;
}

int intern_names(Signature *sig) {
    int p;
    for (p = 0; p < sig->count; ++p) {
        const char *alias = sig->params[p].alias;
        if ((sig->names[p] = PyUnicode_InternFromString(sig->params[p].name)) == NULL) return -1;
        if (alias != NULL && (sig->aliases[p] = PyUnicode_InternFromString(alias)) == NULL) return -1;
    }
    return 0;
}
