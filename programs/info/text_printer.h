// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "info/library.h"

namespace info {

// A library read whole, as lines for people on stdout; names quoted, with control bytes escaped.
void printText(const Library& library);
// A name in quotes, as printText writes it.
std::string quotedName(const std::string& name);

}  // namespace info
