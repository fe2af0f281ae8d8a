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
    char text[160];
    int at = std::snprintf(text, sizeof text, "user unit %.17g, %.17g m (", fromReal8(unitAt(payload, 0)),
                           fromReal8(unitAt(payload, 1)));
    for (std::size_t i = 0; i < payload.size() && at > 0 && static_cast<std::size_t>(at) + 4 < sizeof text; ++i) {
        at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), i == 0 ? "%02X" : " %02X",
                            static_cast<std::uint8_t>(payload[i]));
    }
    return std::string(text) + ")";
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
