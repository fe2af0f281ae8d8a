// SPDX-License-Identifier: MIT
// carvelle._compiled_merge: the merge of carvelle_merge.hpp for Python,
// with the GIL released while the parts are joined.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <vector>

#include "carvelle_merge.hpp"

namespace {

// A str, bytes or os.PathLike as the bytes the file system takes.
bool fileName(PyObject* path, std::string& name) {
    PyObject* bytes = nullptr;
    if (!PyUnicode_FSConverter(path, &bytes)) return false;
    name.assign(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
    return true;
}

// merge(output, parts) -> (failure, message, bytes, structures)
PyObject* merge(PyObject*, PyObject* args) {
    PyObject *output, *parts;
    if (!PyArg_ParseTuple(args, "OO:merge", &output, &parts)) return nullptr;
    std::string outputName;
    std::vector<std::string> partNames;
    PyObject* sequence = PySequence_Fast(parts, "parts must be a sequence of paths");
    if (sequence == nullptr || !fileName(output, outputName)) {
        Py_XDECREF(sequence);
        return nullptr;
    }
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence);
    partNames.resize(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!fileName(PySequence_Fast_GET_ITEM(sequence, i), partNames[static_cast<std::size_t>(i)])) {
            Py_DECREF(sequence);
            return nullptr;
        }
    }
    Py_DECREF(sequence);
    // The merge touches no Python object: other threads run meanwhile.
    PyThreadState* state = PyEval_SaveThread();
    const carvelle::MergeResult result = carvelle::merge_libraries(outputName, partNames);
    PyEval_RestoreThread(state);
    PyObject* message = PyUnicode_DecodeFSDefaultAndSize(result.message.data(),
                                                         static_cast<Py_ssize_t>(result.message.size()));
    if (message == nullptr) return nullptr;
    return Py_BuildValue("iNKK", static_cast<int>(result.failure), message,
                         static_cast<unsigned long long>(result.bytes),
                         static_cast<unsigned long long>(result.structures));
}

PyMethodDef methods[] = {
    {"merge", merge, METH_VARARGS, "merge(output, parts) -> (failure, message, bytes, structures)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT, "_compiled_merge", "The merge of part libraries.", -1, methods,
                      nullptr, nullptr, nullptr, nullptr};

}  // namespace

// NOLINTNEXTLINE(bugprone-reserved-identifier): the name CPython looks for
PyMODINIT_FUNC PyInit__compiled_merge() { return PyModule_Create(&module); }
