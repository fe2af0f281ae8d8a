// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace carvelle {

// The 24-byte payload of BGNLIB and BGNSTR, in file order: year - 1900,
// month, day, hour, minute, second as 2-byte big-endian words, then the same
// six words again (the format's two dates get the same moment).
using Timestamp = std::array<std::uint8_t, 24>;

Timestamp timestampOf(const LocalTime& time);

// One reading of the local time, as a Timestamp.
Timestamp currentTimestamp();

}  // namespace carvelle
