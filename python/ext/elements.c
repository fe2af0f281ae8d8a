/* SPDX-License-Identifier: MIT */
/* The element table and the element methods of StructureBase. The table
 * follows carvelle._elements (tests/bindings/test_python_table.py compares
 * them); each call function passes the converted arguments in the C
 * function's order. */
#include "compiled.h"

#include <math.h>
#include <string.h>
#include <structmember.h>

#define REQUIRED NAN

/* Parameters are spelled out: C has no tuple concatenation, and each line
 * reads as the C function's parameter list. */
#define COORD_(name) \
    { name, COORD, REQUIRED, NULL }
#define WORD_(name) \
    { name, W16, 0.0, NULL }
#define ALIASED_(name) \
    { name, W16, 0.0, "datatype" }
#define PLEX_ \
    { "plex", I32, 0.0, NULL }
#define POINTS_ \
    {"points", POINTS, REQUIRED, NULL}, { "ys", YS, 0.0, NULL }
#define WIDTH_ \
    { "width", COORD, 0.0, NULL }
#define ANGLES_ \
    {"start_angle", REAL, REQUIRED, NULL}, { "end_angle", REAL, REQUIRED, NULL }
#define TRANSFORM_ \
    WORD_("strans"), {"mag", MAG, 1.0, NULL}, { "angle", REAL, 0.0, NULL }
#define SNAME_ \
    { "sname", TEXT, REQUIRED, NULL }

static int32_t call_boundary(const Call *c) {
    return GDS_Boundary(c->handle, c->xs, c->ys, arg_count(c), arg_w16(c, 2), arg_w16(c, 3), arg_w16(c, 4),
                        arg_i32(c, 5));
}

static int32_t call_box(const Call *c) {
    return GDS_Box(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_i32(c, 3), arg_w16(c, 4),
                   arg_w16(c, 5), arg_w16(c, 6), arg_i32(c, 7));
}

static int32_t call_box_wh(const Call *c) {
    return GDS_BoxWH(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_i32(c, 3), arg_w16(c, 4),
                     arg_w16(c, 5), arg_w16(c, 6), arg_i32(c, 7));
}

static int32_t call_square(const Call *c) {
    return GDS_Square(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_w16(c, 3), arg_w16(c, 4),
                      arg_w16(c, 5), arg_i32(c, 6));
}

/* Four corners from (x1, y1); the library repeats the first as the fifth. */
static int32_t call_rectangle(const Call *c) {
    const int32_t xs[4] = {arg_i32(c, 0), arg_i32(c, 2), arg_i32(c, 2), arg_i32(c, 0)};
    const int32_t ys[4] = {arg_i32(c, 1), arg_i32(c, 1), arg_i32(c, 3), arg_i32(c, 3)};
    return GDS_Boundary(c->handle, xs, ys, 4, arg_w16(c, 4), arg_w16(c, 5), arg_w16(c, 6), arg_i32(c, 7));
}

static int32_t call_path(const Call *c) {
    return GDS_Path(c->handle, c->xs, c->ys, arg_count(c), arg_i32(c, 2), arg_w16(c, 3), arg_w16(c, 4),
                    arg_w16(c, 5), arg_w16(c, 6), arg_i32(c, 7));
}

static int32_t call_circle(const Call *c) {
    return GDS_Circle(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_w16(c, 3), arg_w16(c, 4),
                      arg_w16(c, 5), arg_w16(c, 6), arg_i32(c, 7));
}

static int32_t call_arc(const Call *c) {
    return GDS_Arc(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_real(c, 3), arg_real(c, 4),
                   arg_w16(c, 5), arg_i32(c, 6), arg_w16(c, 7), arg_w16(c, 8), arg_w16(c, 9), arg_w16(c, 10),
                   arg_i32(c, 11));
}

static int32_t call_sector(const Call *c) {
    return GDS_Sector(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_real(c, 3), arg_real(c, 4),
                      arg_w16(c, 5), arg_w16(c, 6), arg_w16(c, 7), arg_w16(c, 8), arg_i32(c, 9));
}

static int32_t call_text(const Call *c) {
    return GDS_Text(c->handle, arg_i32(c, 0), arg_i32(c, 1), arg_text(c, 2), arg_w16(c, 3), arg_w16(c, 4),
                    arg_w16(c, 5), arg_w16(c, 6), arg_i32(c, 7), arg_w16(c, 8), arg_real(c, 9), arg_real(c, 10),
                    arg_w16(c, 11), arg_i32(c, 12));
}

static int32_t call_sref(const Call *c) {
    return GDS_Sref(c->handle, arg_text(c, 0), arg_i32(c, 1), arg_i32(c, 2), arg_w16(c, 3), arg_real(c, 4),
                    arg_real(c, 5), arg_w16(c, 6), arg_i32(c, 7));
}

static int32_t call_aref(const Call *c) {
    return GDS_Aref(c->handle, arg_text(c, 0), c->pair_x, c->pair_y, arg_w16(c, 4), arg_w16(c, 5), arg_w16(c, 6),
                    arg_real(c, 7), arg_real(c, 8), arg_w16(c, 9), arg_i32(c, 10));
}

static int32_t call_node(const Call *c) {
    return GDS_Node(c->handle, c->xs, c->ys, arg_count(c), arg_w16(c, 2), arg_w16(c, 3), arg_w16(c, 4),
                    arg_i32(c, 5));
}

// clang-format off
static Signature sig_boundary = {"boundary", "GDS_Boundary",
    "BOUNDARY through the points (3 to 8189; the library closes the ring).", 2, 6, 0,
    {POINTS_, WORD_("layer"), WORD_("datatype"), WORD_("elflags"), PLEX_}, call_boundary, {0}, {0}};
static Signature sig_box = {"box", "GDS_Box", "BOX with corners (x1, y1) and (x2, y2); datatype= means boxtype.",
    4, 8, 0, {COORD_("x1"), COORD_("y1"), COORD_("x2"), COORD_("y2"), WORD_("layer"), ALIASED_("boxtype"),
    WORD_("elflags"), PLEX_}, call_box, {0}, {0}};
static Signature sig_box_wh = {"box_wh", "GDS_BoxWH", "BOX from (x, y) to (x + w, y + h); datatype= means boxtype.",
    4, 8, 0, {COORD_("x"), COORD_("y"), COORD_("w"), COORD_("h"), WORD_("layer"), ALIASED_("boxtype"),
    WORD_("elflags"), PLEX_}, call_box_wh, {0}, {0}};
static Signature sig_square = {"square", "GDS_Square",
    "BOX from (x, y) to (x + side, y + side); datatype= means boxtype.", 3, 7, 0,
    {COORD_("x"), COORD_("y"), COORD_("side"), WORD_("layer"), ALIASED_("boxtype"), WORD_("elflags"), PLEX_},
    call_square, {0}, {0}};
static Signature sig_rectangle = {"rectangle", "GDS_Boundary",
    "BOUNDARY of the rectangle with corners (x1, y1) and (x2, y2): five points, closed.", 4, 8, 0,
    {COORD_("x1"), COORD_("y1"), COORD_("x2"), COORD_("y2"), WORD_("layer"), WORD_("datatype"),
    WORD_("elflags"), PLEX_}, call_rectangle, {0}, {0}};
static Signature sig_path = {"path", "GDS_Path", "PATH through the points (2 to 32767).", 2, 8, 0,
    {POINTS_, WIDTH_, WORD_("layer"), WORD_("datatype"), WORD_("pathtype"), WORD_("elflags"), PLEX_},
    call_path, {0}, {0}};
static Signature sig_circle = {"circle", "GDS_Circle", "Circle of count points (3 to 8189) written as a BOUNDARY.",
    4, 8, 0, {COORD_("cx"), COORD_("cy"), COORD_("radius"), {"count", C16, REQUIRED, NULL}, WORD_("layer"),
    WORD_("datatype"), WORD_("elflags"), PLEX_}, call_circle, {0}, {0}};
static Signature sig_arc = {"arc", "GDS_Arc", "Arc of count points written as a PATH; angles in degrees.", 6, 12, 0,
    {COORD_("cx"), COORD_("cy"), COORD_("radius"), ANGLES_, {"count", C16, REQUIRED, NULL}, WIDTH_,
    WORD_("layer"), WORD_("datatype"), WORD_("pathtype"), WORD_("elflags"), PLEX_}, call_arc, {0}, {0}};
static Signature sig_sector = {"sector", "GDS_Sector",
    "Sector (the centre and count - 1 arc points) written as a BOUNDARY.", 6, 10, 0,
    {COORD_("cx"), COORD_("cy"), COORD_("radius"), ANGLES_, {"count", C16, REQUIRED, NULL}, WORD_("layer"),
    WORD_("datatype"), WORD_("elflags"), PLEX_}, call_sector, {0}, {0}};
static Signature sig_text = {"text", "GDS_Text",
    "TEXT element at (x, y); text is str (UTF-8) or bytes; datatype= means texttype.", 3, 13, 0,
    {COORD_("x"), COORD_("y"), {"text", TEXT, REQUIRED, NULL}, WORD_("layer"), ALIASED_("texttype"),
    WORD_("presentation"), WORD_("pathtype"), WIDTH_, TRANSFORM_, WORD_("elflags"), PLEX_}, call_text, {0}, {0}};
static Signature sig_sref = {"sref", "GDS_Sref", "SREF placing the structure sname at (x, y).", 3, 8, 1,
    {SNAME_, COORD_("x"), COORD_("y"), TRANSFORM_, WORD_("elflags"), PLEX_}, call_sref, {0}, {0}};
static Signature sig_aref = {"aref", "GDS_Aref", "AREF of cols x rows (1 to 32767) instances of sname.", 6, 11, 1,
    {SNAME_, {"origin", PAIR, REQUIRED, NULL}, {"col_corner", PAIR, REQUIRED, NULL},
    {"row_corner", PAIR, REQUIRED, NULL}, {"cols", DIM, REQUIRED, NULL}, {"rows", DIM, REQUIRED, NULL},
    TRANSFORM_, WORD_("elflags"), PLEX_}, call_aref, {0}, {0}};
static Signature sig_node = {"node", "GDS_Node", "NODE of 1 to 50 points; datatype= means nodetype.", 2, 6, 0,
    {POINTS_, WORD_("layer"), ALIASED_("nodetype"), WORD_("elflags"), PLEX_}, call_node, {0}, {0}};
// clang-format on

Signature *const signatures[] = {&sig_boundary, &sig_box, &sig_box_wh, &sig_square, &sig_rectangle,
                                 &sig_path, &sig_circle, &sig_arc, &sig_sector, &sig_text,
                                 &sig_sref, &sig_aref, &sig_node};
const int signature_count = (int)(sizeof signatures / sizeof signatures[0]);

int structure_ready(Structure *self, const char *function, GdsHandle *handle) {
    if (self->writer == NULL || self->writer->open_serial != self->serial) {
        /* This structure has ended: do not write into whatever is open now. */
        raise_error(GDS_ERR_STRUCT_NOT_OPEN, function, -1);
        return -1;
    }
    if (refuse_busy(self->writer) < 0) return -1;
    *handle = self->writer->handle;
    return 0;
}

/* References also note the name, for the library's list of undefined ones. */
static int note_reference(Structure *self, const Call *c) {
    PyObject *name = PyBytes_FromStringAndSize(arg_text(c, 0), c->text_size);
    int result = name == NULL ? -1 : PySet_Add(self->writer->referenced, name);
    Py_XDECREF(name);
    return result;
}

/* Every element method: parse by its signature, make the one C call, report. */
static PyObject *element(Structure *self, const Signature *sig, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
    Call c;
    int32_t code;
    if (parse(sig, self->scale, args, nargs, kwnames, &c) < 0 || structure_ready(self, sig->function, &c.handle) < 0) {
        release(&c);
        return NULL;
    }
    code = sig->call(&c);
    if (code == GDS_OK && sig->reference && arg_text(&c, 0) != NULL && note_reference(self, &c) < 0) {
        release(&c);
        return NULL;
    }
    release(&c);
    if (code != GDS_OK) return raise_error(code, sig->function, -1);
    Py_RETURN_NONE;
}

#define METHOD(name)                                                                                         \
    static PyObject *s_##name(Structure *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) { \
        return element(self, &sig_##name, args, nargs, kwnames);                                             \
    }
METHOD(boundary)
METHOD(box)
METHOD(box_wh)
METHOD(square)
METHOD(rectangle)
METHOD(path)
METHOD(circle)
METHOD(arc)
METHOD(sector)
METHOD(text)
METHOD(sref)
METHOD(aref)
METHOD(node)

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

#define FAST(name) \
    { #name, (PyCFunction)(void (*)(void))s_##name, METH_FASTCALL | METH_KEYWORDS, NULL }

/* In the order of `signatures`: structure_prepare gives each its text signature. */
static PyMethodDef structure_methods[] = {
    FAST(boundary),
    FAST(box),
    FAST(box_wh),
    FAST(square),
    FAST(rectangle),
    FAST(path),
    FAST(circle),
    FAST(arc),
    FAST(sector),
    FAST(text),
    FAST(sref),
    FAST(aref),
    FAST(node),
    {"_write_batch", (PyCFunction)(void (*)(void))write_batch, METH_FASTCALL,
     "_write_batch($self, method, /, *arrays)\n--\n\nThe batch writer of an element over checked arrays."},
    {NULL, NULL, 0, NULL}};

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
    .tp_methods = structure_methods,
    .tp_members = structure_members,
};

int structure_prepare(void) {
    int s;
    for (s = 0; s < signature_count; ++s) {
        if (strcmp(structure_methods[s].ml_name, signatures[s]->method) != 0) {
            PyErr_Format(PyExc_SystemError, "method %s is not %s", structure_methods[s].ml_name, signatures[s]->method);
            return -1;
        }
        if (intern_names(signatures[s]) < 0 || (structure_methods[s].ml_doc = text_signature(signatures[s])) == NULL)
            return -1;
    }
    return PyType_Ready(&structure_type);
}
