/* SPDX-License-Identifier: MIT */
/* The one platform call of the module: which file holds the library it
 * calls. (The library's own platform code is C++ and not exported.) */
#include "compiled.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

PyObject *library_path(PyObject *module, PyObject *unused) {
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
