// SPDX-License-Identifier: MIT
#pragma once

// The modal variables of OASIS that this writer uses: a field left out of a
// record takes the value the last record gave it. Every one starts unknown
// in each cell (CELL resets them), so the first record that needs one
// writes it.

#include <cstdint>

namespace carvelle {

template <typename T>
struct Modal {
    T value{};
    bool known = false;
    // True when the reader already holds value: the field can be left out.
    // Otherwise value becomes the modal value, and the field is written.
    bool keep(T next) {
        if (known && value == next) return true;
        value = next;
        known = true;
        return false;
    }
};

struct ModalState {
    Modal<std::uint32_t> layer, datatype, textlayer, texttype;
    Modal<std::int64_t> geometryX, geometryY, placementX, placementY, textX, textY;
    Modal<std::uint64_t> geometryW, geometryH, halfWidth, placementCell, textString;
    Modal<std::int64_t> startExtension, endExtension;

    void reset() { *this = ModalState{}; }
};

}  // namespace carvelle
