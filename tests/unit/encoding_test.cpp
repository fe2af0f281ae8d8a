// SPDX-License-Identifier: MIT
// Timestamps, the tag table and the string padding rule.
#include "encoding/record_tags.h"
#include "encoding/record_writer.h"
#include "encoding/timestamp.h"
#include "gds_test_support.h"

using gdstest::Bytes;
using gdstest::hex;
using gdstest::operator+;

namespace {

TEST(Timestamp, SixWordsBigEndianTwice) {
    const auto stamp = carvelle::timestampOf({2026, 12, 6, 16, 19, 38});
    const Bytes half = hex("00 7E 00 0C 00 06 00 10 00 13 00 26");
    EXPECT_EQ(Bytes(stamp.begin(), stamp.end()), half + half);
}

TEST(RecordTags, EveryEntryInFileOrder) {
    const Bytes expected = hex(
        "00 03 00 02 01 02 02 06 03 05 04 00 05 02 06 06 07 00 08 00 09 00 0A 00 0B 00 0C 00 0D 02"
        "0E 02 0F 03 10 03 11 00 12 06 13 02 15 00 16 02 17 01 19 06 1A 01 1B 05 1C 05 21 02 26 01"
        "2A 02 2D 00 2E 02 2F 03 2B 02 2C 06");
    Bytes actual;
    for (const auto& tag : carvelle::kRecordTags) actual = actual + Bytes{tag.recordType, tag.dataType};
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(sizeof(carvelle::kRecordTags) / sizeof(carvelle::kRecordTags[0]), 36u);
}

TEST(RecordLayout, PaddedLengthIsEven) {
    EXPECT_EQ(carvelle::paddedLength(0), 0u);
    EXPECT_EQ(carvelle::paddedLength(1), 2u);
    EXPECT_EQ(carvelle::paddedLength(2), 2u);
    EXPECT_EQ(carvelle::paddedLength(65529), 65530u);
    EXPECT_EQ(carvelle::paddedLength(65530), 65530u);
}

}  // namespace
