// SPDX-License-Identifier: MIT
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "encoding/real8.h"
#include "encoding/record_tags.h"
#include "encoding/timestamp.h"

namespace carvelle {

// Total sizes of records, header included, by payload.
inline constexpr std::size_t kRecordHeaderSize = 4;
inline constexpr std::size_t kEmptyRecordSize = kRecordHeaderSize;
inline constexpr std::size_t kInt16RecordSize = kRecordHeaderSize + 2;
inline constexpr std::size_t kInt32RecordSize = kRecordHeaderSize + 4;
inline constexpr std::size_t kReal8RecordSize = kRecordHeaderSize + 8;
inline constexpr std::size_t kTimestampRecordSize = kRecordHeaderSize + 24;

// The largest payload whose total length fits the 16-bit length field, kept
// even: 65530 bytes of text, or 8190 points.
inline constexpr std::size_t kMaxPayload = 65530;
inline constexpr std::size_t kMaxTextLength = kMaxPayload;
inline constexpr std::size_t kMaxRecordPoints = 8190;

// Strings are padded to an even length with one NUL.
constexpr std::size_t paddedLength(std::size_t length) { return length + (length & 1); }
constexpr std::size_t stringRecordSize(std::size_t length) { return kRecordHeaderSize + paddedLength(length); }
constexpr std::size_t pointsRecordSize(std::size_t points) { return kRecordHeaderSize + 8 * points; }

// Length of text up to its NUL, counting no further than limit + 1.
inline std::size_t boundedLength(const char* text, std::size_t limit) {
    std::size_t length = 0;
    while (length <= limit && text[length] != '\0') ++length;
    return length;
}

// Big-endian stores. On a little-endian GCC or Clang host the value is
// swapped in a register and stored whole (one BSWAP or MOVBE, and the XY loop
// vectorises); byte stores alone make GCC merge an element's unrolled stores
// through the stack, at twice the cost. Elsewhere, explicit shifts.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline void storeBigEndian16(std::uint8_t* at, std::uint16_t value) {
    value = __builtin_bswap16(value);
    std::memcpy(at, &value, sizeof value);
}
inline void storeBigEndian32(std::uint8_t* at, std::uint32_t value) {
    value = __builtin_bswap32(value);
    std::memcpy(at, &value, sizeof value);
}
#else
inline void storeBigEndian16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
inline void storeBigEndian32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}
#endif

// Stores records into room reserved in a ByteSink. Nothing is checked per
// value: the writer reserved enough for the whole element beforehand.
class RecordWriter {
public:
    explicit RecordWriter(std::uint8_t* at) : at_(at) {}
    std::uint8_t* position() const { return at_; }

    RecordWriter& put2(std::uint16_t value) {
        storeBigEndian16(at_, value);
        at_ += 2;
        return *this;
    }
    RecordWriter& put4(std::uint32_t value) {
        storeBigEndian32(at_, value);
        at_ += 4;
        return *this;
    }
    RecordWriter& put8(const Real8& value) { return putBytes(value.data(), value.size()); }
    RecordWriter& put24(const Timestamp& value) { return putBytes(value.data(), value.size()); }
    // The text's bytes, then one NUL when the length is odd.
    RecordWriter& putString(const char* text, std::size_t length) {
        putBytes(text, length);
        if (length & 1) *at_++ = 0;
        return *this;
    }

    // The record header: total length (header included), then the tag. The
    // one place where a record's length is computed.
    RecordWriter& header(Record record, std::size_t payloadSize) {
        assert(payloadSize <= kMaxPayload + 1);
        const RecordTag tag = tagOf(record);
        put2(static_cast<std::uint16_t>(kRecordHeaderSize + payloadSize));
        at_[0] = tag.recordType;
        at_[1] = tag.dataType;
        at_ += 2;
        return *this;
    }

    RecordWriter& emptyRecord(Record record) { return header(record, 0); }
    RecordWriter& int16Record(Record record, std::int16_t value) {
        return header(record, 2).put2(static_cast<std::uint16_t>(value));
    }
    RecordWriter& int32Record(Record record, std::int32_t value) {
        return header(record, 4).put4(static_cast<std::uint32_t>(value));
    }
    RecordWriter& real8Record(Record record, const Real8& value) { return header(record, 8).put8(value); }
    RecordWriter& timestampRecord(Record record, const Timestamp& value) {
        return header(record, 24).put24(value);
    }
    RecordWriter& stringRecord(Record record, const char* text, std::size_t length) {
        return header(record, paddedLength(length)).putString(text, length);
    }

    // Whole records, copied as they are (records another writer made).
    RecordWriter& putRecords(const std::uint8_t* bytes, std::size_t size) { return putBytes(bytes, size); }

    // XY of count points (xs[i], ys[i]); closed repeats point 0 at the end.
    RecordWriter& pointsRecord(const std::int32_t* xs, const std::int32_t* ys, std::size_t count,
                               bool closed = false) {
        header(Record::Xy, 8 * (count + (closed ? 1 : 0)));
        std::uint8_t* at = at_;
        for (std::size_t i = 0; i < count; ++i, at += 8) {
            storeBigEndian32(at, static_cast<std::uint32_t>(xs[i]));
            storeBigEndian32(at + 4, static_cast<std::uint32_t>(ys[i]));
        }
        at_ = at;
        if (closed) put4(static_cast<std::uint32_t>(xs[0])).put4(static_cast<std::uint32_t>(ys[0]));
        return *this;
    }

private:
    RecordWriter& putBytes(const void* bytes, std::size_t size) {
        std::memcpy(at_, bytes, size);
        at_ += size;
        return *this;
    }

    std::uint8_t* at_;
};

}  // namespace carvelle
