/* SPDX-License-Identifier: MIT */
/* The Python checks that slow paths fall back on, so that both backends
 * refuse the same values the same way, and carvelle._errors.Error. */
#include "compiled.h"

Checks checks;

PyObject *raise_error(int32_t code, const char *function, Py_ssize_t index) {
    PyObject *error = index < 0 ? PyObject_CallFunction(checks.error, "is", (int)code, function)
                                : PyObject_CallFunction(checks.error, "isn", (int)code, function, index);
    if (error != NULL) {
        PyErr_SetObject((PyObject *)Py_TYPE(error), error);
        Py_DECREF(error);
    }
    return NULL;
}

PyObject *raise_closed(const char *function) {
    PyObject *error = PyObject_CallFunction(checks.error, "isOs", (int)GDS_ERR_STOPPED, function, Py_None,
                                            "the library is closed (close() or its with block ended it)");
    if (error != NULL) {
        PyErr_SetObject((PyObject *)Py_TYPE(error), error);
        Py_DECREF(error);
    }
    return NULL;
}

static int take(PyObject *module, const char *name, PyObject **out) {
    *out = module == NULL ? NULL : PyObject_GetAttrString(module, name);
    return *out == NULL ? -1 : 0;
}

int import_checks(void) {
    PyObject *values = PyImport_ImportModule("carvelle._values");
    PyObject *errors = PyImport_ImportModule("carvelle._errors");
    PyObject *guards = PyImport_ImportModule("carvelle._guards");
    PyObject *units = PyImport_ImportModule("carvelle._units");
    int failed = take(errors, "Error", &checks.error) | take(errors, "RangeError", &checks.range_error) | take(values, "i32", &checks.i32) |
                 take(values, "w16", &checks.w16) | take(values, "u16", &checks.u16) | take(values, "c16", &checks.c16) |
                 take(guards, "dim", &checks.dim) | take(guards, "finite", &checks.real) |
                 take(guards, "mag", &checks.mag) | take(values, "text_bytes", &checks.text) |
                 take(values, "pair", &checks.pair) | take(values, "int32_columns", &checks.columns) |
                 take(units, "to_database", &checks.user_value) | take(units, "user_pair", &checks.user_pair) |
                 take(units, "user_columns", &checks.user_columns) |
                 take(values, "properties", &checks.properties);
    Py_XDECREF(values);
    Py_XDECREF(errors);
    Py_XDECREF(guards);
    Py_XDECREF(units);
    return failed ? -1 : 0;
}
