// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/record_writer.h"

namespace carvelle {

// The stream version that HEADER gives for what this library writes, kept with the tags.
inline constexpr std::uint16_t kStreamVersion =
    static_cast<std::uint16_t>(tagOf(Record::StreamVersion).recordType << 8 | tagOf(Record::StreamVersion).dataType);

// Bytes of a library's head with a name of nameLength bytes and `between` bytes of whole records between
// LIBNAME and UNITS.
constexpr std::size_t libraryHeadSize(std::size_t nameLength, std::size_t between = 0) {
    return kInt16RecordSize + kTimestampRecordSize + stringRecordSize(nameLength) + between + kRecordHeaderSize +
           2 * sizeof(Real8);
}

// HEADER, BGNLIB, the records before LIBNAME (the merge's other writers' LIBDIRSIZE, SRFNAME), LIBNAME, the
// records between (REFLIBS, FONTS ...), UNITS: the one place that writes a library's head, for the library
// writer and the merge alike.
inline void putLibraryHead(RecordWriter& out, std::uint16_t version, const Timestamp& now, const char* name,
                           std::size_t nameLength, const Real8& userUnit, const Real8& meterUnit,
                           const std::uint8_t* between = nullptr, std::size_t betweenSize = 0,
                           const std::uint8_t* beforeName = nullptr, std::size_t beforeNameSize = 0) {
    out.header(Record::Header, 2).put2(version);
    out.timestampRecord(Record::BgnLib, now);
    if (beforeNameSize > 0) out.putRecords(beforeName, beforeNameSize);
    out.stringRecord(Record::LibName, name, nameLength);
    if (betweenSize > 0) out.putRecords(between, betweenSize);
    out.header(Record::Units, 2 * sizeof(Real8)).put8(userUnit).put8(meterUnit);
}

}  // namespace carvelle
