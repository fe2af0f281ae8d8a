// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "info/library.h"

namespace info {

// A graph as each node's children, packed: node n's are child[begin[n] .. begin[n + 1]).
struct Graph {
    std::vector<std::uint64_t> begin{0};
    std::vector<std::uint32_t> child;
    std::size_t nodes() const { return begin.size() - 1; }
};

// The cycles of a graph: each closed by an edge back to a node on the walk's path, listed from that node round
// to it again.
std::vector<std::vector<std::size_t>> findCycles(const Graph& graph);

// Fills the library's top structures (referenced by none), undefined references (with the structures that make
// them, by name) and cycles, from the references of its structures.
void findHierarchy(Library& library);

}  // namespace info
