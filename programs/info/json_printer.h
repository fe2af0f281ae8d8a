// SPDX-License-Identifier: MIT
#pragma once

#include "info/library.h"
#include "info/read_library.h"

namespace info {

// One library as a JSON object on stdout, for scripts: its figures when it was read, else its error (and the
// byte where a damaged file goes wrong).
void printJson(const Library& library, Outcome outcome);

}  // namespace info
