// SPDX-License-Identifier: MIT
#include "merge/part_head.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "encoding/record_tags.h"

namespace carvelle::merge {

Real8 unitAt(const std::string& payload, std::size_t index) {
    Real8 real{};
    std::copy_n(payload.begin() + static_cast<std::ptrdiff_t>(sizeof(Real8) * index), real.size(), real.begin());
    return real;
}

bool sameUnits(const std::string& a, const std::string& b) {
    return sameReal8(unitAt(a, 0), unitAt(b, 0)) && sameReal8(unitAt(a, 1), unitAt(b, 1));
}

std::string describeUnits(const std::string& payload) {
    // The same layout for every value, 17 significant digits, and each real's bytes beside it: two values that
    // differ show it in the digits where a double can, and in the bytes always.
    char text[160];
    int at = 0;
    for (std::size_t index = 0; index < 2 && at >= 0 && static_cast<std::size_t>(at) < sizeof text; ++index) {
        const Real8 real = unitAt(payload, index);
        at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at),
                            "%s %.16e (%02X %02X %02X %02X %02X %02X %02X %02X)",
                            index == 0 ? "user unit" : ", meter unit", fromReal8(real), real[0], real[1], real[2],
                            real[3], real[4], real[5], real[6], real[7]);
    }
    return text;
}

std::string firstDifferentRecord(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    auto lengthAt = [](const std::string& records, std::size_t offset) {
        return std::size_t{static_cast<std::uint8_t>(records[offset])} << 8 |
               static_cast<std::uint8_t>(records[offset + 1]);
    };
    while (at < a.size() && at < b.size()) {
        const std::size_t length = lengthAt(a, at);
        if (a.compare(at, length, b, at, lengthAt(b, at)) != 0) break;
        at += length;
    }
    if (at >= a.size() && at >= b.size()) return {};
    const std::string& longer = at < a.size() ? a : b;
    return recordName(static_cast<std::uint8_t>(longer[at + 2]));
}

}  // namespace carvelle::merge
