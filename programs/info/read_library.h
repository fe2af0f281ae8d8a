// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>

#include "info/library.h"

namespace info {

enum class Outcome { Read,
                     Damaged,
                     Unreadable };

// Reads the file at library.path in pieces (a .gz file decompressed on the way): its figures and hierarchy when
// it is read; otherwise library.error says why, and for a damaged file library.errorOffset says where (0 for a
// file that is no GDSII library, or whose gzip data is damaged).
// With properties, each property is printed there as it is read (carvelle-info --properties).
Outcome read(Library& library, std::FILE* properties = nullptr);

}  // namespace info
