// SPDX-License-Identifier: MIT
// Properties attached to the element just written, and the fixed time of
// BGNLIB and BGNSTR.
#include <cstdlib>

#include "api_fixture.h"

using namespace gdstest;

namespace {

const Bytes kBoxBody = int16Record(LAYER, 1) + int16Record(BOXTYPE, 0) +
                       xyRecord({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}});
Bytes box() { return opening(BOX, 0, 0) + kBoxBody; }
Bytes property(int attribute, const std::string& value) {
    return int16Record(PROPATTR, attribute) + record(PROPVALUE, 0x06, padded(value));
}

using PropertyTest = ElementTest;

TEST_F(PropertyTest, PairsGoBeforeTheEndelWithOddValuesPadded) {
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 1, "abc"), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 127, "ab"), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 64, ""), GDS_OK);
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);  // the next element has none
    const std::string name = "leaf";
    ASSERT_EQ(GDS_Sref(h, name.c_str(), 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 2, "n"), GDS_OK);
    const Bytes sref = opening(SREF, 0, 0) + record(SNAME, 0x06, padded(name)) + record(STRANS, 0x01, be16(0)) +
                       record(MAG, 0x05, kOne) + record(ANGLE, 0x05, kZero8) + xyRecord({{0, 0}});
    EXPECT_EQ(elements(), box() + hex("00 06 2B 02 00 01  00 08 2C 06 61 62 63 00  00 06 2B 02 00 7F"
                                      "00 06 2C 06 61 62  00 06 2B 02 00 40  00 04 2C 06  00 04 11 00") +
                              box() + kEndEl + sref + property(2, "n") + kEndEl);
}

TEST_F(PropertyTest, OnlyTheCallRightAfterAnElementMayAttach) {
    EXPECT_EQ(GDS_Property(nullptr, 1, "x"), GDS_ERR_HANDLE);
    EXPECT_EQ(GDS_Property(h, 1, "x"), GDS_ERR_NO_ELEMENT);  // right after GDS_BeginStructure
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_Property(h, 1, nullptr), GDS_ERR_NO_STRING);
    const std::int32_t xs[] = {0, 1}, ys[] = {0, 1};
    EXPECT_EQ(GDS_Boundary(h, xs, ys, 2, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    EXPECT_EQ(GDS_Property(h, 1, "x"), GDS_ERR_NO_ELEMENT);  // a refused call in between
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_Property(h, 1, "x"), GDS_ERR_NO_ELEMENT);
    ASSERT_EQ(GDS_BeginStructure(h, "T"), GDS_OK);
    ASSERT_EQ(GDS_Node(h, xs, ys, 1, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 3, "node"), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    ASSERT_EQ(GDS_EndLib(h), GDS_OK);
    h = nullptr;
    const auto records = splitRecords(readFile(path));
    // ... NODE, ELFLAGS, PLEX, LAYER, NODETYPE, XY, PROPATTR, PROPVALUE, ENDEL, ENDSTR, ENDLIB.
    ASSERT_GT(records.size(), 6u);
    const Bytes tail = records[records.size() - 5].bytes() + records[records.size() - 4].bytes() +
                       records[records.size() - 3].bytes();
    EXPECT_EQ(tail, property(3, "node") + kEndEl);
    std::size_t pairs = 0;
    for (const auto& r : records) pairs += r.type == PROPATTR;
    EXPECT_EQ(pairs, 1u);

    GdsHandle failed = nullptr;
    EXPECT_EQ(GDS_BeginLib(dir.file("no/such/dir.gds").c_str(), 0.001, 1e-9, &failed), GDS_ERR_OPEN);
    EXPECT_EQ(GDS_Property(failed, 1, "x"), GDS_ERR_STOPPED);
    GDS_EndLib(failed);
}

TEST_F(PropertyTest, TheFormatsLimitsAreRefusedAndLeaveTheElementAsItWas) {
    const std::string longest(126, 'v'), tooLong(127, 'v');
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    for (int attribute : {0, 128, -1, 32767, -32768}) {
        EXPECT_EQ(GDS_Property(h, static_cast<int16_t>(attribute), "x"), GDS_ERR_PROPERTY) << attribute;
    }
    EXPECT_EQ(GDS_Property(h, 5, tooLong.c_str()), GDS_ERR_PROPERTY);
    ASSERT_EQ(GDS_Property(h, 5, longest.c_str()), GDS_OK);  // 126 + 2 = 128 bytes: the whole room
    EXPECT_EQ(GDS_Property(h, 6, ""), GDS_ERR_PROPERTY);
    // The count starts again with each element; 61 + 1 + 2 and 62 + 2 make 128.
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 5, std::string(61, 'a').c_str()), GDS_OK);
    EXPECT_EQ(GDS_Property(h, 5, "b"), GDS_ERR_PROPERTY);                           // the same attribute twice
    EXPECT_EQ(GDS_Property(h, 6, std::string(63, 'c').c_str()), GDS_ERR_PROPERTY);  // 64 + 2 would be 130
    ASSERT_EQ(GDS_Property(h, 6, std::string(62, 'c').c_str()), GDS_OK);
    // References hold 512: four values of 126.
    const int32_t xs[] = {0, 10, 0}, ys[] = {0, 0, 10};
    ASSERT_EQ(GDS_Aref(h, "leaf", xs, ys, 1, 1, 0, 1.0, 0.0, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_Property(h, 5, tooLong.c_str()), GDS_ERR_PROPERTY);  // too long, though the room would hold it
    for (int16_t attribute = 1; attribute <= 4; ++attribute) {
        ASSERT_EQ(GDS_Property(h, attribute, longest.c_str()), GDS_OK) << attribute;
    }
    EXPECT_EQ(GDS_Property(h, 9, ""), GDS_ERR_PROPERTY);
    const auto records = elementRecords();
    std::vector<std::pair<int, std::size_t>> pairs;  // attribute, value length with padding
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        if (records[i].type != PROPATTR) continue;
        ASSERT_EQ(records[i + 1].type, PROPVALUE);
        pairs.emplace_back(records[i].payload[0] << 8 | records[i].payload[1], records[i + 1].length - 4u);
    }
    const std::vector<std::pair<int, std::size_t>> expected = {{5, 126}, {5, 62}, {6, 62}, {1, 126}, {2, 126}, {3, 126}, {4, 126}};
    EXPECT_EQ(pairs, expected);
    EXPECT_EQ(records.back().type, ENDEL);
}

// ---- time ----
void setSourceDateEpoch(const char* value) {
#ifdef _WIN32
    _putenv_s("SOURCE_DATE_EPOCH", value == nullptr ? "" : value);
#else
    if (value == nullptr) {
        unsetenv("SOURCE_DATE_EPOCH");
    } else {
        setenv("SOURCE_DATE_EPOCH", value, 1);
    }
#endif
}

// The twelve words of BGNLIB and of the one BGNSTR of a library written with begin.
template <typename Begin>
std::pair<Bytes, Bytes> stamps(const TempDir& dir, Begin&& begin) {
    const std::string path = dir.file("time.gds");
    GdsHandle h = nullptr;
    EXPECT_EQ(begin(path.c_str(), &h), GDS_OK);
    EXPECT_EQ(GDS_BeginStructure(h, "S"), GDS_OK);
    EXPECT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_OK);
    const auto records = splitRecords(readFile(path));
    if (records.size() < 6) return {};
    const Bytes lib = records[1].bytes(), str = records[4].bytes();
    return {Bytes(lib.begin() + 4, lib.end()), Bytes(str.begin() + 4, str.end())};
}
Bytes twice(const Bytes& six) { return six + six; }
Bytes words(int year, int month, int day, int hour, int minute, int second) {
    return be16(year - 1900) + be16(month) + be16(day) + be16(hour) + be16(minute) + be16(second);
}

TEST(FixedTime, SourceDateEpochStampsEveryRecordInUtcAndOtherValuesAreIgnored) {
    TempDir dir;
    const auto plain = [](const char* name, GdsHandle* h) { return GDS_BeginLib(name, 0.001, 1e-9, h); };
    setSourceDateEpoch("951782400");  // 2000-02-29 00:00:00 UTC, a leap day
    const auto leap = stamps(dir, plain);
    EXPECT_EQ(leap.first, twice(words(2000, 2, 29, 0, 0, 0)));
    EXPECT_EQ(leap.second, leap.first);
    setSourceDateEpoch("253402300799");
    EXPECT_EQ(stamps(dir, plain).second, twice(words(9999, 12, 31, 23, 59, 59)));
    setSourceDateEpoch("0");
    EXPECT_EQ(stamps(dir, plain).first, twice(words(1970, 1, 1, 0, 0, 0)));
    // Not a count of seconds the format can hold: the clock's time, whose
    // year is no earlier than this test's writing.
    for (const char* ignored : {"253402300800", "-1", "12a", " 5", "1.5", "99999999999999999999999"}) {
        setSourceDateEpoch(ignored);
        const Bytes stamp = stamps(dir, plain).first;
        ASSERT_EQ(stamp.size(), 24u) << ignored;
        EXPECT_GE(stamp[0] << 8 | stamp[1], 2026 - 1900) << ignored;
        EXPECT_LT(stamp[0] << 8 | stamp[1], 3000 - 1900) << ignored;
    }
    // An explicit time wins over the environment.
    setSourceDateEpoch("951782400");
    const auto at = [](std::int64_t time) {
        return [time](const char* name, GdsHandle* h) { return GDS_BeginLibAt(name, 0.001, 1e-9, time, h); };
    };
    EXPECT_EQ(stamps(dir, at(1709296496)).second, twice(words(2024, 3, 1, 12, 34, 56)));
    EXPECT_EQ(stamps(dir, at(GDS_TIME_ZERO)).first, Bytes(24, 0));
    setSourceDateEpoch(nullptr);
    EXPECT_EQ(stamps(dir, at(0)).second, twice(words(1970, 1, 1, 0, 0, 0)));
}

TEST(FixedTime, ATimeOutOfRangeIsRefusedBeforeTheFileIsCreated) {
    TempDir dir;
    const std::string path = dir.file("refused.gds");
    for (std::int64_t time : {std::int64_t{253402300800}, std::int64_t{-2}, std::int64_t{INT64_MIN}}) {
        GdsHandle h = nullptr;
        EXPECT_EQ(GDS_BeginLibAt(path.c_str(), 0.001, 1e-9, time, &h), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_EQ(GDS_BeginLibAt(path.c_str(), 0.001, 1e-9, 0, nullptr), GDS_ERR_HANDLE);
}

}  // namespace
