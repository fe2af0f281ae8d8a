// SPDX-License-Identifier: MIT
#pragma once

// Records that several element kinds share, written in one place.

#include <cstddef>
#include <cstdint>

#include "encoding/real8.h"
#include "encoding/record_writer.h"

namespace carvelle {

// The element's opening record, then ELFLAGS and PLEX, always present.
inline constexpr std::size_t kElementOpeningSize = kEmptyRecordSize + kInt16RecordSize + kInt32RecordSize;
inline RecordWriter& openElement(RecordWriter& out, Record kind, std::int16_t elflags, std::int32_t plex) {
    return out.emptyRecord(kind).int16Record(Record::ElFlags, elflags).int32Record(Record::Plex, plex);
}

// STRANS, MAG and ANGLE of TEXT, SREF and AREF.
inline constexpr std::size_t kTransformationSize = kInt16RecordSize + 2 * kReal8RecordSize;
inline RecordWriter& putTransformation(RecordWriter& out, std::int16_t strans, double mag, double angle) {
    return out.int16Record(Record::Strans, strans)
        .real8Record(Record::Mag, toReal8(mag))
        .real8Record(Record::Angle, toReal8(angle));
}

inline constexpr std::size_t kElementEndSize = kEmptyRecordSize;
inline RecordWriter& closeElement(RecordWriter& out) { return out.emptyRecord(Record::EndEl); }

}  // namespace carvelle
