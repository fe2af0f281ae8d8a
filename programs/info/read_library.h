// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>

#include "info/checker.h"
#include "info/library.h"

namespace info {

enum class Outcome { Read,
                     Damaged,
                     Unreadable };

// Reads the file at library.path in pieces (a .gz file decompressed on the way): its figures and hierarchy when
// it is read; otherwise library.error says why, and for a damaged file library.errorOffset says where (0 for a
// file that is no GDSII library; for damaged gzip data, the library byte where the data decompressed ends).
// With a check, the records are checked against its rules instead, and no figures are gathered. With
// properties, each property is printed there as it is read (carvelle-info --properties).
Outcome read(Library& library, Check* check = nullptr, std::FILE* properties = nullptr);

}  // namespace info
