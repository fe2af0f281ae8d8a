// SPDX-License-Identifier: MIT
// A small library written to .oas through the public API, byte for byte
// against bytes spelled out by hand from the OASIS format: the head, cell
// records with their modal variables, the name tables with S_CELL_OFFSET,
// END with its offsets and signature; and the refusals, which leave the file
// as it was.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "gds_api.h"
#include "gds_test_support.h"

namespace {

using gdstest::Bytes;
using gdstest::hex;
using gdstest::operator+;

std::uint32_t crc32Bitwise(const Bytes& data) {
    std::uint32_t crc = 0xffffffffu;
    for (const std::uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void writeSmallLibrary(const std::string& path, bool withRefusals) {
    GdsHandle lib = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &lib), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(lib, "A"), GDS_OK);
    ASSERT_EQ(GDS_Box(lib, 0, 0, 10, 20, 1, 2, 5, 6), GDS_OK);
    if (withRefusals) {
        const std::int32_t xs[] = {0, 10, 0};
        const std::int32_t ys[] = {0, 0, 10};
        EXPECT_EQ(GDS_Path(lib, xs, ys, 2, 11, 7, 7, 0, 0, 0), GDS_ERR_RANGE) << "odd width";
        EXPECT_EQ(GDS_Path(lib, xs, ys, 2, 10, 7, 7, 1, 0, 0), GDS_ERR_RANGE) << "round ends";
        EXPECT_EQ(GDS_Sref(lib, "A", 9, 9, 0x0004, 1.0, 0.0, 0, 0), GDS_ERR_RANGE) << "absolute magnification";
        EXPECT_EQ(GDS_Sref(lib, "A B", 9, 9, 0, 1.0, 0.0, 0, 0), GDS_ERR_RANGE) << "a space in a name";
        EXPECT_EQ(GDS_Aref(lib, "C", xs, ys, 3, 1, 0, 1.0, 0.0, 0, 0), GDS_ERR_RANGE) << "steps not whole";
        EXPECT_EQ(GDS_Text(lib, 9, 9, "a\tb", 7, 7, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_RANGE) << "a tab";
        EXPECT_EQ(GDS_Node(lib, xs, ys, 3, 7, 7, 0, 0), GDS_OK) << "dropped";
    }
    ASSERT_EQ(GDS_Box(lib, 100, 0, 110, 20, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(lib, "B"), GDS_OK);
    ASSERT_EQ(GDS_Box(lib, 0, 0, 10, 20, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(lib, "A", 5, 5, 0, 1.0, 90.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(lib, 1, 2, "hi", 3, 4, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    ASSERT_EQ(GDS_EndLib(lib), GDS_OK);
}

TEST(OasisFile, ASmallLibraryByteForByte) {
    gdstest::TempDir dir;
    const std::string path = dir.file("small.OAS");
    writeSmallLibrary(path, false);
    Bytes expected = gdstest::text("%SEMI-OASIS\r\n") + hex("01 03 31 2e 30 00 e8 07 01");
    // Each cell starts a block of its own (too small to shrink: as it came).
    // Cell A at 22: CELL 0, a rectangle with everything, then one with only x.
    expected = expected + hex("0d 00  14 7b 01 02 0a 14 00 00  14 10 c8 01");
    // Cell B at 36: the modal variables start again; a quarter-turn placement
    // of cell 0; a text by reference to string 0.
    expected = expected + hex("0d 01  14 7b 01 02 0a 14 00 00  11 f2 00 0a 0a  13 7b 00 03 04 02 04");
    // The tables at 58, 73 and 89: property names, cell names with their
    // S_CELL_OFFSET, text strings.
    expected = expected + hex("07 0d") + gdstest::text("S_CELL_OFFSET");
    expected = expected + hex("03 01 41 1c 17 00 08 16  03 01 42 1c 17 00 08 24");
    expected = expected + hex("05 02 68 69");
    // END at 93: six strict offsets, padding to 256 bytes, CRC-32.
    expected = expected + hex("02 01 49 01 59 01 3a 01 00 01 00 01 00 ec 01") + Bytes(236, 0) + hex("01");
    const std::uint32_t crc = crc32Bitwise(expected);
    expected = expected + Bytes{static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                                static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)};
    const Bytes written = gdstest::readFile(path);
    EXPECT_EQ(written.size(), 93u + 256u);
    EXPECT_EQ(written, expected);

    // Refused calls, and a dropped NODE, leave the file as it was, modal
    // variables and name tables included.
    const std::string refused = dir.file("refused.oas");
    writeSmallLibrary(refused, true);
    EXPECT_EQ(gdstest::readFile(refused), written);
}

TEST(OasisFile, PropertiesAreStandardGdsPropertiesAfterTheirElementWithTheirStringsInATable) {
    gdstest::TempDir dir;
    const std::string path = dir.file("props.oas");
    GdsHandle lib = nullptr;
    const std::int32_t xs[] = {0, 10};
    const std::int32_t ys[] = {0, 0};
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &lib), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(lib, "A"), GDS_OK);
    EXPECT_EQ(GDS_Property(lib, 1, "x"), GDS_ERR_NO_ELEMENT) << "no element yet";
    ASSERT_EQ(GDS_Box(lib, 0, 0, 10, 20, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(lib, 5, "v w"), GDS_OK);
    EXPECT_EQ(GDS_Property(lib, 5, "x"), GDS_ERR_PROPERTY) << "the same attribute twice";
    EXPECT_EQ(GDS_Property(lib, 128, "x"), GDS_ERR_PROPERTY) << "attribute out of range";
    EXPECT_EQ(GDS_Property(lib, 9, std::string(127, 'x').c_str()), GDS_ERR_PROPERTY) << "value too long";
    ASSERT_EQ(GDS_Property(lib, 6, "v w"), GDS_OK);
    EXPECT_EQ(GDS_Path(lib, xs, ys, 2, 11, 7, 7, 0, 0, 0), GDS_ERR_RANGE);
    EXPECT_EQ(GDS_Property(lib, 1, "x"), GDS_ERR_NO_ELEMENT) << "after a refused element";
    ASSERT_EQ(GDS_Node(lib, xs, ys, 2, 7, 7, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_Property(lib, 1, "dropped"), GDS_OK) << "dropped with the node";
    EXPECT_EQ(GDS_Property(lib, 1, "x"), GDS_ERR_PROPERTY) << "checked like any other";
    ASSERT_EQ(GDS_Sref(lib, "A", 5, 5, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(lib, 7, "p"), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    ASSERT_EQ(GDS_EndLib(lib), GDS_OK);

    Bytes expected = gdstest::text("%SEMI-OASIS\r\n") + hex("01 03 31 2e 30 00 e8 07 01");
    // Cell A at 22: the rectangle, then PROPERTY (28), info-byte 0x27: two
    // values, name by reference number, standard; S_GDS_PROPERTY is name 1
    // (S_CELL_OFFSET came with the cell); the attribute as an unsigned
    // integer (type 8), the value as a reference to a b-string (type 14).
    expected = expected + hex("0d 00  14 7b 01 02 0a 14 00 00  1c 27 01 08 05 0e 00  1c 27 01 08 06 0e 00");
    // The placement of cell 0 at (5, 5), and its property with string 1.
    expected = expected + hex("11 f0 00 0a 0a  1c 27 01 08 07 0e 01");
    // Property names at 58, property strings at 89, cell names at 97.
    expected = expected + hex("07 0d") + gdstest::text("S_CELL_OFFSET") + hex("07 0e") + gdstest::text("S_GDS_PROPERTY");
    expected = expected + hex("09 03") + gdstest::text("v w") + hex("09 01") + gdstest::text("p");
    expected = expected + hex("03 01 41 1c 17 00 08 16");
    // END at 105: cell names, text strings (none), property names, strings.
    expected = expected + hex("02 01 61 01 00 01 3a 01 59 01 00 01 00 ec 01") + Bytes(236, 0) + hex("01");
    const std::uint32_t crc = crc32Bitwise(expected);
    expected = expected + Bytes{static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                                static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)};
    EXPECT_EQ(gdstest::readFile(path), expected);
}

std::uint64_t readUint(const Bytes& data, std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t byte = data.at(at++);
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if (byte < 0x80) return value;
    }
}

TEST(OasisFile, ACellThatShrinksIsOneCblockWithItsCountsAndTheSignatureOfTheFile) {
    gdstest::TempDir dir;
    const std::string path = dir.file("packed.oas");
    GdsHandle lib = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &lib), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(lib, "A"), GDS_OK);
    // The first box in full, then 999 that repeat every modal variable: two
    // bytes each.
    for (int k = 0; k < 1000; ++k) ASSERT_EQ(GDS_Box(lib, 0, 0, 10, 20, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    ASSERT_EQ(GDS_EndLib(lib), GDS_OK);
    const Bytes data = gdstest::readFile(path);
    ASSERT_GT(data.size(), 22u + 256u);
    // CBLOCK at 22: deflate, 2 + 8 + 999 * 2 bytes before, its stream after.
    std::size_t at = 22;
    ASSERT_EQ(data[at++], 34);
    EXPECT_EQ(readUint(data, at), 0u);
    EXPECT_EQ(readUint(data, at), 2u + 8u + 999u * 2u);
    const std::uint64_t compressed = readUint(data, at);
    ASSERT_LT(at + compressed, data.size());
    // The stream ends with an empty final block; the property-name table
    // follows, where END says it is.
    EXPECT_EQ(data[at + compressed - 2], 0x03);
    EXPECT_EQ(data[at + compressed - 1], 0x00);
    const std::size_t tables = at + static_cast<std::size_t>(compressed);
    EXPECT_EQ(data[tables], 7);
    std::size_t end = data.size() - 256;
    ASSERT_EQ(data[end++], 2);
    EXPECT_EQ(readUint(data, end), 1u);
    EXPECT_EQ(readUint(data, end), tables + 15) << "the cell names follow the property name";
    EXPECT_EQ(readUint(data, end), 1u);
    EXPECT_EQ(readUint(data, end), 0u);
    EXPECT_EQ(readUint(data, end), 1u);
    EXPECT_EQ(readUint(data, end), tables);
    // S_CELL_OFFSET leads to the CBLOCK.
    EXPECT_EQ(Bytes(data.begin() + tables + 15, data.begin() + tables + 23), hex("03 01 41 1c 17 00 08 16"));
    const std::uint32_t crc = crc32Bitwise(Bytes(data.begin(), data.end() - 4));
    EXPECT_EQ(Bytes(data.end() - 5, data.end()),
              (Bytes{1, static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                     static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)}));
}

TEST(OasisFile, UnitsThatGiveNoGridAreRefusedBeforeTheFileIsMade) {
    gdstest::TempDir dir;
    const std::string path = dir.file("units.oas");
    GdsHandle lib = nullptr;
    EXPECT_EQ(GDS_BeginLib(path.c_str(), 0.001, -1e-9, &lib), GDS_ERR_RANGE);
    EXPECT_EQ(GDS_EndLib(lib), GDS_ERR_STOPPED);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
