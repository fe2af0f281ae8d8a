// SPDX-License-Identifier: MIT
#pragma once

#include "info/library.h"

namespace info {

// Fills the library's top structures (referenced by none), undefined references (with the structures that make
// them, by name) and cycles, from the references of its structures.
void findHierarchy(Library& library);

}  // namespace info
