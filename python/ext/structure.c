/* SPDX-License-Identifier: MIT */
/* The StructureBase type: a writer, the serial of the structure it writes
 * into and the scale of its door. Its methods are the generated element
 * table's (elements_generated.c). */
#include "compiled.h"

#include <structmember.h>

static int structure_init(Structure *self, PyObject *args, PyObject *kwds) {
    PyObject *writer;
    long serial;
    double scale = 0.0;
    (void)kwds;
    if (!PyArg_ParseTuple(args, "O!l|d", &writer_type, &writer, &serial, &scale)) return -1;
    if (!(scale >= 0.0) || isinf(scale)) {
        PyErr_SetString(PyExc_ValueError, "scale must be finite and not negative");
        return -1;
    }
    Py_INCREF(writer);
    Py_XSETREF(self->writer, (Writer *)writer);
    self->serial = serial;
    self->scale = scale;
    return 0;
}

static void structure_dealloc(Structure *self) {
    Py_XDECREF(self->writer);
    Py_TYPE(self)->tp_free((PyObject *)self);
}

static PyMemberDef structure_members[] = {
    {"_writer", T_OBJECT, offsetof(Structure, writer), READONLY, NULL},
    {"_serial", T_LONG, offsetof(Structure, serial), READONLY, NULL},
    {"_scale", T_DOUBLE, offsetof(Structure, scale), READONLY, NULL},
    {NULL, 0, 0, 0, NULL}};

PyTypeObject structure_type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "carvelle._compiled.StructureBase",
    .tp_doc =
        "StructureBase(writer, serial, scale=0.0)\n--\n\n"
        "The element writers of an open structure: in database units (scale 0), or in user "
        "units scaled by `scale` and rounded, halves away from zero.",
    .tp_basicsize = sizeof(Structure),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)structure_init,
    .tp_dealloc = (destructor)structure_dealloc,
    .tp_methods = element_methods,
    .tp_members = structure_members,
};

int structure_prepare(void) {
    int s;
    for (s = 0; s < signature_count; ++s)
        if (intern_names(signatures[s]) < 0) return -1;
    return PyType_Ready(&structure_type);
}
