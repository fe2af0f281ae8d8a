// SPDX-License-Identifier: MIT
// Writes one part library for the merge benchmark: STRUCTURES structures
// named PREFIX0, PREFIX1 ..., each of BOXES boxes on the benchmark's grid.
// Usage: carvelle_write_part FILE PREFIX STRUCTURES BOXES
#include <cstdio>
#include <cstdlib>
#include <string>

#include "carvelle.hpp"
#include "shapes.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s FILE PREFIX STRUCTURES BOXES\n", argv[0]);
        return 2;
    }
    const unsigned long structures = std::strtoul(argv[3], nullptr, 10);
    const unsigned long long boxes = std::strtoull(argv[4], nullptr, 10);
    try {
        carvelle::Library lib(argv[1], SHAPE_USER_UNIT, SHAPE_METER_UNIT);
        for (unsigned long s = 0; s < structures; ++s) {
            auto cell = lib.structure(argv[2] + std::to_string(s));
            for (unsigned long long i = 0; i < boxes; ++i) {
                const int32_t x = shapeX(i), y = shapeY(i);
                lib.box(x, y, x + BOX_SIDE, y + BOX_SIDE, SHAPE_LAYER);
            }
        }
        lib.close();
    } catch (const carvelle::Error& error) {
        std::fprintf(stderr, "carvelle_write_part: %s\n", error.what());
        return 1;
    }
    return 0;
}
