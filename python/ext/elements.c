/* SPDX-License-Identifier: MIT */
/* One element call, whatever the element: parse the arguments into the
 * element's values, check that its structure is the open one, make the C
 * call (elements_generated.c has one per element) and report. */
#include "compiled.h"

int structure_ready(Structure *self, const char *function, GdsHandle *handle) {
    /* First wait for another thread's call: it may end this structure. */
    if (self->writer == NULL || wait_idle(self->writer) < 0) return -1;
    if (self->writer->handle == NULL) {
        raise_closed(function);
        return -1;
    }
    if (self->writer->open_serial != self->serial) {
        /* This structure has ended: do not write into whatever is open now. */
        raise_error(GDS_ERR_STRUCT_NOT_OPEN, function, -1);
        return -1;
    }
    *handle = self->writer->handle;
    return 0;
}

/* References also note the name, for the library's list of undefined ones. */
static int note_reference(Structure *self, const Call *c) {
    PyObject *name = PyBytes_FromStringAndSize(c->text, c->text_size);
    int result = name == NULL ? -1 : PySet_Add(self->writer->referenced, name);
    Py_XDECREF(name);
    return result;
}

PyObject *element(Structure *self, const Signature *sig, void *values, PyObject *const *args, Py_ssize_t nargs,
                  PyObject *kwnames) {
    Call c;
    int32_t code;
    if (parse(sig, self->scale, args, nargs, kwnames, &c, values) < 0 ||
        structure_ready(self, sig->function, &c.handle) < 0) {
        release(&c);
        return NULL;
    }
    code = sig->call(&c, values);
    if (code == GDS_OK && c.property_count > 0 && (code = write_properties(&c)) != GDS_OK) {
        release(&c);
        return raise_error(code, "GDS_Property", -1);
    }
    if (code == GDS_OK && sig->reference && c.text != NULL && note_reference(self, &c) < 0) {
        release(&c);
        return NULL;
    }
    release(&c);
    if (code != GDS_OK) return raise_error(code, sig->function, -1);
    Py_RETURN_NONE;
}
