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

// The last second whose year has four digits, 9999-12-31 23:59:59 UTC: the
// latest moment a timestamp is given for.
inline constexpr std::int64_t kLastTimestampSecond = 253402300799;

// The UTC time of seconds since 1970-01-01 00:00:00 UTC (0 to
// kLastTimestampSecond), leap seconds aside as in every Unix clock.
LocalTime utcTimeOf(std::int64_t seconds);

// The moment a library's writer stamps: SOURCE_DATE_EPOCH's seconds, when the
// variable holds a decimal integer of 0 to kLastTimestampSecond (digits only),
// so that two runs give the same bytes; otherwise none, and the writer reads
// the clock. A value that is not such a number is ignored rather than
// refused: a library should not fail a host over its environment.
bool sourceDateEpoch(std::int64_t& seconds);

// The fixed stamp of a library, or the clock's.
struct LibraryClock {
    bool fixed = false;
    Timestamp stamp{};

    Timestamp now() const { return fixed ? stamp : currentTimestamp(); }
    // SOURCE_DATE_EPOCH's time, when set; the clock's otherwise.
    static LibraryClock fromEnvironment();
    static LibraryClock at(std::int64_t seconds) { return {true, timestampOf(utcTimeOf(seconds))}; }
    // Every word zero, as tools write that are told to leave the time out.
    static LibraryClock zero() { return {true, Timestamp{}}; }
};

}  // namespace carvelle
