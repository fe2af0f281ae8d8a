// SPDX-License-Identifier: MIT
#include "encoding/timestamp.h"

#include <cstdlib>

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

LocalTime utcTimeOf(std::int64_t seconds) {
    // Days to a civil date in the proleptic Gregorian calendar, counted in
    // 400-year eras from 0000-03-01 so that the leap day ends each year; no
    // gmtime, whose time_t may be 32 bits and whose result is shared.
    const std::int64_t days = seconds / 86400;
    const std::int64_t rest = seconds % 86400;
    const std::int64_t shifted = days + 719468;  // days from 0000-03-01 to 1970-01-01
    const std::int64_t era = shifted / 146097;
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const std::int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int>(year), static_cast<int>(month),
            static_cast<int>(day), static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

bool sourceDateEpoch(std::int64_t& seconds) {
    // Read once per library; getenv is safe beside other getenv calls, not
    // beside a setenv on another thread, as everywhere.
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') return false;
    std::int64_t value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        value = value * 10 + (*text - '0');
        if (value > kLastTimestampSecond) return false;  // before it could overflow
    }
    seconds = value;
    return true;
}

LibraryClock LibraryClock::fromEnvironment() {
    std::int64_t seconds = 0;
    return sourceDateEpoch(seconds) ? at(seconds) : LibraryClock{};
}

}  // namespace carvelle
