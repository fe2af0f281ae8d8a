/* SPDX-License-Identifier: MIT */
/* carvelle._compiled: the element writers of the Python package as direct
 * calls of the bundled library. This file sets the module up: the Python
 * checks it falls back on, its functions and its two types. */
#include "compiled.h"

#include <string.h>

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

static PyMethodDef module_methods[] = {
    {"error_message", error_message, METH_O,
     "error_message(code, /)\n--\n\nThe library's message for a result code, '' when unknown."},
    {"library_path", library_path, METH_NOARGS, "library_path()\n--\n\nThe file of the library this module calls."},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "carvelle._compiled",
                                        "The element writers of carvelle as direct calls of the library.", -1,
                                        module_methods, NULL, NULL, NULL, NULL};

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
