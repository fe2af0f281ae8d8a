// SPDX-License-Identifier: MIT
// Library and structure brackets: the opening records, open failures, the
// state machine, the name registry and unit values out of range.
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "api_fixture.h"

using namespace gdstest;

namespace {

const Bytes kMilliNano = hex("3E 41 89 37 4B C6 A7 F0 39 44 B8 2F A0 9B 5A 54");
const double kInf = std::numeric_limits<double>::infinity();

// A BGNLIB or BGNSTR payload whose first six words are the local time at
// some second from 'from' to 'to' (the modification time; the access time
// repeats it).
bool stampedBetween(const Bytes& stamp, std::time_t from, std::time_t to) {
    for (std::time_t t = from; t <= to; ++t) {
        const std::tm local = *std::localtime(&t);
        const int words[6] = {local.tm_year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
        bool same = true;
        for (std::size_t i = 0; i < 6; ++i) same = same && (stamp[2 * i] << 8 | stamp[2 * i + 1]) == words[i];
        if (same) return true;
    }
    return false;
}

class LibraryTest : public ::testing::Test {
protected:
    // Begins and ends a library named name, relative to the temp directory.
    Bytes emptyLibrary(const std::string& name, double user = 0.001, double meter = 1e-9) {
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        GdsHandle h = nullptr;
        EXPECT_EQ(GDS_BeginLib(name.c_str(), user, meter, &h), GDS_OK);
        EXPECT_EQ(GDS_EndLib(h), GDS_OK);
        std::filesystem::current_path(previous);
        return readFile(dir.file(name));
    }
    static Bytes frame(const std::string& name, const Bytes& units) {
        return hex("00 06 00 02 00 03 00 1C 01 02") + Bytes(24, 0) + record(LIBNAME, 0x06, padded(name)) +
               record(UNITS, 0x05, units) + hex("00 04 04 00");
    }
    TempDir dir;
};

TEST_F(LibraryTest, EmptyLibraryIsHeaderBgnlibLibnameUnitsEndlib) {
    const std::time_t before = std::time(nullptr);
    const Bytes file = emptyLibrary("a.gds");
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(file.size(), 68u);
    EXPECT_EQ(maskTimestamps(file), hex("00 06 00 02 00 03 00 1C 01 02") + Bytes(24, 0) +
                                        hex("00 0A 02 06 61 2E 67 64 73 00 00 14 03 05") + kMilliNano +
                                        hex("00 04 04 00"));
    // Both halves of BGNLIB carry the local time of the call.
    const Bytes stamp(file.begin() + 10, file.begin() + 34);
    EXPECT_TRUE(std::equal(stamp.begin(), stamp.begin() + 12, stamp.begin() + 12));
    EXPECT_TRUE(stampedBetween(stamp, before, after));
}

TEST_F(LibraryTest, LibnamePaddingAndWholePaths) {
    EXPECT_EQ(maskTimestamps(emptyLibrary("ab.gds")), frame("ab.gds", kMilliNano));
    EXPECT_EQ(splitRecords(emptyLibrary("ab.gds"))[2].bytes(), hex("00 0A 02 06 61 62 2E 67 64 73"));
    std::filesystem::create_directory(dir.path() / "out");
    EXPECT_EQ(maskTimestamps(emptyLibrary("out/top.gds")), frame("out/top.gds", kMilliNano));
}

TEST_F(LibraryTest, UnitsInParameterOrderAndOutOfRangeValues) {
    EXPECT_EQ(maskTimestamps(emptyLibrary("u.gds", 1.0, -2.5)),
              frame("u.gds", kOne + hex("C1 28 00 00 00 00 00 00")));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(maskTimestamps(emptyLibrary("v.gds", nan, 0x1p-261)), frame("v.gds", kZero8 + kZero8));
    EXPECT_EQ(maskTimestamps(emptyLibrary("w.gds", std::nextafter(0x1p252, 0.0), 0x1p-260)),
              frame("w.gds", kBelow2To252 + hex("00 10 00 00 00 00 00 00")));
    // Out of range: 2, the handle is stored, no file, the library is not open.
    for (auto [user, meter] : {std::pair{kInf, 1e-9}, {0.001, -kInf}, {0x1p252, 1e-9}, {0.001, -0x1p252}}) {
        const std::string name = dir.file("range.gds");
        GdsHandle h = nullptr;
        EXPECT_EQ(GDS_BeginLib(name.c_str(), user, meter, &h), GDS_ERR_RANGE);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GDS_BeginStructure(h, "A"), GDS_ERR_STOPPED);
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);
        EXPECT_FALSE(std::filesystem::exists(name));
    }
}

TEST_F(LibraryTest, ExistingFileIsCutToLengthZero) {
    std::ofstream(dir.file("old.gds"), std::ios::binary) << std::string(5000, 'x');
    EXPECT_EQ(maskTimestamps(emptyLibrary("old.gds")), frame("old.gds", kMilliNano));
}

TEST_F(LibraryTest, OpenFailuresStoreAHandleThatEndLibFrees) {
    const std::string longName(65531, 'n');
    const std::string missing = dir.file("missing/x.gds");
    for (const char* name : {missing.c_str(), "", static_cast<const char*>(nullptr),
                             longName.c_str()}) {
        GdsHandle h = nullptr;
        EXPECT_EQ(GDS_BeginLib(name, 0.001, 1e-9, &h), GDS_ERR_OPEN);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);
        EXPECT_EQ(GDS_BeginStructure(h, "A"), GDS_ERR_STOPPED);
        EXPECT_EQ(GDS_BeginStructure(h, nullptr), GDS_ERR_STOPPED);
        EXPECT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_STRUCT_NOT_OPEN);
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    // A null outHandle: 1, and nothing is created.
    EXPECT_EQ(GDS_BeginLib(dir.file("none.gds").c_str(), 0.001, 1e-9, nullptr), GDS_ERR_HANDLE);
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.gds")));
    EXPECT_EQ(GDS_EndLib(nullptr), GDS_ERR_HANDLE);
}

using StructureTest = ElementTest;

// The record types of the whole file, and the names of its STRNAMEs.
std::vector<int> typesOf(const std::vector<Record>& records) {
    std::vector<int> types;
    for (const auto& r : records) types.push_back(r.type);
    return types;
}

TEST_F(StructureTest, DuplicateNameIsRefusedAndLeavesNoStructureOpen) {
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_BeginStructure(h, "S"), GDS_ERR_STRUCT_DUPLICATE);
    EXPECT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);
    ASSERT_EQ(GDS_BeginStructure(h, "TOP"), GDS_OK);
    // A second begin while TOP is open: 7, and the refused name is not registered.
    EXPECT_EQ(GDS_BeginStructure(h, "B"), GDS_ERR_STRUCT_OPEN);
    EXPECT_EQ(GDS_BeginStructure(h, nullptr), GDS_ERR_STRUCT_OPEN);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_BeginStructure(h, "B"), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_OK);
    h = nullptr;
    const auto records = splitRecords(readFile(path));
    EXPECT_EQ(typesOf(records), (std::vector<int>{HEADER, BGNLIB, LIBNAME, UNITS, BGNSTR, STRNAME, ENDSTR, BGNSTR,
                                                  STRNAME, ENDSTR, BGNSTR, STRNAME, ENDSTR, ENDLIB}));
    EXPECT_EQ(records[8].bytes(), hex("00 08 06 06 54 4F 50 00"));
    EXPECT_EQ(records[11].bytes(), hex("00 06 06 06 42 00"));
    for (std::size_t i : {4u, 7u, 10u}) {
        EXPECT_TRUE(std::equal(records[i].payload.begin(), records[i].payload.begin() + 12,
                               records[i].payload.begin() + 12));
    }
    EXPECT_TRUE(stampedBetween(records[10].payload, before, std::time(nullptr)));
}

TEST_F(StructureTest, NamesAreExactByteStringsAndTheEmptyNameCountsOnce) {
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    const std::string longest(65530, 'L');
    for (const std::string& name : {std::string("top"), std::string("TOP"), std::string("A"), std::string("AB"),
                                    std::string("s"), std::string(), std::string("S "), longest}) {
        EXPECT_EQ(GDS_BeginStructure(h, name.c_str()), GDS_OK) << name.size();
        EXPECT_EQ(GDS_EndStructure(h), GDS_OK);
    }
    EXPECT_EQ(GDS_BeginStructure(h, ""), GDS_ERR_STRUCT_DUPLICATE);
    EXPECT_EQ(GDS_BeginStructure(h, "AB"), GDS_ERR_STRUCT_DUPLICATE);
    EXPECT_EQ(GDS_BeginStructure(h, longest.c_str()), GDS_ERR_STRUCT_DUPLICATE);
    EXPECT_EQ(GDS_BeginStructure(h, (longest + "L").c_str()), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(GDS_BeginStructure(h, nullptr), GDS_ERR_NO_STRING);
    EXPECT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_EndLib(h), GDS_OK);
    h = nullptr;
    const auto records = splitRecords(readFile(path));
    ASSERT_EQ(records.size(), 4u + 3 * 9 + 1);
    EXPECT_EQ(records[5 + 3 * 6].bytes(), hex("00 04 06 06"));
    const Record& big = records[5 + 3 * 8];
    EXPECT_EQ(big.length, 65534);
    EXPECT_EQ(big.payload, text(longest));
}

TEST_F(StructureTest, EndLibWithAStructureOpenReturns6AndStillEndsTheFile) {
    ASSERT_EQ(GDS_Box(h, 0, 0, 10, 20, 1, 0, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STRUCT_NOT_CLOSED);
    h = nullptr;
    const Bytes file = readFile(path);
    const auto records = splitRecords(file);
    ASSERT_EQ(records.size(), 6u + 7 + 2);
    EXPECT_EQ(records[12].bytes(), kEndEl);
    EXPECT_EQ(Bytes(file.end() - 8, file.end()), hex("00 04 07 00 00 04 04 00"));
}

TEST_F(StructureTest, TwoHandlesAreIndependent) {
    const std::string other = dir.file("other.gds");
    GdsHandle h2 = nullptr;
    ASSERT_EQ(GDS_BeginLib(other.c_str(), 1.0, 1e-6, &h2), GDS_OK);
    EXPECT_EQ(GDS_BeginStructure(h2, "S"), GDS_OK);
    EXPECT_EQ(GDS_EndStructure(h2), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h2), GDS_OK);
    EXPECT_EQ(elements(), Bytes{});
    EXPECT_EQ(typesOf(splitRecords(readFile(other))),
              (std::vector<int>{HEADER, BGNLIB, LIBNAME, UNITS, BGNSTR, STRNAME, ENDSTR, ENDLIB}));
}

// Output failures: a full device ends in 18, never in GDS_OK.
class WriteFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    }
};

TEST_F(WriteFailureTest, SmallLibraryFailsAtTheFinalFlush) {
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib("/dev/full", 0.001, 1e-9, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
    ASSERT_EQ(GDS_BeginLib("/dev/full", 0.001, 1e-9, &h), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
}

TEST_F(WriteFailureTest, EveryCallAfterAMidLibraryFailureReturns18) {
    std::vector<std::int32_t> xs(32767), ys(32767);
    for (int i = 0; i < 32767; ++i) xs[static_cast<std::size_t>(i)] = ys[static_cast<std::size_t>(i)] = i;
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib("/dev/full", 0.001, 1e-9, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
    int result = GDS_OK;
    for (int i = 0; i < 16 && result == GDS_OK; ++i) {
        result = GDS_Path(h, xs.data(), ys.data(), 32767, 10, 1, 0, 0, 0, 0);
    }
    EXPECT_EQ(result, GDS_ERR_WRITE);
    const std::int32_t three[3] = {0, 1, 2};
    EXPECT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Path(h, xs.data(), ys.data(), 2, 10, 1, 0, 0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Boundary(h, three, three, 3, 1, 0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Circle(h, 0, 0, 10, 8, 1, 0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Arc(h, 0, 0, 10, 0, 90, 8, 1, 1, 0, 0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Sector(h, 0, 0, 10, 0, 90, 8, 1, 0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Text(h, 0, 0, "t", 1, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Sref(h, "B", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Aref(h, "B", three, three, 1, 1, 0, 1.0, 0.0, 0, 0), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_Node(h, three, three, 3, 1, 0, 0, 0), GDS_ERR_WRITE);
    // A call's own tests still come first.
    EXPECT_EQ(GDS_Boundary(h, three, three, 2, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    EXPECT_EQ(GDS_Text(h, 0, 0, nullptr, 1, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_NO_STRING);
    EXPECT_EQ(GDS_Node(h, nullptr, three, 3, 1, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_BeginStructure(h, "B"), GDS_ERR_STRUCT_OPEN);
    // EndStructure reports 18 but closes the bracket, so that EndLib ends
    // with the write failure rather than an open structure.
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
}

#if !defined(_WIN32)
// A child of a fork writes nothing into its parent's library, whatever it
// calls: the parent's second box follows its first, and one ENDLIB ends it.
TEST_F(ElementTest, AForkedChildRefusesEveryCallAndTheParentWritesOn) {
    const std::int32_t three[3] = {0, 5, 0};
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool refused = GDS_Box(h, 0, 0, 9, 9, 9, 0, 0, 0) == GDS_ERR_STOPPED &&
                             GDS_Node(h, three, three, 3, 9, 0, 0, 0) == GDS_ERR_STOPPED &&
                             GDS_EndStructure(h) == GDS_ERR_STOPPED && GDS_BeginStructure(h, "C") == GDS_ERR_STOPPED &&
                             GDS_EndLib(h) == GDS_ERR_STOPPED;
        ::_exit(refused ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(GDS_Box(h, 2, 2, 3, 3, 2, 0, 0, 0), GDS_OK);
    // BOX ELFLAGS PLEX LAYER BOXTYPE XY ENDEL, twice: layer 1, then layer 2.
    const auto records = elementRecords();
    ASSERT_EQ(records.size(), 14u);
    EXPECT_EQ(records[3].bytes(), int16Record(LAYER, 1));
    EXPECT_EQ(records[10].bytes(), int16Record(LAYER, 2));
}
#endif

}  // namespace
