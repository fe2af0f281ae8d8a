// SPDX-License-Identifier: MIT
#pragma once

#include "info/library.h"

namespace info {

// A library read whole, as lines for people on stdout; names quoted, with control bytes escaped.
void printText(const Library& library);

}  // namespace info
