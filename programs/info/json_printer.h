// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "info/library.h"
#include "info/read_library.h"

namespace info {

// One library as a JSON object on stdout, for scripts: its figures when it was read, else its error (and the
// byte where a damaged file goes wrong).
void printJson(const Library& library, Outcome outcome);
// A name or message as a JSON string, as printJson writes them.
std::string jsonString(const std::string& text);

}  // namespace info
