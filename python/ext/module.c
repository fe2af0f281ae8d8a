/* SPDX-License-Identifier: MIT */
/* carvelle._compiled: the element writers of the Python package as direct
 * calls of the bundled library. This file sets the module up: the Python
 * checks it falls back on, its functions and its two types. */
#include "compiled.h"

#include <math.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

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

static PyObject *error_message(PyObject *module, PyObject *code) {
    char buffer[GDS_ERROR_BUFFER_SIZE] = "";
    long value;
    (void)module;
    PyObject *checked = PyObject_CallFunction(checks.i32, "Os", code, "code");
    if (checked == NULL) return NULL;
    value = PyLong_AsLong(checked);
    Py_DECREF(checked);
    if (value == -1 && PyErr_Occurred()) return NULL;
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

/* The element table as this module has it, for the test that compares it
 * with carvelle._elements: (method, function, positional, ((name, kind,
 * default, alias), ...)) with default None where the argument is required. */
static PyObject *element_table(PyObject *module, PyObject *unused) {
    static const char *const kinds[] = {"coord", "i32", "w16", "c16", "dim", "real", "mag", "text", "points", "ys", "pair"};
    PyObject *table = PyList_New(signature_count);
    int s, p;
    (void)module;
    (void)unused;
    for (s = 0; table != NULL && s < signature_count; ++s) {
        const Signature *sig = signatures[s];
        PyObject *params = PyTuple_New(sig->count), *row;
        for (p = 0; params != NULL && p < sig->count; ++p) {
            const Param *param = &sig->params[p];
            PyObject *fallback = isnan(param->fallback) ? (Py_INCREF(Py_None), Py_None) : PyFloat_FromDouble(param->fallback);
            PyObject *item = fallback == NULL ? NULL : Py_BuildValue("(ssNz)", param->name, kinds[param->kind], fallback, param->alias);
            if (item == NULL)
                Py_CLEAR(params);
            else
                PyTuple_SET_ITEM(params, p, item);
        }
        row = params == NULL ? NULL : Py_BuildValue("(ssiN)", sig->method, sig->function, sig->positional, params);
        if (row == NULL)
            Py_CLEAR(table);
        else
            PyList_SET_ITEM(table, s, row);
    }
    return table;
}

static PyMethodDef module_methods[] = {
    {"error_message", error_message, METH_O,
     "error_message(code, /)\n--\n\nThe library's message for a result code, '' when unknown."},
    {"library_path", library_path, METH_NOARGS, "library_path()\n--\n\nThe file of the library this module calls."},
    {"_element_table", element_table, METH_NOARGS, "_element_table()\n--\n\nThe element table of this module."},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "carvelle._compiled",
                                        "The element writers of carvelle as direct calls of the library.", -1,
                                        module_methods, NULL, NULL, NULL, NULL};

static int take(PyObject *module, const char *name, PyObject **out) {
    *out = module == NULL ? NULL : PyObject_GetAttrString(module, name);
    return *out == NULL ? -1 : 0;
}

static int import_checks(void) {
    PyObject *values = PyImport_ImportModule("carvelle._values");
    PyObject *errors = PyImport_ImportModule("carvelle._errors");
    PyObject *guards = PyImport_ImportModule("carvelle._guards");
    PyObject *units = PyImport_ImportModule("carvelle._units");
    int failed = take(errors, "Error", &checks.error) | take(values, "i32", &checks.i32) |
                 take(values, "w16", &checks.w16) | take(values, "c16", &checks.c16) |
                 take(guards, "dim", &checks.dim) | take(guards, "finite", &checks.real) |
                 take(guards, "mag", &checks.mag) | take(values, "text_bytes", &checks.text) |
                 take(values, "pair", &checks.pair) | take(values, "int32_columns", &checks.columns) |
                 take(units, "to_database", &checks.user_value) | take(units, "user_pair", &checks.user_pair) |
                 take(units, "user_columns", &checks.user_columns);
    Py_XDECREF(values);
    Py_XDECREF(errors);
    Py_XDECREF(guards);
    Py_XDECREF(units);
    return failed ? -1 : 0;
}

PyMODINIT_FUNC PyInit__compiled(void) {
    PyObject *module;
    if (import_checks() < 0 || PyType_Ready(&writer_type) < 0 || structure_prepare() < 0) return NULL;
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
