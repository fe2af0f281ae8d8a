// SPDX-License-Identifier: MIT
// A library with one open structure "S", and the expected bytes of the
// records that elements share, composed from the format's record tables.
#pragma once

#include <string>

#include "gds_api.h"
#include "gds_test_support.h"

namespace gdstest {

inline Bytes opening(std::uint8_t kind, int elflags, std::int32_t plex) {
    return record(kind, 0x00) + record(ELFLAGS, 0x01, be16(elflags)) + record(PLEX, 0x03, be32(plex));
}
inline Bytes int16Record(std::uint8_t type, int value) { return record(type, 0x02, be16(value)); }
inline Bytes xyRecord(const std::vector<Point>& pts) { return record(XY, 0x03, points(pts)); }
inline const Bytes kEndEl = hex("00 04 11 00");

// Real8 forms used by the tests, spelled out.
inline const Bytes kOne = hex("41 10 00 00 00 00 00 00");
inline const Bytes kNinety = hex("42 5A 00 00 00 00 00 00");
inline const Bytes kZero8(8, 0);
inline const Bytes kBelow2To252 = hex("7F FF FF FF FF FF FF F8");

class ElementTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("elements.gds");
        ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
        ASSERT_EQ(GDS_BeginStructure(h, "S"), GDS_OK);
    }
    void TearDown() override {
        if (h != nullptr) GDS_EndLib(h);
    }
    // Ends S and the library, checks the frame around S, and returns the
    // bytes written between STRNAME and ENDSTR.
    Bytes elements() {
        EXPECT_EQ(GDS_EndStructure(h), GDS_OK);
        EXPECT_EQ(GDS_EndLib(h), GDS_OK);
        h = nullptr;
        const Bytes file = readFile(path);
        const auto records = splitRecords(file);
        const std::size_t head = 6 + 28 + 4 + padded(path).size() + 20 + 28 + 6;
        if (records.size() < 8 || file.size() < head + 8) {
            ADD_FAILURE() << "file too short: " << file.size();
            return {};
        }
        EXPECT_EQ(records[5].bytes(), hex("00 06 06 06 53 00"));
        EXPECT_EQ(Bytes(file.end() - 8, file.end()), hex("00 04 07 00 00 04 04 00"));
        return Bytes(file.begin() + static_cast<long>(head), file.end() - 8);
    }
    std::vector<Record> elementRecords() { return splitRecords(elements()); }

    TempDir dir;
    std::string path;
    GdsHandle h = nullptr;
};

}  // namespace gdstest
