// SPDX-License-Identifier: MIT
#include "oasis/signature.h"

#include <array>

namespace carvelle {

namespace {

constexpr std::uint32_t kPolynomial = 0xedb88320u;  // reflected IEEE

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

}  // namespace

std::uint32_t crc32Portable(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    crc = ~crc;
    for (std::size_t k = 0; k < size; ++k) crc = kTable[(crc ^ data[k]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

}  // namespace carvelle
