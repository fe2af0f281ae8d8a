// SPDX-License-Identifier: MIT
#pragma once

// Point lists of POLYGON and PATH records: the smallest of the first five
// types that holds the points exactly.

#include <cstddef>
#include <cstdint>

#include "oasis/oasis_bytes.h"

namespace carvelle {

enum class PointListType : std::uint8_t {
    HorizontalFirst = 0,  // 1-deltas, alternately along x and y
    VerticalFirst = 1,    // 1-deltas, alternately along y and x
    Manhattan = 2,        // 2-deltas
    Octangular = 3,       // 3-deltas
    General = 4,          // g-deltas
};

// The type for the count points of xs/ys. A polygon's list leaves out its
// closing edge (and, with types 0 and 1, the last vertex, which the reader
// places); types 0 and 1 then need an even count of vertices, every edge
// including the closing one alternating between the axes, as strict readers
// require.
PointListType choosePointList(const std::int32_t* xs, const std::int32_t* ys, std::size_t count, bool polygon);

// The bytes the list may take at most.
constexpr std::size_t pointListMaxSize(std::size_t count) { return 1 + kMaxUintSize + count * kMaxGdeltaSize; }

// Writes the type, the count of deltas and the deltas from the first point.
void putPointList(OasisBytes& out, PointListType type, const std::int32_t* xs, const std::int32_t* ys,
                  std::size_t count, bool polygon);

}  // namespace carvelle
