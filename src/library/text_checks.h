// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>

#include "encoding/record_writer.h"
#include "library/result_table.h"

namespace carvelle {

// GDS_ERR_NO_STRING for a null text, GDS_ERR_STRING_LENGTH for one longer
// than limit bytes; otherwise GDS_OK with its length in length. Reads at most
// limit + 1 bytes, so a huge or unterminated-looking name costs no more.
inline ResultCode measureText(const char* text, std::size_t limit, std::size_t& length) {
    if (text == nullptr) return GDS_ERR_NO_STRING;
    length = boundedLength(text, limit);
    return length > limit ? GDS_ERR_STRING_LENGTH : GDS_OK;
}

}  // namespace carvelle
