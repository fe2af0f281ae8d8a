// SPDX-License-Identifier: MIT
#include "encoding/timestamp.h"

namespace carvelle {

Timestamp timestampOf(const LocalTime& time) {
    const int words[6] = {time.year - 1900, time.month, time.day, time.hour, time.minute, time.second};
    Timestamp stamp{};
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t i = 0; i < 6; ++i) {
            const auto word = static_cast<std::uint16_t>(words[i]);
            stamp[12 * half + 2 * i] = static_cast<std::uint8_t>(word >> 8);
            stamp[12 * half + 2 * i + 1] = static_cast<std::uint8_t>(word);
        }
    }
    return stamp;
}

Timestamp currentTimestamp() { return timestampOf(readLocalTime()); }

}  // namespace carvelle
