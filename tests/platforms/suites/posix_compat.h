// SPDX-License-Identifier: MIT
// Force-included into the suites when they are built with MinGW: the few
// POSIX calls that the shared test helpers use and that the Windows C
// runtime spells differently.
#pragma once
#if defined(_WIN32) && defined(__cplusplus)
#include <direct.h>
#include <io.h>
#include <cstdlib>

// mkdtemp: replaces the trailing XXXXXX of pattern and creates the folder.
inline char* mkdtemp(char* pattern) {
    if (_mktemp(pattern) == nullptr) return nullptr;
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}
#endif
