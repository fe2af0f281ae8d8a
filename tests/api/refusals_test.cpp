// SPDX-License-Identifier: MIT
// Refusals: which test wins when several faults coincide, null pointers,
// curve samples out of range. Every refused call leaves the file as it was.
#include <climits>
#include <cmath>

#include "api_fixture.h"

using namespace gdstest;

namespace {

const std::int32_t kXs[] = {0, 10, 10}, kYs[] = {0, 0, 10};
const double kInf = INFINITY;
const std::string kTooLong(65531, 'n');

// Calls every element function with arguments that are all wrong at once.
std::vector<int> everyElementWithBadArguments(GdsHandle h) {
    return {GDS_Boundary(h, nullptr, nullptr, 2, 1, 0, 0, 0),
            GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0),
            GDS_BoxWH(h, INT32_MAX, 0, 1, 1, 1, 0, 0, 0),
            GDS_Square(h, 0, 0, 1, 1, 0, 0, 0),
            GDS_Path(h, nullptr, nullptr, 1, 1, 1, 0, 0, 0, 0),
            GDS_Circle(h, INT32_MAX, 0, 10, 2, 1, 0, 0, 0),
            GDS_Arc(h, INT32_MAX, 0, 10, NAN, kInf, 9000, 1, 1, 0, 0, 0, 0),
            GDS_Sector(h, INT32_MAX, 0, 10, NAN, kInf, 9000, 1, 0, 0, 0),
            GDS_Text(h, 0, 0, nullptr, 1, 300, 0, 0, 0, 0, kInf, kInf, 0, 0),
            GDS_Sref(h, nullptr, 0, 0, 0, kInf, kInf, 0, 0),
            GDS_Aref(h, nullptr, nullptr, nullptr, 1, 1, 0, kInf, kInf, 0, 0),
            GDS_Node(h, nullptr, nullptr, 0, 1, 0, 0, 0)};
}

TEST(Refusals, NullHandleBeatsEverything) {
    EXPECT_EQ(everyElementWithBadArguments(nullptr), std::vector<int>(12, GDS_ERR_HANDLE));
    EXPECT_EQ(GDS_BeginStructure(nullptr, nullptr), GDS_ERR_HANDLE);
    EXPECT_EQ(GDS_EndStructure(nullptr), GDS_ERR_HANDLE);
    EXPECT_EQ(GDS_EndLib(nullptr), GDS_ERR_HANDLE);
}

using RefusalTest = ElementTest;

TEST_F(RefusalTest, NoOpenStructureBeatsEveryArgumentTest) {
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(everyElementWithBadArguments(h), std::vector<int>(12, GDS_ERR_STRUCT_NOT_OPEN));
    ASSERT_EQ(GDS_BeginStructure(h, "T"), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    ASSERT_EQ(GDS_EndLib(h), GDS_OK);
    h = nullptr;
    EXPECT_EQ(splitRecords(readFile(path)).size(), 4u + 3 + 3 + 1);
}

TEST_F(RefusalTest, EachElementsOwnTestsComeBeforeNullPointersAndRange) {
    // Counts before null arrays.
    EXPECT_EQ(GDS_Boundary(h, nullptr, kYs, 2, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    EXPECT_EQ(GDS_Boundary(h, kXs, nullptr, 8190, 1, 0, 0, 0), GDS_ERR_TOO_MANY_POINTS);
    EXPECT_EQ(GDS_Path(h, nullptr, nullptr, 1, 1, 1, 0, 0, 0, 0), GDS_ERR_PATH_POINTS);
    EXPECT_EQ(GDS_Node(h, nullptr, kYs, 0, 1, 0, 0, 0), GDS_ERR_NODE_TOO_FEW);
    EXPECT_EQ(GDS_Node(h, kXs, nullptr, 51, 1, 0, 0, 0), GDS_ERR_NODE_TOO_MANY);
    // Then the null arrays themselves.
    EXPECT_EQ(GDS_Boundary(h, nullptr, kYs, 3, 1, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Boundary(h, kXs, nullptr, 3, 1, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Path(h, kXs, nullptr, 2, 1, 1, 0, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Path(h, nullptr, kYs, 2, 1, 1, 0, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Node(h, nullptr, kYs, 1, 1, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Node(h, kXs, nullptr, 1, 1, 0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Aref(h, "A", kXs, nullptr, 1, 1, 0, 1.0, 0.0, 0, 0), GDS_ERR_NO_POINTS);
    EXPECT_EQ(GDS_Aref(h, "A", nullptr, kYs, 1, 1, 0, 1.0, 0.0, 0, 0), GDS_ERR_NO_POINTS);
    // TEXT: null string, then length, then texttype, then range.
    const std::string s600(600, 'x');
    EXPECT_EQ(GDS_Text(h, 0, 0, nullptr, 1, 300, 0, 0, 0, 0, kInf, 0.0, 0, 0), GDS_ERR_NO_STRING);
    EXPECT_EQ(GDS_Text(h, 0, 0, s600.c_str(), 1, 300, 0, 0, 0, 0, kInf, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(GDS_Text(h, 0, 0, "x", 1, 300, 0, 0, 0, 0, kInf, 0.0, 0, 0), GDS_ERR_TEXTTYPE);
    // References: null name, name length, range, null arrays.
    EXPECT_EQ(GDS_Sref(h, nullptr, 0, 0, 0, kInf, 0.0, 0, 0), GDS_ERR_NO_STRING);
    EXPECT_EQ(GDS_Sref(h, kTooLong.c_str(), 0, 0, 0, kInf, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(GDS_Aref(h, nullptr, nullptr, nullptr, 1, 1, 0, kInf, 0.0, 0, 0), GDS_ERR_NO_STRING);
    EXPECT_EQ(GDS_Aref(h, kTooLong.c_str(), nullptr, nullptr, 1, 1, 0, kInf, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(GDS_Aref(h, "A", nullptr, nullptr, 1, 1, 0, 1.0, -kInf, 0, 0), GDS_ERR_RANGE);
    // Curves: counts before range.
    EXPECT_EQ(GDS_Circle(h, INT32_MAX, 0, 10, 2, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    EXPECT_EQ(GDS_Arc(h, 0, 0, 10, NAN, 0.0, 8190, 1, 1, 0, 0, 0, 0), GDS_ERR_TOO_MANY_POINTS);
    EXPECT_EQ(GDS_Sector(h, 0, INT32_MIN, 10, 0.0, 90.0, -1, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    EXPECT_EQ(elements(), Bytes{});
}

TEST_F(RefusalTest, CurveSamplesMustFitThirtyTwoBitsAndAnglesMustBeFinite) {
    // Accepted at the very edge of the range.
    ASSERT_EQ(GDS_Circle(h, INT32_MAX - 10, INT32_MIN + 10, 10, 4, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Circle(h, INT32_MAX - 10, INT32_MIN + 10, -10, 4, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Circle(h, -1, 0, INT32_MAX, 4, 1, 0, 0, 0), GDS_OK);
    struct Centre { std::int32_t cx, cy, radius; };
    for (const Centre c : {Centre{INT32_MAX - 10, 0, 11}, Centre{INT32_MIN + 5, 0, -6}, Centre{0, INT32_MAX, 1},
                           Centre{0, INT32_MIN, -1}, Centre{0, 0, INT32_MIN}, Centre{1, 0, INT32_MAX},
                           Centre{INT32_MAX, INT32_MAX, INT32_MAX}}) {
        SCOPED_TRACE(std::to_string(c.cx) + " " + std::to_string(c.cy) + " " + std::to_string(c.radius));
        EXPECT_EQ(GDS_Circle(h, c.cx, c.cy, c.radius, 8, 1, 0, 0, 0), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_Arc(h, c.cx, c.cy, c.radius, 0.0, 90.0, 8, 1, 1, 0, 0, 0, 0), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_Sector(h, c.cx, c.cy, c.radius, 0.0, 90.0, 8, 1, 0, 0, 0), GDS_ERR_RANGE);
    }
    for (auto [start, end] : {std::pair{double(NAN), 90.0}, {0.0, double(NAN)}, {kInf, 0.0}, {0.0, -kInf},
                              {1e308, 0.0}, {0.0, 1e308}, {-1e308, 1e308}, {1.7e308, 1.7e308}}) {
        SCOPED_TRACE(std::to_string(start) + " " + std::to_string(end));
        EXPECT_EQ(GDS_Arc(h, 0, 0, 100, start, end, 8, 1, 1, 0, 0, 0, 0), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_Sector(h, 0, 0, 100, start, end, 8, 1, 0, 0, 0), GDS_ERR_RANGE);
    }
    const auto records = splitRecords(elements());
    ASSERT_EQ(records.size(), 21u);
    EXPECT_EQ(records[5].xy()[0], (Point{INT32_MAX, INT32_MIN + 10}));
    EXPECT_EQ(records[12].xy()[0], (Point{INT32_MAX - 20, INT32_MIN + 10}));
    EXPECT_EQ(records[19].xy()[0], (Point{INT32_MAX - 1, 0}));
    EXPECT_EQ(records[19].xy()[2], (Point{INT32_MIN, 0}));
}

}  // namespace
