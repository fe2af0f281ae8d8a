// SPDX-License-Identifier: MIT
#pragma once

// The CBLOCK record: id 34, compression type 0 (raw deflate), the byte
// counts before and after compression, then the compressed bytes, which
// form one whole deflate stream (the reader inflates each block on its own).

#include <cstddef>
#include <cstdint>

#include "oasis/oasis_bytes.h"
#include "oasis/oasis_records.h"

namespace carvelle {

inline constexpr std::uint8_t kCblockRecord = 34;  // beside OasisRecord: written by the compressor
inline constexpr std::uint8_t kCblockDeflate = 0;
// Room for the header in front of the compressed bytes.
inline constexpr std::size_t kCblockHeaderRoom = 2 + 2 * kMaxUintSize;

// Writes the header so that it ends at end; returns where it begins.
inline std::uint8_t* putCblockHeader(std::uint8_t* end, std::uint64_t uncompressed, std::uint64_t compressed) {
    std::uint8_t header[kCblockHeaderRoom];
    OasisBytes out(header);
    out.byte(kCblockRecord).uint(kCblockDeflate).uint(uncompressed).uint(compressed);
    const auto size = static_cast<std::size_t>(out.position() - header);
    std::uint8_t* start = end - size;
    for (std::size_t k = 0; k < size; ++k) start[k] = header[k];
    return start;
}

}  // namespace carvelle
