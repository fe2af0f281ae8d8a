// SPDX-License-Identifier: MIT
#include "oasis/repetition.h"

namespace carvelle {

namespace {

std::uint64_t magnitudeOf(std::int64_t value) {
    return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Moves the origin to the far end of a negative step of count copies.
void turnRound(std::int64_t& origin, std::int64_t step, std::uint64_t count) {
    if (step < 0) origin += step * static_cast<std::int64_t>(count - 1);
}

enum class RepetitionType : std::uint8_t { Matrix = 1,
                                           Row = 2,
                                           Column = 3,
                                           Lattice2 = 8,
                                           Lattice1 = 9 };

}  // namespace

bool putRepetition(OasisBytes& out, Lattice lattice, std::int64_t& x, std::int64_t& y) {
    if (lattice.colX == 0 && lattice.colY == 0) lattice.cols = 1;
    if (lattice.rowX == 0 && lattice.rowY == 0) lattice.rows = 1;
    if (lattice.cols <= 1 && lattice.rows <= 1) return false;
    if (lattice.cols <= 1 || lattice.rows <= 1) {
        // One line of copies.
        const bool alongCols = lattice.cols > 1;
        const std::uint64_t count = alongCols ? lattice.cols : lattice.rows;
        const std::int64_t stepX = alongCols ? lattice.colX : lattice.rowX;
        const std::int64_t stepY = alongCols ? lattice.colY : lattice.rowY;
        if (stepY == 0) {
            turnRound(x, stepX, count);
            out.uint(static_cast<std::uint64_t>(RepetitionType::Row)).uint(count - 2).uint(magnitudeOf(stepX));
        } else if (stepX == 0) {
            turnRound(y, stepY, count);
            out.uint(static_cast<std::uint64_t>(RepetitionType::Column)).uint(count - 2).uint(magnitudeOf(stepY));
        } else {
            out.uint(static_cast<std::uint64_t>(RepetitionType::Lattice1)).uint(count - 2).gdelta(stepX, stepY);
        }
        return true;
    }
    if (lattice.colY == 0 && lattice.rowX == 0) {
        turnRound(x, lattice.colX, lattice.cols);
        turnRound(y, lattice.rowY, lattice.rows);
        out.uint(static_cast<std::uint64_t>(RepetitionType::Matrix))
            .uint(lattice.cols - 2)
            .uint(lattice.rows - 2)
            .uint(magnitudeOf(lattice.colX))
            .uint(magnitudeOf(lattice.rowY));
    } else if (lattice.colX == 0 && lattice.rowY == 0) {
        // Columns up the y axis, rows along x: the same matrix, read the other way.
        turnRound(x, lattice.rowX, lattice.rows);
        turnRound(y, lattice.colY, lattice.cols);
        out.uint(static_cast<std::uint64_t>(RepetitionType::Matrix))
            .uint(lattice.rows - 2)
            .uint(lattice.cols - 2)
            .uint(magnitudeOf(lattice.rowX))
            .uint(magnitudeOf(lattice.colY));
    } else {
        out.uint(static_cast<std::uint64_t>(RepetitionType::Lattice2))
            .uint(lattice.cols - 2)
            .uint(lattice.rows - 2)
            .gdelta(lattice.colX, lattice.colY)
            .gdelta(lattice.rowX, lattice.rowY);
    }
    return true;
}

}  // namespace carvelle
