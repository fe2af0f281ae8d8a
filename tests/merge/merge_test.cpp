// SPDX-License-Identifier: MIT
// The merge: parts built record by record here (not by the library's
// encoder) join into the bytes expected; every refusal names its part and
// leaves no output; a failing disk leaves none either.

#include "carvelle_merge.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "element_grammar.h"
#include "encoding/gzip_reader.h"
#include "encoding/real8.h"
#include "gds_api.h"
#include "gds_test_support.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using carvelle::MergeFailure;
using gdstest::be16;
using gdstest::Bytes;
using gdstest::hex;
using gdstest::padded;
using gdstest::readFile;
using gdstest::record;
using namespace gdstest;

// 0.001 and 1e-9 as eight-byte reals, and a different meter unit.
const Bytes kUnits = hex("3E 41 89 37 4B C6 A7 EF  39 44 B8 2F A0 9B 5A 50");
const Bytes kOtherUnits = hex("3E 41 89 37 4B C6 A7 EF  3A 10 C6 F7 A0 B5 ED 8D");
const Bytes kEndLib = record(ENDLIB, 0x00);
// Records that other writers put in their libraries, numbered as the format numbers them.
constexpr std::uint8_t REFLIBS = 0x1F, FONTS = 0x20, PROPATTR = 0x2B, PROPVALUE = 0x2C, LIBDIRSIZE = 0x39,
                       SRFNAME = 0x3A, LIBSECUR = 0x3B;

Bytes head(const Bytes& units = kUnits, const std::string& libName = "part.gds", const Bytes& between = {},
           std::int64_t version = 3) {
    return record(HEADER, 0x02, be16(version)) + record(BGNLIB, 0x02, Bytes(24, 0x11)) +
           record(LIBNAME, 0x06, padded(libName)) + between + record(UNITS, 0x05, units);
}
Bytes box(std::int16_t layer) {
    return record(BOX, 0x00) + record(LAYER, 0x02, be16(layer)) + record(BOXTYPE, 0x02, be16(0)) +
           record(XY, 0x03, points({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}})) + record(ENDEL, 0x00);
}
Bytes structure(const std::string& name, const Bytes& elements = {}) {
    return record(BGNSTR, 0x02, Bytes(24, 0x22)) + record(STRNAME, 0x06, padded(name)) + elements +
           record(ENDSTR, 0x00);
}
Bytes library(const Bytes& structures) { return head() + structures + kEndLib; }

// Descriptors open in this process, where Linux lists them; 0 elsewhere (under Wine, the folder lists Wine's own).
std::size_t openDescriptors() {
    std::size_t count = 0;
#if defined(__linux__)
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
         entry.increment(error)) {
        ++count;
    }
#endif
    return count;
}

class Merge : public ::testing::Test {
protected:
    std::vector<std::string> write(const std::vector<Bytes>& parts) {
        std::vector<std::string> paths;
        for (const Bytes& bytes : parts) {
            paths.push_back(dir.file("p" + std::to_string(paths.size()) + ".gds"));
            std::ofstream(paths.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        return paths;
    }
    // Names of the files in the folder, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const std::string out = dir.file("out.gds");
};

TEST_F(Merge, StructuresFollowInPartOrderByteForByteUnderOneHead) {
    const Bytes a = structure("A", box(1)) + structure("BB", box(2) + box(3));
    const Bytes c = structure("CCC", box(4));  // odd length: its name carries a pad byte
    // A part with no structures adds none; NUL padding after ENDLIB is no structure either.
    const auto parts = write({library(a), library({}), library(c) + Bytes(6, 0)});
    const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
    ASSERT_TRUE(result) << result.message;

    const Bytes merged = readFile(out);
    const Bytes bgnLib = hex("00 1C 01 02");
    ASSERT_GT(merged.size(), 34u);
    EXPECT_EQ(Bytes(merged.begin(), merged.begin() + 10), record(HEADER, 0x02, be16(3)) + bgnLib);
    EXPECT_EQ(Bytes(merged.begin() + 34, merged.end()),
              record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + a + c + kEndLib);
    EXPECT_EQ(result.bytes, merged.size());
    EXPECT_EQ(result.structures, 3u);
    EXPECT_EQ(files(), (std::vector<std::string>{"out.gds", "p0.gds", "p1.gds", "p2.gds"}));

    // One part: the same structures under the output's own head; an existing output is replaced.
    ASSERT_TRUE(carvelle::merge_libraries(out, {parts[2]}));
    const Bytes single = readFile(out);
    EXPECT_EQ(Bytes(single.begin() + 34, single.end()),
              record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + c + kEndLib);
}

// SOURCE_DATE_EPOCH fixes the head's BGNLIB, for files that are the same on every run; the parts' BGNSTRs
// and the properties inside their elements come through as they are.
TEST_F(Merge, SourceDateEpochStampsTheHeadAndPropertiesComeThrough) {
    Bytes withProperties = box(5);
    const Bytes pair = record(PROPATTR, 0x02, be16(7)) + record(PROPVALUE, 0x06, padded("net"));
    withProperties.insert(withProperties.end() - 4, pair.begin(), pair.end());  // before ENDEL
    const Bytes a = structure("A", withProperties);
    const auto parts = write({library(a)});
#ifdef _WIN32
    _putenv_s("SOURCE_DATE_EPOCH", "951782400");
#else
    setenv("SOURCE_DATE_EPOCH", "951782400", 1);  // 2000-02-29 00:00:00 UTC
#endif
    const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
#ifdef _WIN32
    _putenv_s("SOURCE_DATE_EPOCH", "");
#else
    unsetenv("SOURCE_DATE_EPOCH");
#endif
    ASSERT_TRUE(result) << result.message;
    const Bytes leap = be16(100) + be16(2) + be16(29) + be16(0) + be16(0) + be16(0);
    EXPECT_EQ(readFile(out), record(HEADER, 0x02, be16(3)) + record(BGNLIB, 0x02, leap + leap) +
                                 record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + a + kEndLib);
}

// A structure of more than the copy buffer's 1 MiB, at offsets that lie in their pages unlike the output's.
TEST_F(Merge, ALargeStructureIsCopiedWholeWhereverItLies) {
    Bytes boxes;
    for (std::int16_t i = 0; boxes.size() < (std::size_t{3} << 19); ++i) {
        const Bytes one = box(i);
        boxes.insert(boxes.end(), one.begin(), one.end());
    }
    const Bytes big = structure("BIG", boxes), other = structure("OTHER", boxes), small = structure("S", box(1));
    const auto parts = write({library(small + big), head(kUnits, "q") + other + kEndLib});
    ASSERT_TRUE(carvelle::merge_libraries(out, parts));
    const Bytes merged = readFile(out);
    ASSERT_GT(merged.size(), 34u);
    EXPECT_TRUE(Bytes(merged.begin() + 34, merged.end()) ==
                record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + small + big + other + kEndLib);
}

TEST_F(Merge, PartsWrittenByTheLibraryJoinIntoTheLibraryWrittenAtOnce) {
    auto write = [](const std::string& path, std::vector<const char*> names) {
        GdsHandle lib = nullptr;
        ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &lib), GDS_OK);
        for (const char* name : names) {
            ASSERT_EQ(GDS_BeginStructure(lib, name), GDS_OK);
            ASSERT_EQ(GDS_Box(lib, 0, 0, 100, 100, 1, 0, 0, 0), GDS_OK);
            if (name[0] == 'T') ASSERT_EQ(GDS_Sref(lib, "A", 5, 5, 0, 1.0, 0.0, 0, 0), GDS_OK);
            ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
        }
        ASSERT_EQ(GDS_EndLib(lib), GDS_OK);
    };
    write(out, {"A", "BC", "TOP"});
    const Bytes atOnce = readFile(out);
    write(dir.file("p0.gds"), {"A", "BC"});
    write(dir.file("p1.gds"), {"TOP"});
    ASSERT_TRUE(carvelle::merge_libraries(out, {dir.file("p0.gds"), dir.file("p1.gds")}));
    EXPECT_EQ(maskTimestamps(readFile(out)), maskTimestamps(atOnce));
}

// KLayout's and gdspy's libraries: head records of their own, a later stream version, units rounded the other
// way in the last bit, properties, and a cell that every part carries.
TEST_F(Merge, OtherWritersLibrariesJoinWithTheCellsTheyShareWrittenOnce) {
    const Bytes between = record(REFLIBS, 0x06, Bytes(88, 0)) + record(FONTS, 0x06, Bytes(176, 0x46));
    Bytes unitsRoundedUp = kUnits;
    unitsRoundedUp[7] = 0xF0;
    Bytes withProperty = box(5);
    withProperty.insert(withProperty.end() - 4, {0x00, 0x06, PROPATTR, 0x02, 0x00, 0x01});
    const Bytes property = record(PROPVALUE, 0x06, padded("via"));
    withProperty.insert(withProperty.end() - 4, property.begin(), property.end());
    const Bytes via = structure("VIA", withProperty);
    Bytes viaLater = via;  // written a second later
    std::fill(viaLater.begin() + 4, viaLater.begin() + 28, 0x33);
    const Bytes a = structure("A", box(1)), b = structure("B", box(2));
    const auto parts = write({head(kUnits, "a", between, 5) + a + via + kEndLib,
                              head(unitsRoundedUp, "b", between, 600) + viaLater + via + b + kEndLib});
    const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
    ASSERT_TRUE(result) << result.message;
    EXPECT_EQ(result.structures, 3u);
    const Bytes merged = readFile(out);
    ASSERT_GT(merged.size(), 34u);
    EXPECT_EQ(Bytes(merged.begin(), merged.begin() + 6), record(HEADER, 0x02, be16(600)));
    EXPECT_EQ(Bytes(merged.begin() + 34, merged.end()),
              record(LIBNAME, 0x06, padded(out)) + between + record(UNITS, 0x05, kUnits) + a + via + b + kEndLib);
    EXPECT_EQ(result.bytes, merged.size());
}

// gzip as another program may write it: stored blocks, checked by a bitwise CRC-32.
Bytes gzipMember(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    auto little = [](Bytes& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    Bytes out = hex("1F 8B 08 00 00 00 00 00 00 FF");
    for (std::size_t at = 0, size = 0; at < data.size() || size == 0; at += size) {
        size = std::min<std::size_t>(data.size() - at, 0xFFFF);
        out.push_back(at + size == data.size() ? 1 : 0);
        little(out, static_cast<std::uint32_t>(size | (~size & 0xFFFF) << 16), 4);
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + size));
        if (size == 0) break;
    }
    little(out, ~crc, 4);
    little(out, static_cast<std::uint32_t>(data.size()), 4);
    return out;
}

Bytes gunzip(const Bytes& data) {
    carvelle::GzipInflater inflater;
    Bytes out(std::size_t{64} << 20);
    const std::uint8_t* in = data.data();
    std::size_t left = data.size(), room = out.size();
    std::uint8_t* to = out.data();
    EXPECT_EQ(inflater.inflate(in, left, to, room), carvelle::GzipInflater::Result::Progress);
    EXPECT_TRUE(inflater.atMemberEnd());
    out.resize(out.size() - room);
    return out;
}

// .gz parts, in one member or two, and plain ones join into a plain or a .gz output holding the same library;
// a structure repeated within a .gz part and across parts is compared there and kept once.
TEST_F(Merge, GzipPartsAndOutputsHoldTheSameLibrary) {
    Bytes boxes;  // more than one piece of the reader
    while (boxes.size() < (std::size_t{3} << 17)) boxes = boxes + box(static_cast<std::int16_t>(boxes.size() % 7));
    const Bytes a = structure("A", box(1)), big = structure("BIG", boxes), b = structure("B", box(2));
    const Bytes first = library(a + big + big), second = library(big + b);
    const auto plain = write({first, second});
    auto save = [&](const std::string& name, const Bytes& bytes) {
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir.file(name);
    };
    const std::string zipped0 = save("p0.gds.gz", gzipMember(first));
    const std::size_t half = second.size() / 2;
    const std::string zipped1 = save("p1.GDS.GZ", gzipMember(Bytes(second.begin(), second.begin() + half)) +
                                                      gzipMember(Bytes(second.begin() + half, second.end())));
    const struct {
        std::string out;
        std::vector<std::string> parts;
    } cases[] = {
        {"out.gds", {zipped0, plain[1]}},
        {"out.gds.gz", {zipped0, plain[1]}},
        {"out.GDS.Gz", {plain[0], zipped1}},
        {"out.gds.gz", plain},
    };
    for (const auto& merge : cases) {
        const std::string output = dir.file(merge.out);
        SCOPED_TRACE(merge.out + " from " + merge.parts[0] + " and " + merge.parts[1]);
        const carvelle::MergeResult result = carvelle::merge_libraries(output, merge.parts);
        ASSERT_TRUE(result) << result.message;
        const Bytes file = readFile(output);
        EXPECT_EQ(result.bytes, file.size());
        EXPECT_EQ(result.structures, 3u);
        const Bytes merged = merge.out == "out.gds" ? file : gunzip(file);
        ASSERT_GT(merged.size(), 34u);
        EXPECT_TRUE(Bytes(merged.begin() + 34, merged.end()) ==
                    record(LIBNAME, 0x06, padded(output)) + record(UNITS, 0x05, kUnits) + a + big + b + kEndLib);
        std::filesystem::remove(output);
    }

    // A damaged .gz part is no complete library.
    Bytes badCrc = gzipMember(second);
    badCrc[badCrc.size() - 6] ^= 1;
    const Bytes whole = gzipMember(second);
    const struct {
        const char* what;
        Bytes part;
        const char* says;
    } damaged[] = {
        {"a wrong CRC", badCrc, "its gzip data is damaged"},
        {"cut short", Bytes(whole.begin(), whole.end() - 9), "its gzip data is cut short"},
        {"not gzip", second, "its gzip data is damaged"},
    };
    for (const auto& part : damaged) {
        SCOPED_TRACE(part.what);
        const std::string path = save("bad.gds.gz", part.part);
        const carvelle::MergeResult result = carvelle::merge_libraries(out + ".gz", {zipped0, path});
        EXPECT_EQ(result.failure, MergeFailure::NotALibrary);
        EXPECT_NE(result.message.find("part " + path + " is not a complete library: " + part.says), std::string::npos)
            << result.message;
        EXPECT_FALSE(std::filesystem::exists(out + ".gz"));
    }
}

// One unit in the last place of the larger real, whichever writer rounded which way.
TEST(Real8, RealsOneUnitInTheLastPlaceApartAreTheSame) {
    const struct {
        const char *a, *b;
        bool same;
    } cases[] = {
        {"3E 41 89 37 4B C6 A7 EF", "3E 41 89 37 4B C6 A7 F0", true},
        {"3E 41 89 37 4B C6 A7 EF", "3E 41 89 37 4B C6 A7 F1", false},
        {"41 10 00 00 00 00 00 00", "40 FF FF FF FF FF FF F0", true},  // one unit of 1.0 below it
        {"41 10 00 00 00 00 00 00", "40 FF FF FF FF FF FF EF", false},
        {"41 10 00 00 00 00 00 01", "40 FF FF FF FF FF FF FF", false},
        {"41 10 00 00 00 00 00 00", "42 01 00 00 00 00 00 00", true},  // 1.0 with a leading zero digit
        {"41 10 00 00 00 00 00 00", "C1 10 00 00 00 00 00 00", false},
        {"41 10 00 00 00 00 00 00", "43 00 10 00 00 00 00 00", true},
        {"00 00 00 00 00 00 00 00", "80 00 00 00 00 00 00 00", true},
        {"00 00 00 00 00 00 00 00", "00 00 00 00 00 00 00 01", false},
    };
    for (const auto& c : cases) {
        carvelle::Real8 a{}, b{};
        const Bytes x = hex(c.a), y = hex(c.b);
        std::copy(x.begin(), x.end(), a.begin());
        std::copy(y.begin(), y.end(), b.begin());
        EXPECT_EQ(carvelle::sameReal8(a, b), c.same) << c.a << " and " << c.b;
        EXPECT_EQ(carvelle::sameReal8(b, a), c.same) << c.b << " and " << c.a;
    }
}

struct Refusal {
    const char* what;
    std::vector<Bytes> parts;
    MergeFailure failure;
    std::string says;  // part of the message
};

TEST_F(Merge, EveryRefusalNamesItsPartAndLeavesTheOutputAsItWas) {
    const Bytes a = structure("A", box(1));
    const Bytes whole = library(a + structure("B", box(2)));
    const Bytes lengthTwo = structure("A", hex("00 02") + box(1));
    // After two like elements the walk checks by template: faults must still be found there.
    const Bytes lengthFive = structure("A", box(1) + box(1) + hex("00 05 0D 02 00 01 00") + box(1));
    Bytes endStrForEndEl = box(1);
    endStrForEndEl[endStrForEndEl.size() - 2] = ENDSTR;
    const Bytes bracketAmongElements = structure("A", box(1) + box(1) + endStrForEndEl);
    const Bytes refLibs = record(REFLIBS, 0x06, Bytes(88, 0));
    const Bytes fonts = record(FONTS, 0x06, Bytes(176, 0));
    const std::vector<Refusal> refusals = {
        {"units differ",
         {library(a), head(kOtherUnits) + kEndLib},
         MergeFailure::UnitsDiffer,
         "UNITS differ: part " + dir.file("p1.gds") + " has user unit 1.0000000000000000e-03 (3E 41 89 37 4B C6 A7 EF), "
                                                      "meter unit 3.9062499999999998e-09 (3A 10 C6 F7 A0 B5 ED 8D);\n  part " +
             dir.file("p0.gds") +
             " has user unit 1.0000000000000000e-03 (3E 41 89 37 4B C6 A7 EF), meter unit 9.9999999999999986e-10 (39 44 B8 2F A0 9B 5A 50)"},
        {"a name in two parts, other records",
         {library(a), library(structure("B")), library(structure("A", box(2)))},
         MergeFailure::DuplicateStructure,
         "\"A\" is defined in part " + dir.file("p0.gds") + " and again in part " + dir.file("p2.gds") +
             " with other records: they differ at byte 43 of the structure (byte 109 of the first, byte 109 of the "
             "second)"},
        {"a name twice in one part, other records", {library(a + structure("A"))}, MergeFailure::DuplicateStructure, "twice in part " + dir.file("p0.gds") + " with other records: they differ at byte 36 "},
        // Units whose first bytes hold a NUL (a user unit of 1) differ after it.
        {"units differ after a NUL byte",
         {head(hex("41 10 00 00 00 00 00 00  39 44 B8 2F A0 9B 5A 50")) + kEndLib,
          head(hex("41 10 00 00 00 00 00 00  3A 10 C6 F7 A0 B5 ED 8D")) + kEndLib},
         MergeFailure::UnitsDiffer,
         "p1.gds has user unit 1.0000000000000000e+00 (41 10 00 00 00 00 00 00), meter unit 3.9062499999999998e-09"},
        // Doubles one unit in the last place apart, beyond the one unit of the 56-bit fraction the merge allows:
        // the digits show it, in one layout for both.
        {"units that print alike at fewer digits",
         {head(hex("3F 14 7A E1 47 AE 14 7B  39 44 B8 2F A0 9B 5A 50")) + kEndLib,
          head(hex("3F 14 7A E1 47 AE 14 7D  39 44 B8 2F A0 9B 5A 50")) + kEndLib},
         MergeFailure::UnitsDiffer,
         "has user unit 5.0000000000000018e-03 (3F 14 7A E1 47 AE 14 7D), meter unit 9.9999999999999986e-10 (39 44 B8 2F "
         "A0 9B 5A 50);\n  part " +
             dir.file("p0.gds") + " has user unit 5.0000000000000001e-03 (3F 14 7A E1 47 AE 14 7B)"},
        {"a HEADER of 8 bytes", {record(HEADER, 0x02, be16(3) + be16(0)) + Bytes(whole.begin() + 6, whole.end())}, MergeFailure::NotALibrary, "does not begin with HEADER"},
        {"UNITS of 24 bytes",
         {Bytes(whole.begin(), whole.begin() + 46) + record(UNITS, 0x05, kUnits + Bytes(8, 0)) + kEndLib},
         MergeFailure::NotALibrary,
         "UNITS at byte 46 holds 24 bytes, not 16"},
        {"an ENDLIB with data", {head() + a + record(ENDLIB, 0x00, Bytes(2, 0))}, MergeFailure::NotALibrary, "ENDLIB at byte 168 is 6 bytes long: ENDLIB holds no data"},
        {"not GDSII", {gdstest::text("hello, world\n")}, MergeFailure::NotALibrary, "does not begin with HEADER"},
        {"an empty file", {Bytes{}}, MergeFailure::NotALibrary, "the file is empty"},
        {"cut short in a structure", {Bytes(whole.begin(), whole.end() - 30)}, MergeFailure::NotALibrary, "cut short"},
        {"cut short in the head", {Bytes(whole.begin(), whole.begin() + 20)}, MergeFailure::NotALibrary, "cut short"},
        {"no ENDLIB", {head() + a}, MergeFailure::NotALibrary, "no ENDLIB"},
        {"a record of 2 bytes", {library(a), library(lengthTwo)}, MergeFailure::NotALibrary, "length 2 at byte"},
        {"a record of odd length", {library(lengthFive)}, MergeFailure::NotALibrary, "length 5 at byte"},
        {"a bracket record among like elements", {library(bracketAmongElements)}, MergeFailure::NotALibrary, "ENDSTR in BOX after XY, where only ENDEL or PROPATTR may stand, at byte"},
        {"a head record no merge keeps", {head(kUnits, "part.gds", record(LIBSECUR, 0x02, be16(1) + be16(1) + be16(1))) + kEndLib}, MergeFailure::NotALibrary, "expected UNITS at byte 46, found LIBSECUR ("},
        {"UNITS of another data type",
         {record(HEADER, 0x02, be16(3)) + record(BGNLIB, 0x02, Bytes(24, 0)) + record(LIBNAME, 0x06, padded("p")) +
          record(UNITS, 0x03, kUnits) + kEndLib},
         MergeFailure::NotALibrary,
         "expected UNITS at byte 40, found UNITS holding 4-byte integer where UNITS holds 8-byte real ("},
        {"head records differ",
         {head(kUnits, "p", refLibs + fonts) + kEndLib, head(kUnits, "p", refLibs + record(FONTS, 0x06, Bytes(176, 1))) + kEndLib},
         MergeFailure::HeadDiffers,
         "p1.gds and part " + dir.file("p0.gds") + " differ in their head at FONTS ("},
        {"a head record one part lacks", {head(kUnits, "p", refLibs) + kEndLib, head() + kEndLib}, MergeFailure::HeadDiffers, "differ in their head at REFLIBS"},
        {"a structure without ENDSTR",
         {head() + record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded("A")) + box(1) + a + kEndLib},
         MergeFailure::NotALibrary,
         "BGNSTR at byte 164 inside structure \"A\""},
        {"bytes after ENDLIB", {whole + hex("00 04 11 00")}, MergeFailure::NotALibrary, "bytes after ENDLIB"},
    };
    const std::size_t descriptors = openDescriptors();
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
        const auto parts = write(refusal.parts);
        std::ofstream(out) << "old";
        const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
        EXPECT_EQ(result.failure, refusal.failure);
        EXPECT_NE(result.message.find(refusal.says), std::string::npos) << result.message;
        EXPECT_EQ(readFile(out), gdstest::text("old"));
        EXPECT_EQ(files().size(), parts.size() + 1) << "a temporary file is left";
    }
    EXPECT_EQ(openDescriptors(), descriptors);
}

Bytes sref(const std::string& name) {
    return record(SREF, 0x00) + record(SNAME, 0x06, padded(name)) + record(XY, 0x03, points({{0, 0}})) +
           record(ENDEL, 0x00);
}
Bytes aref(const std::string& name) {
    return record(AREF, 0x00) + record(SNAME, 0x06, padded(name)) + record(COLROW, 0x02, be16(2) + be16(1)) +
           record(XY, 0x03, points({{0, 0}, {20, 0}, {0, 10}})) + record(ENDEL, 0x00);
}

// References that close a cycle only once the parts are joined, through like elements (checked by template), an
// AREF, or a structure that references itself; a diamond and a name no part defines are no cycle.
TEST_F(Merge, ReferencesThatMakeACycleAreRefusedNamingIt) {
    const Bytes top = structure("TOP", sref("C1") + sref("C2") + sref("C3") + sref("C3") + box(1));
    const struct {
        const char* what;
        std::vector<Bytes> parts;
        const char* cycle;  // empty: accepted
    } cases[] = {
        {"across two parts", {library(structure("A", sref("B"))), library(structure("B", aref("A")))}, "A -> B -> A"},
        {"through the third of like SREFs",
         {library(top + structure("C1") + structure("C2")), library(structure("C3", box(2) + aref("TOP")))},
         "TOP -> C3 -> TOP"},
        {"a structure in itself", {library(structure("A") + structure("SELF", box(1) + sref("A") + sref("SELF")))}, "SELF -> SELF"},
        {"a diamond", {library(structure("D", sref("B") + sref("C"))), library(structure("B", sref("E")) + structure("C", sref("E")) + structure("E", sref("UNDEFINED")))}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
        const carvelle::MergeResult result = carvelle::merge_libraries(out, write(c.parts));
        if (*c.cycle == '\0') {
            EXPECT_TRUE(result) << result.message;
            continue;
        }
        EXPECT_EQ(result.failure, MergeFailure::Cycle);
        EXPECT_EQ(carvelle::merge_exit_status(result.failure), 21);
        EXPECT_NE(result.message.find(std::string("make a cycle, ") + c.cycle + " ("), std::string::npos) << result.message;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// The names a structure references, each once, whether its SREFs come whole, cut by pieces or by template.
TEST(PartScanner, KeepsTheNamesEachStructureReferencesWhateverThePieces) {
    const Bytes file = library(structure("T", sref("AB") + sref("CD") + sref("CD") + sref("EF") + box(1) + aref("GH") + sref("AB")) +
                               structure("U", box(2)) + structure("V", sref("T")));
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, file.size()}) {
        SCOPED_TRACE(piece);
        carvelle::merge::PartScanner scanner;
        scanner.keepReferences(true);
        std::vector<std::vector<std::string>> references;
        for (std::size_t at = 0; at < file.size(); at += piece) {
            ASSERT_TRUE(scanner.feed(file.data() + at, std::min(piece, file.size() - at))) << scanner.error();
            for (auto& structure : scanner.structures()) {
                std::sort(structure.references.begin(), structure.references.end());
                references.push_back(structure.references);
            }
            scanner.structures().clear();
        }
        ASSERT_TRUE(scanner.finish());
        EXPECT_EQ(references, (std::vector<std::vector<std::string>>{{"AB", "CD", "EF", "GH"}, {}, {"T"}}));
    }
}

// KLayout's context: an SREF per cell, whose properties are its strings by index.
Bytes contextElement(const std::string& cell, const std::vector<std::string>& strings) {
    Bytes element = record(SREF, 0x00) + record(SNAME, 0x06, padded(cell)) + record(XY, 0x03, points({{0, 0}}));
    for (std::size_t i = strings.size(); i-- > 0;) {
        element = element + record(PROPATTR, 0x02, be16(static_cast<std::int64_t>(i))) +
                  record(PROPVALUE, 0x06, padded(strings[i]));
    }
    return element + record(ENDEL, 0x00);
}
Bytes context(const Bytes& elements, std::uint8_t stamp = 0x22) {
    return record(BGNSTR, 0x02, Bytes(24, stamp)) + record(STRNAME, 0x06, padded("$$$CONTEXT_INFO$$$")) + elements +
           record(ENDSTR, 0x00);
}

// Contexts of several parts joined into the output's first structure, whatever part they came from; refused
// when they disagree on a cell, when a string is cut or missing, and when a part has a context elsewhere.
TEST_F(Merge, KLayoutContextsAreJoinedIntoTheFirstStructure) {
    const std::vector<std::string> hello = {"LIB=Basic", "P(text)='HELLO'", "P(layer)=[layer:1/0]", "PCELL=TEXT"};
    // A note longer than the piece the head is read in: the context is read on past it.
    const std::vector<std::string> circle = {"LIB=Basic", "P(radius)=##5", "P(note)='" + std::string(6000, 'n') + "'",
                                             "PCELL=CIRCLE"};
    const Bytes text = contextElement("TEXT", hello), round = contextElement("CIRCLE", circle);
    const Bytes ours = structure("OURS", box(1)), textCell = structure("TEXT", box(2)),
                circleCell = structure("CIRCLE", box(3));
    const auto parts = write({library(ours), library(context(text) + textCell),
                              library(context(round + text, 0x33) + circleCell + textCell)});
    const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
    ASSERT_TRUE(result) << result.message;
    EXPECT_EQ(result.structures, 4u);
    const Bytes merged = readFile(out);
    ASSERT_GT(merged.size(), 34u);
    EXPECT_EQ(Bytes(merged.begin() + 34, merged.end()), record(LIBNAME, 0x06, padded(out)) +
                                                            record(UNITS, 0x05, kUnits) + context(text + round) +
                                                            ours + textCell + circleCell + kEndLib);

    std::vector<std::string> bye = hello, cut = hello;
    bye[1] = "P(text)='BYE'";
    cut[2] = "P(layer)=[layer:1/";
    const std::vector<Refusal> refusals = {
        {"disagree", {library(context(text)), library(context(contextElement("TEXT", bye)))}, MergeFailure::DuplicateStructure, "describe the cell \"TEXT\" otherwise in their $$$CONTEXT_INFO$$$ (string 1: \"P(text)='HELLO'\" against \"P(text)='BYE'\")"},
        {"cut", {library(context(contextElement("TEXT", cut)))}, MergeFailure::NotALibrary, "the string \"P(layer)=[layer:1/\" of \"TEXT\" is cut"},
        {"cut quote", {library(context(contextElement("C", {"LIB=Basic", "P(text)='HE"})))}, MergeFailure::NotALibrary, "is cut"},
        {"cut number", {library(context(contextElement("C", {"P(n)=#l"})))}, MergeFailure::NotALibrary, "is cut"},
        {"cut list", {library(context(contextElement("C", {"P(n)=(#1,"})))}, MergeFailure::NotALibrary, "is cut"},
        {"cut in a list", {library(context(contextElement("C", {"P(n)=(#1,#2"})))}, MergeFailure::NotALibrary, "is cut"},
        {"more after the value", {library(context(contextElement("C", {"P(text)='HE'LLO"})))}, MergeFailure::NotALibrary, "is cut"},
        {"no value", {library(context(contextElement("C", {"PCELL="})))}, MergeFailure::NotALibrary, "is cut"},
        {"missing", {library(context(record(SREF, 0x00) + record(SNAME, 0x06, padded("C")) + record(XY, 0x03, points({{0, 0}})) + record(PROPATTR, 0x02, be16(1)) + record(PROPVALUE, 0x06, padded("PCELL=X")) + record(ENDEL, 0x00)))}, MergeFailure::NotALibrary, "string 0 of \"C\" is missing"},
        {"elsewhere", {library(context(text)), library(textCell + context(text))}, MergeFailure::DuplicateStructure, "is not the part's first"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
        const carvelle::MergeResult refused = carvelle::merge_libraries(out, write(refusal.parts));
        EXPECT_EQ(refused.failure, refusal.failure);
        EXPECT_NE(refused.message.find(refusal.says), std::string::npos) << refused.message;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// LIBDIRSIZE and SRFNAME, before LIBNAME where the format puts them or after it where KLayout takes them too,
// are kept before LIBNAME when every part has the same; a BOUNDARY's points go on past one XY record.
TEST_F(Merge, HeadRecordsBeforeLibNameAndPointsPastOneXyRecordPass) {
    const Bytes dirSize = record(LIBDIRSIZE, 0x02, be16(7)), rules = record(SRFNAME, 0x06, padded("rules.srf"));
    auto withHead = [&](const Bytes& beforeName, const Bytes& afterName, const Bytes& structures) {
        return record(HEADER, 0x02, be16(600)) + record(BGNLIB, 0x02, Bytes(24, 0x11)) + beforeName +
               record(LIBNAME, 0x06, padded("p")) + afterName + record(UNITS, 0x05, kUnits) + structures + kEndLib;
    };
    std::vector<std::pair<std::int32_t, std::int32_t>> many;
    for (std::int32_t i = 0; i < 8191; ++i) many.emplace_back(i, i % 2);
    const Bytes big = structure("BIG", record(BOUNDARY, 0x00) + record(LAYER, 0x02, be16(1)) + record(DATATYPE, 0x02, be16(0)) +
                                           record(XY, 0x03, points(many)) + record(XY, 0x03, points({{8190, -5}, {0, -5}, {0, 0}})) +
                                           record(ENDEL, 0x00));
    const Bytes a = structure("A", box(1));
    const auto parts = write({withHead(dirSize + rules, {}, big), withHead({}, dirSize + rules, a)});
    const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
    ASSERT_TRUE(result) << result.message;
    const Bytes merged = readFile(out);
    ASSERT_GT(merged.size(), 34u);
    EXPECT_TRUE(Bytes(merged.begin() + 34, merged.end()) ==
                dirSize + rules + record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + big + a + kEndLib);

    const auto other = write({withHead(dirSize + rules, {}, a), withHead(dirSize + record(SRFNAME, 0x06, padded("other")), {}, {})});
    const carvelle::MergeResult differ = carvelle::merge_libraries(out, other);
    EXPECT_EQ(differ.failure, MergeFailure::HeadDiffers);
    EXPECT_NE(differ.message.find("differ in their head at SRFNAME"), std::string::npos) << differ.message;
}

TEST_F(Merge, CallsThatCannotMergeAreRefusedBeforeAnyFileIsMade) {
    const auto parts = write({library(structure("A"))});
    EXPECT_EQ(carvelle::merge_libraries(out, {}).failure, MergeFailure::NoParts);
    const carvelle::MergeResult missing = carvelle::merge_libraries(out, {parts[0], dir.file("missing.gds")});
    EXPECT_EQ(missing.failure, MergeFailure::Open);
    EXPECT_NE(missing.message.find("missing.gds"), std::string::npos) << missing.message;
    EXPECT_EQ(carvelle::merge_libraries(parts[0], parts).failure, MergeFailure::OutputIsPart);
    // The same file twice, by its name or by another link to it.
    std::filesystem::create_hard_link(parts[0], dir.file("link.gds"));
    const carvelle::MergeResult twice = carvelle::merge_libraries(out, {parts[0], dir.file("link.gds")});
    EXPECT_EQ(twice.failure, MergeFailure::PartRepeated);
    EXPECT_EQ(carvelle::merge_exit_status(twice.failure), 22);
    EXPECT_NE(twice.message.find("part " + dir.file("link.gds") + " is the same file as part " + parts[0]),
              std::string::npos)
        << twice.message;
    std::filesystem::remove(dir.file("link.gds"));
    EXPECT_EQ(carvelle::merge_libraries(dir.path().string(), parts).failure, MergeFailure::Open);
    EXPECT_EQ(carvelle::merge_libraries(std::string(65531, 'n'), parts).failure, MergeFailure::Open);
    EXPECT_EQ(carvelle::merge_libraries(dir.file("no-folder/out.gds"), parts).failure, MergeFailure::Open);
    EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds"}));
    EXPECT_EQ(readFile(parts[0]), library(structure("A")));
}

// A plain walk of a whole file by the same rules, written independently of the merge's checker.
bool walkWhole(const Bytes& file, std::vector<std::string>& names) {
    enum { Head,
           BgnLib,
           LibName,
           Units,
           Between,
           Name,
           Inside,
           Padding } phase = Head;
    gdstest::ElementGrammar elements;
    for (std::size_t at = 0; at < file.size();) {
        if (phase == Padding) {
            if (file[at++] != 0) return false;
            continue;
        }
        if (file.size() - at < 4) return false;
        const std::size_t length = std::size_t{file[at]} << 8 | file[at + 1];
        auto is = [&](std::uint8_t type, std::uint8_t dataType) {
            return file[at + 2] == type && file[at + 3] == dataType;
        };
        if (length < 4 || length % 2 || length > file.size() - at) return false;
        const bool empty = length == 4;
        if (phase == Head && is(HEADER, 0x02) && length == 6)
            phase = BgnLib;
        else if (phase == BgnLib && is(BGNLIB, 0x02))
            phase = LibName;
        else if (phase == LibName && is(LIBNAME, 0x06))
            phase = Units;
        else if (phase == Units && is(UNITS, 0x05) && length == 20)
            phase = Between;
        else if (phase == Between && is(BGNSTR, 0x02))
            phase = Name;
        else if (phase == Between && is(ENDLIB, 0x00) && empty)
            phase = Padding;
        else if (phase == Name && is(STRNAME, 0x06)) {
            names.emplace_back(std::string(file.begin() + static_cast<long>(at) + 4,
                                           file.begin() + static_cast<long>(at + length))
                                   .c_str());
            phase = Inside;
            elements = {};
        } else if (phase == Inside && is(ENDSTR, 0x00) && empty && elements.betweenElements())
            phase = Between;
        else if (phase != Inside || !elements.add({length, file[at + 2], file[at + 3]}))
            return false;
        at += length;
    }
    return phase == Padding;
}

// The records the scanner hands on, in order: each must begin where the last ended, with the file's own bytes,
// whether it came whole, cut by a piece, or in a run of like elements.
struct Tiling final : carvelle::merge::RecordVisitor {
    explicit Tiling(const Bytes& bytes) : file(bytes) {}
    void record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) override {
        same = same && offset == next && length <= file.size() - next &&
               std::equal(bytes, bytes + length, file.begin() + static_cast<long>(next));
        if (same) next += length;
    }
    void likeElements(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like) override {
        record(first, count * like.size(), next);
    }
    const Bytes& file;
    std::uint64_t next = 0;
    bool same = true;
};

// Random libraries of like and unlike elements, some damaged, fed to the checker in pieces of random sizes.
TEST_F(Merge, TheCheckerAgreesWithAPlainWalkWhateverThePieces) {
    std::mt19937 random(2026);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    int valid = 0;
    const auto element = [](std::uint8_t kind, std::uint8_t typeRecord, const Bytes& xy) {
        return record(kind, 0x00) + record(LAYER, 0x02, be16(1)) + record(typeRecord, 0x02, be16(0)) +
               record(XY, 0x03, xy) + record(ENDEL, 0x00);
    };
    const std::vector<Bytes> elements = {box(1), box(2) + box(3), element(PATH, DATATYPE, points({{0, 0}, {1, 1}})),
                                         element(PATH, DATATYPE, points({{0, 0}, {1, 1}, {2, 0}})),
                                         element(BOUNDARY, DATATYPE, Bytes(32, 0))};
    // Elements that differ from a like one in the length of one record only, a length their grammar refuses:
    // half a point, three points where a polygon takes four, six where a box takes five. And a path of three
    // points whose third holds an ENDEL header where a path of two has its ENDEL, and whose own is missing.
    const Bytes hidden = record(PATH, 0x00) + record(LAYER, 0x02, be16(1)) + record(DATATYPE, 0x02, be16(0)) +
                         record(XY, 0x03, points({{0, 0}, {1, 1}, {0x00041100, 0}})) + record(BOX, 0x00);
    const std::vector<Bytes> refused = {element(PATH, DATATYPE, Bytes(20, 0)), element(BOUNDARY, DATATYPE, Bytes(24, 0)),
                                        element(BOX, BOXTYPE, Bytes(48, 0)), hidden};
    for (int round = 0; round < 20000; ++round) {
        Bytes file = head(kUnits, std::string(pick(4), 'L'));
        for (unsigned s = pick(3); s > 0; --s) {
            Bytes body;
            const unsigned kind = pick(5);
            for (unsigned e = pick(8); e > 0; --e) {
                body = body + (pick(40) == 0 ? refused[pick(4)] : elements[pick(4) == 0 ? pick(5) : kind]);
            }
            file = file + structure(std::string(1 + pick(3), static_cast<char>('A' + pick(3))), body);
        }
        file = file + kEndLib + Bytes(pick(3), 0);
        for (unsigned damage = pick(3); damage > 0 && !file.empty(); --damage) {
            const std::size_t at = pick(static_cast<unsigned>(file.size()));
            if (pick(3) == 0)
                file.resize(at);
            else
                file[at] = static_cast<std::uint8_t>(pick(2) ? file[at] ^ (1u << pick(8)) : pick(16));
        }
        std::vector<std::string> expected, names;
        const bool whole = walkWhole(file, expected);
        carvelle::merge::PartScanner scanner;
        Tiling tiling(file);
        scanner.visit(&tiling);
        bool ok = true;
        for (std::size_t at = 0; ok && at < file.size();) {
            const std::size_t piece = std::min<std::size_t>(file.size() - at, 1 + pick(pick(2) ? 8 : 400));
            ok = scanner.feed(file.data() + at, piece);
            for (const auto& structure : scanner.structures()) names.push_back(structure.name);
            scanner.structures().clear();
            at += piece;
        }
        ok = ok && scanner.finish();
        ASSERT_EQ(ok, whole) << "round " << round << ": " << scanner.error();
        if (ok) {
            EXPECT_EQ(names, expected) << "round " << round;
            // Up to ENDLIB, and nothing but its padding after it.
            EXPECT_TRUE(tiling.same && tiling.next >= 4 && file[tiling.next - 2] == ENDLIB &&
                        std::all_of(file.begin() + static_cast<long>(tiling.next), file.end(),
                                    [](std::uint8_t b) { return b == 0; }))
                << "round " << round;
        }
        valid += whole;
    }
    EXPECT_GT(valid, 5000);  // the damage leaves enough whole libraries to compare names on
}

// A temporary left by a merge whose process has ended is removed by the next merge into the same output, on
// every system; one of a running process (this one) is kept.
TEST_F(Merge, ATemporaryOfAnEndedMergeIsRemovedByTheNext) {
    const auto parts = write({library(structure("A"))});
    const std::string ended = out + ".merging-2147483601-0";  // no process has that number, here or on Windows
    const std::string ours = out + ".merging-" + std::to_string(getpid()) + "-7";
    std::ofstream(ended) << "left by a killed merge";
    std::ofstream(ours) << "a running merge's";
    ASSERT_TRUE(carvelle::merge_libraries(out, parts));
    EXPECT_EQ(files(), (std::vector<std::string>{"out.gds", "out.gds.merging-" + std::to_string(getpid()) + "-7",
                                                 "p0.gds"}));
}

#if !defined(_WIN32)
// Runs the merge in a child process; its wait status.
int inChild(const std::function<void()>& setUp, const std::string& out, const std::vector<std::string>& parts) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // A background job inherits SIGINT ignored; the child starts as a foreground merge would.
        for (const int signal : {SIGINT, SIGTERM, SIGXFSZ}) std::signal(signal, SIG_DFL);
        setUp();
        _exit(carvelle::merge_exit_status(carvelle::merge_libraries(out, parts).failure));
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

// A disk that fills up while the structures are copied: a file-size limit, and no handler of the host's.
TEST_F(Merge, AFullDiskLeavesNoOutput) {
    Bytes many;
    for (int i = 0; i < 200; ++i) many = many + structure("S" + std::to_string(i), box(1) + box(2));
    const auto parts = write({library(many), library(structure("T", box(3)))});
    const int status = inChild([] {
        const struct rlimit limit { 4096, 4096 };
        setrlimit(RLIMIT_FSIZE, &limit);
    },
                               out, parts);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), carvelle::merge_exit_status(MergeFailure::Write));
    EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds", "p1.gds"}));
}

std::string changedPart;
void (*changeWhileCopied)() = nullptr;
int signalToSend = 0;

// A part cut short, rewritten in place or replaced once its head was read, and SIGINT or SIGTERM from a user or
// a batch system: refused, the temporary file removed, the signal then delivered as the host would have had it.
TEST_F(Merge, NeitherAChangedPartNorASignalLeavesAnOutput) {
    const Bytes part = library(structure("A", box(1)) + structure("B", box(2)));
    const struct {
        const char* what;
        void (*change)();
    } changes[] = {
        {"cut", [] { std::filesystem::resize_file(changedPart, 100); }},
        {"rewritten", [] {
             std::fstream file(changedPart, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(-10, std::ios::end);
             file.put('\x05');
         }},
        {"replaced", [] {
             std::filesystem::copy_file(changedPart, changedPart + ".new");
             std::filesystem::rename(changedPart + ".new", changedPart);
         }},
    };
    // Plain parts into a plain output, and .gz parts into a .gz output.
    for (const std::string gz : {"", ".gz"}) {
        for (const auto& change : changes) {
            SCOPED_TRACE(std::string(change.what) + gz);
            for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
            auto parts = write({part, part});
            for (auto& path : parts) {
                if (!gz.empty()) {
                    const Bytes zipped = gzipMember(part);
                    std::ofstream(path + gz, std::ios::binary)
                        .write(reinterpret_cast<const char*>(zipped.data()), static_cast<std::streamsize>(zipped.size()));
                    std::filesystem::remove(path);
                    path += gz;
                }
                // An hour ago, so that a rewrite within the clock's tick still shows.
                std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(1));
            }
            changedPart = parts[1];
            carvelle::merge::afterHead = change.change;
            const carvelle::MergeResult result = carvelle::merge_libraries(out + gz, parts);
            carvelle::merge::afterHead = nullptr;
            EXPECT_EQ(result.failure, MergeFailure::PartChanged) << result.message;
            EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds" + gz, "p1.gds" + gz}));
        }
    }

    // Cut or rewritten once the check is through with it and the copy has it open: a short read is the change,
    // not a failed disk (17). (A part replaced then is copied whole from the file the copy has open.)
    Bytes boxes;
    for (std::int16_t i = 0; boxes.size() < (std::size_t{4} << 20); ++i) {
        const Bytes one = box(static_cast<std::int16_t>(i % 5));
        boxes.insert(boxes.end(), one.begin(), one.end());
    }
    const Bytes large = library(structure("A", box(1)) + structure("L", boxes));
    for (const auto& change : {changes[0], changes[1]}) {
        SCOPED_TRACE(std::string(change.what) + " while copied");
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
        const auto parts = write({part, large});
        std::filesystem::last_write_time(parts[1], std::filesystem::last_write_time(parts[1]) - std::chrono::hours(1));
        changedPart = parts[1];
        changeWhileCopied = change.change;
        carvelle::merge::beforeCopy = [](std::size_t index) {
            if (index == 1) changeWhileCopied();
        };
        const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
        carvelle::merge::beforeCopy = nullptr;
        EXPECT_EQ(result.failure, MergeFailure::PartChanged) << result.message;
        EXPECT_NE(result.message.find("part " + parts[1] + " was changed or cut while it was merged"), std::string::npos)
            << result.message;
        EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds", "p1.gds"}));
    }

    // Rewritten once the check has the part open: the records that no longer parse are the change, not damage.
    {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
        const auto parts = write({part, part});
        std::filesystem::last_write_time(parts[1], std::filesystem::last_write_time(parts[1]) - std::chrono::hours(1));
        changedPart = parts[1];
        changeWhileCopied = changes[1].change;
        carvelle::merge::beforeCheck = [](std::size_t index) {
            if (index == 1) changeWhileCopied();
        };
        const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
        carvelle::merge::beforeCheck = nullptr;
        EXPECT_EQ(result.failure, MergeFailure::PartChanged) << result.message;
    }

    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
    const auto parts = write({part});
    for (const int signal : {SIGINT, SIGTERM}) {
        signalToSend = signal;
        const int status = inChild([] { carvelle::merge::afterHead = [] { std::raise(signalToSend); }; }, out, parts);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds"}));
    }
}

// A FIFO would hang an open that waits for its writer.
TEST_F(Merge, AFifoIsRefusedWithoutWaitingForAWriter) {
    const auto parts = write({library(structure("A"))});
    ASSERT_EQ(mkfifo(dir.file("fifo.gds").c_str(), 0600), 0);
    const std::size_t descriptors = openDescriptors();
    const carvelle::MergeResult result = carvelle::merge_libraries(out, {parts[0], dir.file("fifo.gds")});
    EXPECT_EQ(result.failure, MergeFailure::Open);
    EXPECT_NE(result.message.find("fifo.gds: not a regular file"), std::string::npos) << result.message;
    EXPECT_EQ(openDescriptors(), descriptors);
}

// Another merge's temporary file (or a file that happens to have its name) is neither used nor touched.
TEST_F(Merge, ATemporaryNameInUseIsPassedOver) {
    const auto parts = write({library(structure("A"))});
    const std::string taken = out + ".merging-" + std::to_string(getpid()) + "-0";
    std::ofstream(taken) << "another merge's";
    ASSERT_TRUE(carvelle::merge_libraries(out, parts));
    EXPECT_EQ(readFile(taken), gdstest::text("another merge's"));
    EXPECT_EQ(files(), (std::vector<std::string>{"out.gds", "out.gds.merging-" + std::to_string(getpid()) + "-0",
                                                 "p0.gds"}));
}
#endif

}  // namespace
