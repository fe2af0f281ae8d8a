// SPDX-License-Identifier: MIT
// The C++ header: the same calls through carvelle.hpp and straight through
// the C functions write the same bytes; refusals become carvelle::Error with
// the library's code and text; scopes end what they began.

#include "carvelle.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "gds_test_support.h"
#include "gunzip.h"

namespace {

using carvelle::Point;
using gdstest::Bytes;
using gdstest::maskTimestamps;
using gdstest::readFile;
using gdstest::splitRecords;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

static_assert(!std::is_copy_constructible_v<carvelle::Library>);
static_assert(std::is_nothrow_move_constructible_v<carvelle::Library>);
static_assert(std::is_nothrow_move_assignable_v<carvelle::Library>);
static_assert(!std::is_copy_constructible_v<carvelle::Structure>);
static_assert(carvelle::word(0x8000) == -32768 && carvelle::word(0xFFFF) == -1 && carvelle::word(0x7FFF) == 32767);

// The reference: every element through the C functions.
void writeEveryThroughC(const std::string& path) {
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.5, 2.5e-10, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "CELL"), GDS_OK);
    ASSERT_EQ(GDS_Box(h, -10, -20, 30, 40, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "TOP"), GDS_OK);
    const int32_t bx[] = {0, 100, 100, 0}, by[] = {0, 0, 50, 50};
    ASSERT_EQ(GDS_Boundary(h, bx, by, 4, 5, 6, 1, 7), GDS_OK);
    const int32_t ex[] = {kMin, kMax, 0}, ey[] = {kMax, kMin, -1};
    ASSERT_EQ(GDS_Boundary(h, ex, ey, 3, 255, 254, 2, kMax), GDS_OK);
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, -1, INT16_MIN, -1, kMin), GDS_OK);
    ASSERT_EQ(GDS_BoxWH(h, 10, 20, 30, 40, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Square(h, -100, -100, 25, 2, 1, 0, 0), GDS_OK);
    const int32_t px[] = {0, 1000, 1000}, py[] = {0, 0, -500};
    ASSERT_EQ(GDS_Path(h, px, py, 3, 20, 7, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Circle(h, 500, 500, 100, 16, 8, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Arc(h, 0, 0, 300, 0.0, 90.0, 12, 10, 9, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sector(h, 0, 0, 200, 45.0, 135.0, 10, 10, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(h, 12, 34, "hello", 11, 3, 5, 1, 7, INT16_MIN + 6, 2.5, 30.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(h, "CELL", 100, 200, INT16_MIN, 1.5, 90.0, 0, 0), GDS_OK);
    const int32_t ax[] = {0, 400, 0}, ay[] = {0, 0, 300};
    ASSERT_EQ(GDS_Aref(h, "CELL", ax, ay, 4, 3, 0, 1.0, 0.0, 0, 0), GDS_OK);
    const int32_t nx[] = {1, 2, 3}, ny[] = {4, 5, 6};
    ASSERT_EQ(GDS_Node(h, nx, ny, 3, 12, 3, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    ASSERT_EQ(GDS_EndLib(h), GDS_OK);
}

// The same calls through the throwing API, with each form of point list.
void writeEveryThroughWrapper(const std::string& path) {
    carvelle::Library lib(path, 0.5, 2.5e-10);
    {
        auto cell = lib.structure("CELL");
        cell->box(-10, -20, 30, 40, 1, 2);
    }
    auto top = lib.structure(std::string("TOP"));
    const std::vector<Point> ring{{0, 0}, {100, 0}, {100, 50}, {0, 50}};
    lib.boundary(ring, 5, 6, 1, 7);
    const std::vector<int32_t> ex{kMin, kMax, 0};
    const std::array<int32_t, 3> ey{kMax, kMin, -1};
    lib.boundary(ex, ey, 255, 254, 2, kMax);  // xs and ys as two sequences
    lib.box(0, 0, 1, 1, -1, carvelle::word(0x8000), carvelle::word(0xFFFF), kMin);
    lib.box_wh(10, 20, 30, 40, 1);
    lib.square(-100, -100, 25, 2, 1);
    lib.path({{0, 0}, {1000, 0}, {1000, -500}}, 20, 7, 1, 2);
    lib.circle(500, 500, 100, 16, 8);
    lib.arc(0, 0, 300, 0.0, 90.0, 12, 10, 9, 1);
    lib.sector(0, 0, 200, 45.0, 135.0, 10, 10, 2);
    lib.text(12, 34, std::string("hello"), 11, 3, 5, 1, 7, carvelle::word(0x8006), 2.5, 30.0);
    lib.sref("CELL", 100, 200, carvelle::word(0x8000), 1.5, 90.0);
    lib.aref(std::string("CELL"), {0, 0}, {400, 0}, {0, 300}, 4, 3);
    const int32_t nx[] = {1, 2, 3}, ny[] = {4, 5, 6};
    top->node(nx, ny, 12, 3);
    top.end();
    lib.close();
    EXPECT_FALSE(lib.is_open());
}

std::vector<uint8_t> tailTypes(const Bytes& file, std::size_t n) {
    std::vector<uint8_t> types;
    for (const auto& r : splitRecords(file)) types.push_back(r.type);
    if (types.size() > n) types.erase(types.begin(), types.end() - static_cast<long>(n));
    return types;
}

template <class F>
carvelle::Error errorOf(F&& call) {
    try {
        call();
    } catch (const carvelle::Error& e) {
        return e;
    }
    ADD_FAILURE() << "no carvelle::Error";
    return carvelle::Error(0, nullptr);
}

TEST(CarvelleHpp, EveryElementWritesTheBytesOfTheCCalls) {
    gdstest::TempDir dir;
    const std::string path = dir.file("out.gds");
    writeEveryThroughC(path);
    const Bytes expected = maskTimestamps(readFile(path));
    ASSERT_GT(expected.size(), 500u);
    writeEveryThroughWrapper(path);
    EXPECT_EQ(maskTimestamps(readFile(path)), expected);
}

TEST(CarvelleHpp, PropertiesAndAFixedTimeWriteTheBytesOfTheCCalls) {
    gdstest::TempDir dir;
    const std::string path = dir.file("properties.gds");
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLibAt(path.c_str(), 0.001, 1e-9, 86399, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "TOP"), GDS_OK);
    ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 1, "net"), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 2, "vdd"), GDS_OK);
    ASSERT_EQ(GDS_Sref(h, "CELL", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Property(h, 127, "x"), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    ASSERT_EQ(GDS_EndLib(h), GDS_OK);
    const Bytes expected = readFile(path);
    {
        carvelle::Library lib;
        lib.open_at(path.c_str(), 86399);
        auto top = lib.structure("TOP");
        top->box(0, 0, 1, 1, 1);
        EXPECT_EQ(lib.try_property(0, "refused"), GDS_ERR_PROPERTY);
        EXPECT_EQ(lib.try_property(3, std::string("a\0b", 3)), GDS_ERR_PROPERTY);
        lib.properties({{1, "net"}, {2, "vdd"}});
        top->sref("CELL", 0, 0);
        lib.property(127, std::string("x"));
        EXPECT_EQ(errorOf([&] { lib.property(127, "again"); }).code(), GDS_ERR_PROPERTY);
        top.end();
        EXPECT_EQ(errorOf([&] { lib.property(5, "late"); }).code(), GDS_ERR_NO_ELEMENT);
    }
    const Bytes written = readFile(path);
    EXPECT_EQ(written, expected);
    // 1970-01-01 23:59:59 UTC, in BGNLIB and BGNSTR alike.
    const auto records = splitRecords(written);
    ASSERT_GT(records.size(), 5u);
    const Bytes day = {0, 70, 0, 1, 0, 1, 0, 23, 0, 59, 0, 59, 0, 70, 0, 1, 0, 1, 0, 23, 0, 59, 0, 59};
    EXPECT_EQ(records[1].payload, day);
    EXPECT_EQ(records[4].payload, day);
}

// A .gz name is the library's business: the layer passes it through.
TEST(CarvelleHpp, AGzNameWritesTheSameRecordsCompressed) {
    gdstest::TempDir dir;
    writeEveryThroughC(dir.file("out.gds"));
    writeEveryThroughWrapper(dir.file("out.gds.gz"));
    Bytes unpacked;
    ASSERT_TRUE(gdstest::gunzip(readFile(dir.file("out.gds.gz")), unpacked));
    const auto withoutName = [](const Bytes& file) {
        Bytes out;
        for (const auto& r : splitRecords(maskTimestamps(file))) {
            const Bytes bytes = r.bytes();
            if (r.type != gdstest::LIBNAME) out.insert(out.end(), bytes.begin(), bytes.end());
        }
        return out;
    };
    EXPECT_EQ(withoutName(unpacked), withoutName(readFile(dir.file("out.gds"))));
}

TEST(CarvelleHpp, DefaultsAndTryFormsWriteTheBytesOfTheCCalls) {
    gdstest::TempDir dir;
    const std::string path = dir.file("d.gds");
    const int32_t xs[] = {0, 10, 0}, ys[] = {0, 0, 10};
    {
        GdsHandle h = nullptr;
        ASSERT_EQ(GDS_BeginLib(path.c_str(), 1e-3, 1e-9, &h), GDS_OK);
        ASSERT_EQ(GDS_BeginStructure(h, "D"), GDS_OK);
        ASSERT_EQ(GDS_Boundary(h, xs, ys, 3, 0, 0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_Box(h, 0, 0, 10, 10, 0, 0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_Path(h, xs, ys, 2, 0, 0, 0, 0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_Text(h, 0, 0, "T", 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_Sref(h, "A", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_Aref(h, "A", xs, ys, 2, 2, 0, 1.0, 0.0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_Node(h, xs, ys, 1, 0, 0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
        ASSERT_EQ(GDS_EndLib(h), GDS_OK);
    }
    const Bytes expected = maskTimestamps(readFile(path));
    carvelle::Library lib;
    ASSERT_EQ(lib.try_open(path), GDS_OK);
    int32_t result = -1;
    {
        carvelle::Structure d = lib.try_structure("D", result);
        ASSERT_EQ(result, GDS_OK);
        ASSERT_TRUE(d.is_open());
        const std::array<Point, 3> tri{{{0, 0}, {10, 0}, {0, 10}}};
        EXPECT_EQ(lib.try_boundary(tri), GDS_OK);
        EXPECT_EQ(lib.try_box(0, 0, 10, 10), GDS_OK);
        EXPECT_EQ(lib.try_path({tri.data(), 2}), GDS_OK);
        EXPECT_EQ(lib.try_text(0, 0, "T"), GDS_OK);
        EXPECT_EQ(lib.try_sref("A", 0, 0), GDS_OK);
        EXPECT_EQ(lib.try_aref("A", tri[0], tri[1], tri[2], 2, 2), GDS_OK);
        EXPECT_EQ(lib.try_node({xs, ys, 1}), GDS_OK);
    }  // the scope ends D
    EXPECT_EQ(lib.try_close(), GDS_OK);
    EXPECT_EQ(maskTimestamps(readFile(path)), expected);
}

TEST(CarvelleHpp, ErrorsCarryTheLibrarysCodeNameAndText) {
    gdstest::TempDir dir;
    carvelle::Library lib(dir.file("e.gds"));
    lib.begin_structure("A");
    auto e = errorOf([&] { lib.begin_structure("B"); });
    EXPECT_EQ(e.code(), GDS_ERR_STRUCT_OPEN);
    EXPECT_STREQ(e.name(), "GDS_ERR_STRUCT_OPEN");
    EXPECT_EQ(e.message(), "Error: Structure is already opened.");
    EXPECT_STREQ(e.function(), "GDS_BeginStructure");
    EXPECT_STREQ(e.what(),
                 "GDS_BeginStructure: Error: Structure is already opened. (GDS_ERR_STRUCT_OPEN, code 7)");
    const std::runtime_error& base = e;  // catchable as a standard exception
    EXPECT_NE(std::string(base.what()).find("code 7"), std::string::npos);

    EXPECT_EQ(errorOf([&] { lib.path({{0, 0}}); }).code(), GDS_ERR_PATH_POINTS);
    EXPECT_EQ(errorOf([&] { lib.boundary({{0, 0}, {1, 1}}); }).code(), GDS_ERR_TOO_FEW_POINTS);
    EXPECT_EQ(errorOf([&] { lib.circle(0, 0, 5, 8190); }).code(), GDS_ERR_TOO_MANY_POINTS);
    EXPECT_EQ(errorOf([&] { lib.circle(kMax - 3, 0, 5, 8); }).code(), GDS_ERR_RANGE);
    EXPECT_EQ(errorOf([&] { lib.text(0, 0, nullptr); }).code(), GDS_ERR_NO_STRING);
    EXPECT_EQ(errorOf([&] { lib.text(0, 0, std::string(513, 'x')); }).code(), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(errorOf([&] { lib.text(0, 0, "x", 0, 256); }).code(), GDS_ERR_TEXTTYPE);
    EXPECT_EQ(errorOf([&] { lib.node(std::vector<Point>(51)); }).code(), GDS_ERR_NODE_TOO_MANY);
    EXPECT_EQ(errorOf([&] { lib.node(std::vector<Point>{}); }).code(), GDS_ERR_NODE_TOO_FEW);
    lib.end_structure();
    EXPECT_EQ(errorOf([&] { lib.box(0, 0, 1, 1); }).code(), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(errorOf([&] { lib.begin_structure("A"); }).code(), GDS_ERR_STRUCT_DUPLICATE);
    lib.close();
    EXPECT_EQ(errorOf([&] { lib.begin_structure("C"); }).code(), GDS_ERR_HANDLE);
    EXPECT_EQ(errorOf([&] { lib.close(); }).code(), GDS_ERR_HANDLE);

    auto open = errorOf([&] { carvelle::Library bad(dir.file("no/such/folder.gds")); });
    EXPECT_EQ(open.code(), GDS_ERR_OPEN);
    EXPECT_STREQ(open.function(), "GDS_BeginLib");
    EXPECT_EQ(errorOf([&] { carvelle::Library bad(dir.file("u.gds"), 0.0, 1e300 * 1e300); }).code(),
              GDS_ERR_RANGE);
    EXPECT_STREQ(carvelle::result_name(19), "GDS_ERR_NO_POINTS");
    EXPECT_EQ(carvelle::result_name(20), nullptr);
    EXPECT_EQ(carvelle::error_message(-1), "");
}

TEST(CarvelleHpp, PointListsThatCannotBePassedAreRefusedWithoutWriting) {
    gdstest::TempDir dir;
    const std::string path = dir.file("p.gds");
    auto build = [&](bool refused) {
        carvelle::Library lib(path);
        auto s = lib.structure("P");
        lib.box(0, 0, 1, 1);
        if (refused) {
            const std::vector<int32_t> three{0, 1, 2}, two{0, 1};
            EXPECT_EQ(lib.try_boundary({three, two}), GDS_ERR_NO_POINTS);
            EXPECT_EQ(lib.try_path(std::vector<Point>(32768)), GDS_ERR_TOO_MANY_POINTS);
            EXPECT_EQ(lib.try_boundary(std::vector<Point>(40000)), GDS_ERR_TOO_MANY_POINTS);
            EXPECT_EQ(lib.try_node(std::vector<Point>(70000)), GDS_ERR_NODE_TOO_MANY);
            EXPECT_EQ(lib.try_boundary(std::vector<Point>{}), GDS_ERR_TOO_FEW_POINTS);  // from the library
            EXPECT_EQ(errorOf([&] { lib.path({three, two}); }).code(), GDS_ERR_NO_POINTS);
        }
        EXPECT_EQ(lib.try_path(std::vector<Point>(32767)), GDS_OK);  // the largest count that fits
    };
    build(false);
    const Bytes expected = maskTimestamps(readFile(path));
    build(true);
    EXPECT_EQ(maskTimestamps(readFile(path)), expected);
}

TEST(CarvelleHpp, ScopesEndTheStructureAndLibraryWhenAnExceptionLeaves) {
    gdstest::TempDir dir;
    const std::string path = dir.file("x.gds");
    EXPECT_THROW(
        {
            carvelle::Library lib(path);
            auto s = lib.structure("A");
            lib.box(0, 0, 1, 1);
            throw std::logic_error("boom");
        },
        std::logic_error);
    EXPECT_FALSE(std::ifstream(path).good()) << "an unwound library leaves no file under its name";
    // A library begun while an exception is already in flight (in a
    // destructor) ends normally.
    struct Writes {
        std::string path;
        ~Writes() {
            carvelle::Library lib;
            int32_t begun = lib.try_open(path);
            lib.try_structure("D", begun);
        }
    };
    EXPECT_THROW(
        {
            Writes writes{path};
            throw std::logic_error("boom");
        },
        std::logic_error);
    using namespace gdstest;
    EXPECT_EQ(tailTypes(readFile(path), 2), (std::vector<uint8_t>{ENDSTR, ENDLIB}));

    // A structure begun without a scope is ended by ~Library too.
    {
        carvelle::Library lib(path);
        lib.begin_structure("B");
        lib.box(0, 0, 1, 1);
    }
    EXPECT_EQ(tailTypes(readFile(path), 3), (std::vector<uint8_t>{ENDEL, ENDSTR, ENDLIB}));

    // close() with a structure open ends it first, as leaving its scope does.
    {
        carvelle::Library lib(path);
        lib.begin_structure("C");
        lib.box(0, 0, 1, 1);
        EXPECT_EQ(lib.try_close(), GDS_OK);
        EXPECT_FALSE(lib.is_open());
    }
    EXPECT_EQ(tailTypes(readFile(path), 3), (std::vector<uint8_t>{ENDEL, ENDSTR, ENDLIB}));
}

// A double coordinate or a bool layer does not compile.
template <class Coordinate, class Layer, class = void>
struct BoxTakes : std::false_type {};
template <class Coordinate, class Layer>
struct BoxTakes<Coordinate, Layer,
                std::void_t<decltype(std::declval<carvelle::Library&>().try_box(std::declval<Coordinate>(), 0, 1, 1,
                                                                                std::declval<Layer>()))>>
    : std::true_type {};
static_assert(BoxTakes<int32_t, int>::value && BoxTakes<long long, unsigned char>::value);
static_assert(!BoxTakes<double, int>::value && !BoxTakes<float, int>::value && !BoxTakes<int, bool>::value);

TEST(CarvelleHpp, ValuesThatDoNotFitTheirCParameterAreRefusedNeverCut) {
    gdstest::TempDir dir;
    const std::string path = dir.file("n.gds");
    enum Layer { METAL1 = 10 };
    const std::vector<int32_t> xs{0, 1000, 1000}, ys{0, 0, 500};
    auto build = [&](bool refused) {
        carvelle::Library lib(path);
        auto s = lib.structure("N");
        lib.box(0, 0, 1, 1, METAL1, 0, carvelle::Bits16(0x8000));  // an enumeration; a bit word up to 0xFFFF
        lib.path(xs, ys, 20, 7);                                   // two std::vector<int32_t>
        if (!refused) return;
        const int layer = 70000;
        const long long far = 3000000000LL;
        const unsigned count = 40000u;
        EXPECT_EQ(lib.try_box(0, 0, 1, 1, layer), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_box(far, 0, 1, 1), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_circle(0, 0, 10, count), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_sref("N", 0, -far), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_text(0, 0, "t", 0, 0, 0x10000), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_path(xs, ys, far), GDS_ERR_RANGE);
        const carvelle::Error error = errorOf([&] { lib.box(0, 0, 1, 1, layer); });
        EXPECT_EQ(error.code(), GDS_ERR_RANGE);
        EXPECT_STREQ(error.function(), "GDS_Box");
    };
    build(false);
    const Bytes expected = maskTimestamps(readFile(path));
    build(true);
    EXPECT_EQ(maskTimestamps(readFile(path)), expected);
    bool found = false;
    for (const auto& r : splitRecords(expected)) {
        found = found || (r.type == gdstest::ELFLAGS && r.payload == gdstest::hex("80 00"));
    }
    EXPECT_TRUE(found) << "Bits16(0x8000) reaches ELFLAGS as its 16 bits";
}

TEST(CarvelleHpp, MergeJoinsPartsAndThrowsMergeErrorWhenRefused) {
    gdstest::TempDir dir;
    for (const char* name : {"A", "B"}) {
        carvelle::Library part(dir.file(std::string(name) + ".gds"));
        auto s = part.structure(name);
        part.box(0, 0, 1, 1);
    }
    const carvelle::MergeResult result = carvelle::merge(dir.file("AB.gds"), {dir.file("A.gds"), dir.file("B.gds")});
    EXPECT_EQ(result.structures, 2u);
    EXPECT_EQ(readFile(dir.file("AB.gds")).size(), result.bytes);
    {
        carvelle::Library other(dir.file("A2.gds"));  // another structure of the same name
        auto s = other.structure("A");
        other.box(0, 0, 2, 2);
    }
    try {
        carvelle::merge(dir.file("AA.gds"), {dir.file("A.gds"), dir.file("A2.gds")});
        ADD_FAILURE() << "no MergeError";
    } catch (const carvelle::MergeError& e) {
        EXPECT_EQ(e.failure(), carvelle::MergeFailure::DuplicateStructure);
        EXPECT_NE(std::string(e.what()).find("\"A\" is defined in part"), std::string::npos) << e.what();
    }
}

TEST(CarvelleHpp, StructureScopeEndsOnce) {
    gdstest::TempDir dir;
    carvelle::Library lib(dir.file("s.gds"));
    int32_t result = -1;
    auto a = lib.try_structure("A", result);
    ASSERT_EQ(result, GDS_OK);
    auto b = lib.try_structure("B", result);  // refused: A is open
    EXPECT_EQ(result, GDS_ERR_STRUCT_OPEN);
    EXPECT_FALSE(b.is_open());
    EXPECT_EQ(b.try_end(), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(a.try_end(), GDS_OK);
    EXPECT_EQ(a.try_end(), GDS_ERR_STRUCT_NOT_OPEN);  // no second GDS_EndStructure
    EXPECT_FALSE(a.is_open());
    lib.close();
}

TEST(CarvelleHpp, MovingTransfersTheHandleAndAssignmentEndsTheOldLibrary) {
    gdstest::TempDir dir;
    carvelle::Library first(dir.file("1.gds"));
    first.begin_structure("ONE");
    GdsHandle handle = first.handle();
    carvelle::Library moved(std::move(first));
    EXPECT_EQ(moved.handle(), handle);
    EXPECT_FALSE(first.is_open());                 // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(first.try_close(), GDS_ERR_HANDLE);  // NOLINT(bugprone-use-after-move)

    carvelle::Library second(dir.file("2.gds"));
    EXPECT_EQ(second.try_open(dir.file("3.gds")), GDS_ERR_STARTED);  // already holds a library
    moved = std::move(second);                                       // ends 1.gds, with its open structure
    using namespace gdstest;
    EXPECT_EQ(tailTypes(readFile(dir.file("1.gds")), 2), (std::vector<uint8_t>{ENDSTR, ENDLIB}));
    moved.close();
    EXPECT_EQ(tailTypes(readFile(dir.file("2.gds")), 1), (std::vector<uint8_t>{ENDLIB}));

    // release() hands the handle over to the caller.
    carvelle::Library third(dir.file("4.gds"));
    GdsHandle raw = third.release();
    EXPECT_FALSE(third.is_open());
    EXPECT_EQ(GDS_EndLib(raw), GDS_OK);
}

TEST(CarvelleHpp, BitWordsReachTheFileAsTheirSixteenBits) {
    gdstest::TempDir dir;
    const std::string path = dir.file("w.gds");
    {
        carvelle::Library lib(path);
        auto s = lib.structure("W");
        lib.sref("X", 0, 0, carvelle::word(0x8000));
    }
    using namespace gdstest;
    bool found = false;
    for (const auto& r : splitRecords(readFile(path))) {
        if (r.type == STRANS) {
            EXPECT_EQ(r.payload, hex("80 00"));
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace

TEST(CarvelleHpp, GuardsRefuseWhatReadersRejectWithoutWriting) {
    gdstest::TempDir dir;
    const std::string path = dir.file("g.gds");
    const double nan = std::nan(""), inf = HUGE_VAL;
    const std::string longest(65530, 'N');
    auto build = [&](bool refused) {
        carvelle::Library lib(path);
        auto s = lib.structure("G");
        lib.sref("LEAF", 0, 0, 0, 1e-3, 359.0);
        lib.aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 32767, 1);
        if (!refused) return;
        const struct {
            int32_t got, code;
        } cases[] = {
            {lib.try_sref("LEAF", 0, 0, 0, 0.0), GDS_ERR_RANGE},
            {lib.try_sref("LEAF", 0, 0, 0, -1.0), GDS_ERR_RANGE},
            {lib.try_sref("LEAF", 0, 0, 0, nan), GDS_ERR_RANGE},
            {lib.try_sref("LEAF", 0, 0, 0, 1.0, inf), GDS_ERR_RANGE},
            {lib.try_text(0, 0, "t", 0, 0, 0, 0, 0, 0, nan), GDS_ERR_RANGE},
            {lib.try_text(0, 0, "t", 0, 0, 0, 0, 0, 0, 1.0, nan), GDS_ERR_RANGE},
            {lib.try_aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 0, 1), GDS_ERR_RANGE},
            {lib.try_aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 1, -1), GDS_ERR_RANGE},
            {lib.try_aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 1, 1, 0, -0.0), GDS_ERR_RANGE},
            {lib.try_aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 1, 1, 0, 1.0, -inf), GDS_ERR_RANGE},
            {lib.try_sref("G", 0, 0), GDS_ERR_STRUCT_OPEN},
            {lib.try_aref(std::string("G"), {0, 0}, {1, 0}, {0, 1}, 1, 1), GDS_ERR_STRUCT_OPEN},
            {s.try_end(), GDS_OK},
            {lib.try_begin_structure(""), GDS_ERR_RANGE},
            {lib.try_begin_structure(longest + "N"), GDS_ERR_RANGE},
            {lib.try_begin_structure(nullptr), GDS_ERR_RANGE},
        };
        for (const auto& c : cases) EXPECT_EQ(c.got, c.code);
        EXPECT_EQ(errorOf([&] { lib.structure(""); }).code(), GDS_ERR_RANGE);
        int32_t begun = -1;
        EXPECT_TRUE(lib.try_structure(longest, begun).is_open());  // the longest name fits
        EXPECT_EQ(begun, GDS_OK);
    };
    build(false);
    Bytes expected = maskTimestamps(readFile(path));
    build(true);
    const Bytes refused = maskTimestamps(readFile(path));
    // The refused calls wrote nothing: the file differs by the longest name's structure alone.
    ASSERT_GT(refused.size(), expected.size());
    EXPECT_EQ(Bytes(refused.begin(), refused.begin() + static_cast<std::ptrdiff_t>(expected.size()) - 4),
              Bytes(expected.begin(), expected.end() - 4));

    for (const double unit : {0.0, -1e-3, nan, inf}) {
        carvelle::Library lib;
        EXPECT_EQ(lib.try_open(dir.file("u.gds"), unit, 1e-9), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_open(dir.file("u.gds"), 1e-3, unit), GDS_ERR_RANGE);
        EXPECT_FALSE(std::ifstream(dir.file("u.gds")).good());
    }
}

namespace {

// The rule set of carvelle-info --check at writing time: a call that breaks a rule is refused before anything is
// written, with the rule's name; the file is then that of the calls that passed.
TEST(CarvelleHpp, RuleSetsRefuseACallBeforeItIsWritten) {
    gdstest::TempDir dir;
    const std::string path = dir.file("r.gds");
    std::vector<Point> ring(199), line(200);
    for (int32_t i = 0; i < 199; ++i) ring[static_cast<std::size_t>(i)] = {i, i % 2};
    for (int32_t i = 0; i < 200; ++i) line[static_cast<std::size_t>(i)] = {i, 0};
    auto build = [&](bool refused) {
        carvelle::Library lib(path, 1e-3, 1e-9, "fab,max-text-length=8,max-array=100");
        auto s = lib.structure("TOP_$?9");
        lib.box(0, 0, 1, 1, 255, 255);
        lib.boundary(ring, 1);  // 199 vertices
        lib.path(line, 2, 1);   // 200 points
        lib.text(0, 0, "eight ch", 1);
        lib.aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 100, 100);
        if (!refused) return;
        struct Case {
            const char* rule;
            const char* what;
            std::function<void()> call;
        };
        std::vector<Point> longer = ring, further = line;
        longer.push_back({500, 500});
        further.push_back({500, 0});
        const Case cases[] = {
            {"max-layer", "layer 256, over 255", [&] { lib.box(0, 0, 1, 1, 256); }},
            {"max-layer", "layer 65535, over 255", [&] { lib.node(line, -1); }},
            {"max-datatype", "type 300, over 255", [&] { lib.text(0, 0, "t", 1, 300); }},
            {"max-vertices", "vertices 200, over 199", [&] { lib.boundary(longer, 1); }},
            {"max-path-points", "points 201, over 200", [&] { lib.path(further, 2, 1); }},
            {"max-text-length", "text length 9, over 8", [&] { lib.text(0, 0, "nine char", 1); }},
            {"max-array", "rows 101, over 100", [&] { lib.aref("LEAF", {0, 0}, {1, 0}, {0, 1}, 1, 101); }},
            {"max-name-length", "name length 33, over 32", [&] { lib.begin_structure(std::string(33, 'N')); }},
            {"name-characters", "character '-'", [&] { lib.begin_structure("A-B"); }},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.rule);
            try {
                c.call();
                ADD_FAILURE() << "not refused";
            } catch (const carvelle::RuleError& e) {
                EXPECT_STREQ(e.rule(), c.rule);
                EXPECT_EQ(e.code(), GDS_ERR_RANGE);
                EXPECT_NE(std::string(e.what()).find(std::string(": breaks rule ") + c.rule + ": " + c.what), std::string::npos)
                    << e.what();
            }
        }
        // The try forms: the code, and the rule named; a refusal that is no rule's names none.
        EXPECT_EQ(lib.try_box(0, 0, 1, 1, 1, 256), GDS_ERR_RANGE);
        EXPECT_STREQ(lib.broken_rule(), "max-datatype");
        EXPECT_STREQ(lib.broken_what(), "type 256, over 255");
        EXPECT_EQ(lib.try_sref("LEAF", 0, 0, 0, 0.0), GDS_ERR_RANGE);
        EXPECT_EQ(lib.broken_rule(), nullptr);
        EXPECT_EQ(errorOf([&] { lib.sref("LEAF", 0, 0, 0, -1.0); }).message(), carvelle::error_message(GDS_ERR_RANGE));
        // Rules changed or turned off on the way.
        EXPECT_EQ(lib.try_set_rules("fad"), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_box(0, 0, 1, 1, 256), GDS_ERR_RANGE);
        EXPECT_EQ(lib.try_set_rules("readers"), GDS_OK);
        EXPECT_EQ(lib.try_set_rules(nullptr), GDS_OK);
        EXPECT_EQ(lib.try_box(0, 0, 1, 1, 300), GDS_OK);
    };
    build(false);
    const Bytes passed = maskTimestamps(readFile(path));
    build(true);
    Bytes got = maskTimestamps(readFile(path));
    // The one box written once the rules were off is all that differs: it stands before ENDSTR and ENDLIB.
    const auto records = splitRecords(passed);
    ASSERT_GE(records.size(), 2u);
    const std::size_t end = records[records.size() - 2].offset, tail = passed.size() - end;
    ASSERT_GT(got.size(), passed.size());
    EXPECT_TRUE(std::equal(passed.begin(), passed.begin() + static_cast<std::ptrdiff_t>(end), got.begin()));
    EXPECT_TRUE(std::equal(passed.begin() + static_cast<std::ptrdiff_t>(end), passed.end(), got.end() - static_cast<std::ptrdiff_t>(tail)));
    const auto added = splitRecords(Bytes(got.begin() + static_cast<std::ptrdiff_t>(end), got.end() - static_cast<std::ptrdiff_t>(tail)));
    ASSERT_GE(added.size(), 2u);
    EXPECT_EQ(added[0].type, gdstest::BOX);
    const auto layer = std::find_if(added.begin(), added.end(), [](const auto& r) { return r.type == gdstest::LAYER; });
    ASSERT_NE(layer, added.end());
    EXPECT_EQ(layer->payload, gdstest::be16(300));
    // A set that cannot be read makes no file.
    const std::string none = dir.file("none.gds");
    EXPECT_THROW(carvelle::Library(none, 1e-3, 1e-9, "fab,max-layer=x"), std::invalid_argument);
    EXPECT_FALSE(std::ifstream(none).good());
}

}  // namespace
