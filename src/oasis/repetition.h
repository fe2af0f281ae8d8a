// SPDX-License-Identifier: MIT
#pragma once

// The repetition of an array placement: cols x rows copies on a lattice of a
// column step and a row step.

#include <cstddef>
#include <cstdint>

#include "oasis/oasis_bytes.h"

namespace carvelle {

struct Lattice {
    std::uint64_t cols = 1, rows = 1;
    std::int64_t colX = 0, colY = 0;  // from one column to the next
    std::int64_t rowX = 0, rowY = 0;  // from one row to the next
};

inline constexpr std::size_t kMaxRepetitionSize = 1 + 2 * kMaxUintSize + 2 * kMaxGdeltaSize;

// Writes the repetition that gives the same set of copies as lattice from
// (x, y), with the fewest bytes: the matrix along the axes (type 1), one row
// or column along an axis (2, 3), or a general lattice (8, 9). Repetitions
// along the axes hold unsigned spacings only: a negative step is turned
// round and (x, y) moved to the far end, which leaves the set the same. A
// step of zero places its copies on top of each other and counts once, as
// readers take it. False, with nothing written, when one copy is left.
bool putRepetition(OasisBytes& out, Lattice lattice, std::int64_t& x, std::int64_t& y);

}  // namespace carvelle
