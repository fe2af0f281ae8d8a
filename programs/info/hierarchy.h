// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <vector>

#include "info/library.h"

namespace info {

// The cycles of a graph given as each node's children: each closed by an edge back to a node on the walk's path,
// listed from that node round to it again.
std::vector<std::vector<std::size_t>> findCycles(const std::vector<std::vector<std::size_t>>& children);

// Fills the library's top structures (referenced by none), undefined references (with the structures that make
// them, by name) and cycles, from the references of its structures.
void findHierarchy(Library& library);

}  // namespace info
