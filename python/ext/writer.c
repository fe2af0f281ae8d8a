/* SPDX-License-Identifier: MIT */
/* The Writer type: one library's handle, the structure open in it, and the
 * busy flag and lock that make other threads wait while a call runs without
 * the GIL. Calls that open, flush or close the file release the GIL: a slow
 * disk or a pipe that this process itself reads must not stop the other
 * threads.
 *
 * `busy` is set and cleared only with the GIL held, so a call that sees it
 * clear may write at once. A waiter blocks on the lock (which the busy call
 * holds) with the GIL released, lets the lock go at once and looks again:
 * the lock only wakes it, so it is never held for long by anyone but the
 * busy call, and writer_hold may take it without letting the GIL go. */
#include "compiled.h"

#include <structmember.h>

int wait_idle(Writer *writer) {
    while (writer->busy) {
        if (writer->owner == PyThread_get_thread_ident()) {
            PyErr_SetString(PyExc_RuntimeError,
                            "the library is being written by the call that this code interrupted (a signal "
                            "handler); write from the handler's caller instead");
            return -1;
        }
        Py_BEGIN_ALLOW_THREADS PyThread_acquire_lock(writer->lock, WAIT_LOCK);
        PyThread_release_lock(writer->lock);
        Py_END_ALLOW_THREADS
    }
    return 0;
}

PyThreadState *writer_hold(Writer *writer) {
    PyThread_acquire_lock(writer->lock, WAIT_LOCK); /* at most a waiter's moment */
    writer->busy = 1;
    writer->owner = PyThread_get_thread_ident();
    return PyEval_SaveThread();
}

void writer_release(Writer *writer, PyThreadState *state) {
    PyEval_RestoreThread(state);
    writer->busy = 0;
    PyThread_release_lock(writer->lock);
}

int writer_check_signals(Writer *writer, PyThreadState **state) {
    int result;
    (void)writer; /* stays busy: other threads keep waiting, a handler of this one is refused */
    PyEval_RestoreThread(*state);
    result = PyErr_CheckSignals();
    *state = PyEval_SaveThread();
    return result;
}

static int writer_init(Writer *self, PyObject *args, PyObject *kwds) {
    const char *path;
    double user_unit, meter_unit;
    PyObject *time = Py_None; /* None: GDS_BeginLib; else the seconds of GDS_BeginLibAt */
    long long seconds = 0;
    GdsHandle handle = NULL;
    int32_t code;
    PyThreadState *state;
    (void)kwds;
    if (self->handle != NULL || !PyArg_ParseTuple(args, "ydd|O", &path, &user_unit, &meter_unit, &time)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "Writer is begun once");
        return -1;
    }
    if (self->lock == NULL && (self->lock = PyThread_allocate_lock()) == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    Py_XSETREF(self->referenced, PySet_New(NULL));
    Py_XSETREF(self->defined, PySet_New(NULL));
    if (self->referenced == NULL || self->defined == NULL) return -1;
    if (time != Py_None && (seconds = PyLong_AsLongLong(time)) == -1 && PyErr_Occurred()) return -1;
    state = writer_hold(self);
    code = time == Py_None ? GDS_BeginLib(path, user_unit, meter_unit, &handle)
                           : GDS_BeginLibAt(path, user_unit, meter_unit, (int64_t)seconds, &handle);
    if (code != GDS_OK && handle != NULL) GDS_EndLib(handle); /* stored even when the file could not be begun */
    writer_release(self, state);
    if (code != GDS_OK) {
        raise_error(code, time == Py_None ? "GDS_BeginLib" : "GDS_BeginLibAt", -1);
        return -1;
    }
    self->handle = handle;
    return 0;
}

static void writer_dealloc(Writer *self) {
    GdsHandle handle = self->handle;
    self->handle = NULL;
    if (handle != NULL) {
        /* Nobody else holds the writer now; ending flushes and closes the file. */
        Py_BEGIN_ALLOW_THREADS GDS_EndLib(handle);
        Py_END_ALLOW_THREADS
    }
    if (self->lock != NULL) PyThread_free_lock(self->lock);
    Py_XDECREF(self->referenced);
    Py_XDECREF(self->defined);
    Py_TYPE(self)->tp_free((PyObject *)self);
}

static PyObject *writer_begin_structure(Writer *self, PyObject *name) {
    int32_t code;
    PyThreadState *state;
    if (wait_idle(self) < 0) return NULL;
    if (name != Py_None && !PyBytes_Check(name)) return PyErr_Format(PyExc_TypeError, "name must be bytes or None");
    state = writer_hold(self);
    code = GDS_BeginStructure(self->handle, name == Py_None ? NULL : PyBytes_AS_STRING(name));
    writer_release(self, state);
    if (code != GDS_OK) return raise_error(code, "GDS_BeginStructure", -1);
    if (PySet_Add(self->defined, name) < 0) return NULL;
    self->open_serial = ++self->serials;
    return PyLong_FromLong(self->open_serial);
}

static PyObject *writer_end_structure(Writer *self, PyObject *unused) {
    int32_t code;
    PyThreadState *state;
    (void)unused;
    if (wait_idle(self) < 0) return NULL;
    self->open_serial = 0;
    state = writer_hold(self);
    code = GDS_EndStructure(self->handle);
    writer_release(self, state);
    if (code != GDS_OK) return raise_error(code, "GDS_EndStructure", -1);
    Py_RETURN_NONE;
}

static PyObject *writer_end_library(Writer *self, PyObject *unused) {
    GdsHandle handle;
    int32_t code;
    PyThreadState *state;
    (void)unused;
    if (wait_idle(self) < 0) return NULL;
    handle = self->handle; /* read after the wait: the call waited for may have ended it */
    self->handle = NULL;
    self->open_serial = 0;
    if (handle == NULL) Py_RETURN_NONE;
    state = writer_hold(self);
    code = GDS_EndLib(handle);
    writer_release(self, state);
    if (code != GDS_OK) return raise_error(code, "GDS_EndLib", -1);
    Py_RETURN_NONE;
}

static PyObject *writer_handle(Writer *self, void *closure) {
    (void)closure;
    if (self->handle == NULL) Py_RETURN_NONE;
    return PyLong_FromVoidPtr(self->handle);
}

static PyMethodDef writer_methods[] = {
    {"begin_structure", (PyCFunction)writer_begin_structure, METH_O,
     "begin_structure($self, name, /)\n--\n\nBegins a structure; returns its serial."},
    {"end_structure", (PyCFunction)writer_end_structure, METH_NOARGS,
     "end_structure($self, /)\n--\n\nEnds the open structure."},
    {"end_library", (PyCFunction)writer_end_library, METH_NOARGS,
     "end_library($self, /)\n--\n\nEnds the library and frees the handle."},
    {NULL, NULL, 0, NULL}};

static PyMemberDef writer_members[] = {
    {"open_serial", T_LONG, offsetof(Writer, open_serial), READONLY, NULL},
    {"referenced", T_OBJECT, offsetof(Writer, referenced), READONLY, NULL},
    {"defined", T_OBJECT, offsetof(Writer, defined), READONLY, NULL},
    {NULL, 0, 0, 0, NULL}};

static PyGetSetDef writer_getset[] = {{"handle", (getter)writer_handle, NULL, NULL, NULL},
                                      {NULL, NULL, NULL, NULL, NULL}};

PyTypeObject writer_type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "carvelle._compiled.Writer",
    .tp_doc =
        "Writer(path, user_unit, meter_unit)\n--\n\n"
        "One library being written: its handle and the structure open in it.",
    .tp_basicsize = sizeof(Writer),
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)writer_init,
    .tp_dealloc = (destructor)writer_dealloc,
    .tp_methods = writer_methods,
    .tp_members = writer_members,
    .tp_getset = writer_getset,
};
