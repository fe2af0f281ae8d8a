// SPDX-License-Identifier: MIT
// The bytes of every element kind, one fixture per family.
#include <climits>
#include <cmath>

#include "api_fixture.h"

using namespace gdstest;

namespace {

Bytes boxBytes(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, int layer, int boxtype,
               int elflags, std::int32_t plex) {
    return opening(BOX, elflags, plex) + int16Record(LAYER, layer) + int16Record(BOXTYPE, boxtype) +
           xyRecord({{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, {x1, y1}}) + kEndEl;
}
Bytes boundaryBytes(std::vector<Point> pts, int layer, int datatype, int elflags, std::int32_t plex) {
    pts.push_back(pts.front());
    return opening(BOUNDARY, elflags, plex) + int16Record(LAYER, layer) + int16Record(DATATYPE, datatype) +
           xyRecord(pts) + kEndEl;
}
Bytes pathHead(std::int32_t width, int layer, int datatype, int pathtype, int elflags, std::int32_t plex) {
    return opening(PATH, elflags, plex) + int16Record(LAYER, layer) + int16Record(DATATYPE, datatype) +
           int16Record(PATHTYPE, pathtype) + record(WIDTH, 0x03, be32(width));
}

// ---- BOUNDARY and BOX ----
using PolygonTest = ElementTest;

TEST_F(PolygonTest, BoxWorkedExample) {
    ASSERT_EQ(GDS_Box(h, 0, 0, 10, 20, 1, 0, 0, 0), GDS_OK);
    EXPECT_EQ(elements(), hex("00 04 2D 00  00 06 26 01 00 00  00 08 2F 03 00 00 00 00  00 06 0D 02 00 01"
                              "00 06 2E 02 00 00  00 2C 10 03"
                              "00 00 00 00 00 00 00 00  00 00 00 0A 00 00 00 00  00 00 00 0A 00 00 00 14"
                              "00 00 00 00 00 00 00 14  00 00 00 00 00 00 00 00  00 04 11 00"));
}

TEST_F(PolygonTest, BoxCornersAreWrittenAsGivenAndBoxWHAndSquareWrap) {
    ASSERT_EQ(GDS_Box(h, 30, 40, 10, -20, -1, 7, -32767, 1000), GDS_OK);
    ASSERT_EQ(GDS_Box(h, 5, 5, 5, 9, 2, 0, 0, -1), GDS_OK);
    ASSERT_EQ(GDS_BoxWH(h, 100, 100, -50, 20, 3, 1, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_BoxWH(h, INT32_MAX, INT32_MIN, 1, -1, 3, 1, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Square(h, -5, INT32_MAX, 10, 4, 2, 1, 2), GDS_OK);
    ASSERT_EQ(GDS_Square(h, INT32_MIN, 0, -1, 4, 2, 1, 2), GDS_OK);
    EXPECT_EQ(elements(), boxBytes(30, 40, 10, -20, -1, 7, -32767, 1000) + boxBytes(5, 5, 5, 9, 2, 0, 0, -1) +
                              boxBytes(100, 100, 50, 120, 3, 1, 0, 0) +
                              boxBytes(INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX, 3, 1, 0, 0) +
                              boxBytes(-5, INT32_MAX, 5, INT32_MIN + 9, 4, 2, 1, 2) +
                              boxBytes(INT32_MIN, 0, INT32_MAX, -1, 4, 2, 1, 2));
}

TEST_F(PolygonTest, BoundaryIsClosedByTheWriterAndHoldsAtMost8190Points) {
    const std::int32_t tx[] = {0, 10, 0}, ty[] = {0, 0, -10};
    const std::int32_t rx[] = {1, 2, 3, 1}, ry[] = {4, 5, 6, 4};
    ASSERT_EQ(GDS_Boundary(h, tx, ty, 3, 6, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Boundary(h, rx, ry, 4, 6, 2, 0, 0), GDS_OK);  // already closed: vertex 0 again
    std::vector<std::int32_t> xs(8190), ys(8190);
    for (int i = 0; i < 8190; ++i) xs[static_cast<std::size_t>(i)] = i, ys[static_cast<std::size_t>(i)] = -i;
    for (short refused : {8190, 2, 0, -1, -32768}) {
        EXPECT_EQ(GDS_Boundary(h, xs.data(), ys.data(), refused, 1, 0, 0, 0),
                  refused > 8189 ? GDS_ERR_TOO_MANY_POINTS : GDS_ERR_TOO_FEW_POINTS);
    }
    ASSERT_EQ(GDS_Boundary(h, xs.data(), ys.data(), 8189, 1, 0, 0, 0), GDS_OK);
    const Bytes all = elements();
    const Bytes small = boundaryBytes({{0, 0}, {10, 0}, {0, -10}}, 6, 2, 0, 0) +
                        boundaryBytes({{1, 4}, {2, 5}, {3, 6}, {1, 4}}, 6, 2, 0, 0);
    ASSERT_EQ(small.size(), 8u * 3 + 46 + 8 * 4 + 46);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + static_cast<long>(small.size())), small);
    const auto big = splitRecords(Bytes(all.begin() + static_cast<long>(small.size()), all.end()));
    ASSERT_EQ(big.size(), 7u);
    EXPECT_EQ(big[5].length, 65524);
    const auto pts = big[5].xy();
    ASSERT_EQ(pts.size(), 8190u);
    EXPECT_EQ(pts[8188], (Point{8188, -8188}));
    EXPECT_EQ(pts[8189], (Point{0, 0}));
}

// ---- PATH ----
using PathTest = ElementTest;

TEST_F(PathTest, TwoPointsWithAttributesWrittenUnchanged) {
    const std::int32_t xs[] = {0, 10, 0}, ys[] = {0, 0, 0};
    ASSERT_EQ(GDS_Path(h, xs, ys, 2, -5, 3, 4, 7, 1, 99), GDS_OK);
    ASSERT_EQ(GDS_Path(h, xs, ys, 3, 8, 3, 4, 0, 0, 0), GDS_OK);  // first == last: not joined
    for (short refused : {1, 0, -1, -32768}) EXPECT_EQ(GDS_Path(h, xs, ys, refused, 1, 1, 0, 0, 0, 0), GDS_ERR_PATH_POINTS);
    EXPECT_EQ(elements(), pathHead(-5, 3, 4, 7, 1, 99) + xyRecord({{0, 0}, {10, 0}}) + kEndEl +
                              pathHead(8, 3, 4, 0, 0, 0) + xyRecord({{0, 0}, {10, 0}, {0, 0}}) + kEndEl);
}

TEST_F(PathTest, LongPathsSplitIntoPiecesThatShareTheirJointPoints) {
    std::vector<std::int32_t> xs(32767), ys(32767);
    for (int i = 0; i < 32767; ++i) xs[static_cast<std::size_t>(i)] = 3 * i, ys[static_cast<std::size_t>(i)] = -i;
    const std::vector<std::pair<short, std::vector<int>>> cases = {
        {2, {2}}, {8190, {8190}}, {8191, {8190, 2}}, {10000, {8190, 1811}}, {16379, {8190, 8190}},
        {16380, {8190, 8190, 2}}, {32767, {8190, 8190, 8190, 8190, 11}}};
    for (const auto& c : cases) ASSERT_EQ(GDS_Path(h, xs.data(), ys.data(), c.first, 20, 5, 6, 2, 3, 4), GDS_OK);
    const auto records = elementRecords();
    const Bytes head = pathHead(20, 5, 6, 2, 3, 4);
    std::size_t r = 0;
    for (const auto& c : cases) {
        int start = 0;
        for (int n : c.second) {
            SCOPED_TRACE("count " + std::to_string(c.first) + " piece at " + std::to_string(start));
            ASSERT_LE(r + 9, records.size());
            Bytes attributes;
            for (std::size_t i = r; i < r + 7; ++i) attributes = attributes + records[i].bytes();
            EXPECT_EQ(attributes, head);
            EXPECT_EQ(records[r + 7].length, 8 * n + 4);
            const auto pts = records[r + 7].xy();
            ASSERT_EQ(pts.size(), static_cast<std::size_t>(n));
            EXPECT_EQ(pts.front(), (Point{3 * start, -start}));
            EXPECT_EQ(pts.back(), (Point{3 * (start + n - 1), -(start + n - 1)}));
            EXPECT_EQ(records[r + 8].bytes(), kEndEl);
            start += n - 1;
            r += 9;
        }
        EXPECT_EQ(start, c.first - 1);
    }
    EXPECT_EQ(r, records.size());
}

// ---- Circle, arc and sector ----
using CurveTest = ElementTest;

// The sampling rule, written out: accumulated angle, product then sum,
// truncation toward zero.
std::vector<Point> sample(std::int32_t cx, std::int32_t cy, std::int32_t radius, double start, double step, int n) {
    std::vector<Point> out;
    volatile double angle = start;
    for (int i = 0; i < n; ++i) {
        const double x = std::cos(angle) * radius;
        const double y = std::sin(angle) * radius;
        out.emplace_back(static_cast<std::int32_t>(x + cx), static_cast<std::int32_t>(y + cy));
        angle = angle + step;
    }
    return out;
}
double radians(double degrees) { return degrees * 3.141592653589793 * 0.005555555555555556; }

TEST_F(CurveTest, WorkedExamples) {
    ASSERT_EQ(GDS_Circle(h, 0, 0, 1000, 3, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Circle(h, 0, 0, 1000, 4, 1, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Arc(h, 0, 0, 1000, 0.0, 180.0, 4, 50, 1, 2, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sector(h, 0, 0, 1000, 0.0, 90.0, 4, 1, 2, 0, 0), GDS_OK);
    EXPECT_EQ(elements(), boundaryBytes({{1000, 0}, {-499, 866}, {-500, -866}}, 1, 2, 0, 0) +
                              boundaryBytes({{1000, 0}, {0, 1000}, {-1000, 0}, {0, -1000}}, 1, 2, 0, 0) +
                              pathHead(50, 1, 2, 0, 0, 0) +
                              xyRecord({{1000, 0}, {707, 707}, {0, 1000}, {-707, 707}}) + kEndEl +
                              boundaryBytes({{0, 0}, {1000, 0}, {923, 382}, {707, 707}}, 1, 2, 0, 0));
}

TEST_F(CurveTest, SamplingRuleAtTheLimitsClockwiseAndDegenerate) {
    ASSERT_EQ(GDS_Circle(h, -7, 11, 123456, 8189, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Arc(h, 5, 5, -54321, 10.0, -350.0, 8189, 3, 1, 0, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sector(h, 100, -100, 777, 3.0, 93.0, 8189, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Arc(h, 0, 0, 1000, 90.0, 0.0, 3, 3, 1, 0, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Arc(h, 1, 2, 1000, 30.0, 30.0, 3, 3, 1, 0, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Circle(h, 9, -9, 0, 5, 1, 0, 0, 0), GDS_OK);
    for (short c : {8190, 2}) {
        const int expected = c > 8189 ? GDS_ERR_TOO_MANY_POINTS : GDS_ERR_TOO_FEW_POINTS;
        EXPECT_EQ(GDS_Circle(h, 0, 0, 10, c, 1, 0, 0, 0), expected);
        EXPECT_EQ(GDS_Arc(h, 0, 0, 10, 0, 90, c, 1, 1, 0, 0, 0, 0), expected);
        EXPECT_EQ(GDS_Sector(h, 0, 0, 10, 0, 90, c, 1, 0, 0, 0), expected);
    }
    const auto records = elementRecords();
    ASSERT_EQ(records.size(), 7u + 9 + 7 + 9 + 9 + 7);
    const auto circle = sample(-7, 11, 123456, 0.0, 6.283185307179586 / 8189, 8189);
    EXPECT_EQ(records[5].length, 65524);
    auto ring = circle;
    ring.push_back(circle.front());
    EXPECT_EQ(records[5].xy(), ring);
    const double s = radians(10.0);
    EXPECT_EQ(records[7 + 7].xy(), sample(5, 5, -54321, s, (radians(-350.0) - s) / 8189, 8189));
    // Sector: centre, count - 1 arc points with its own step formula, centre.
    std::vector<Point> sector = {{100, -100}};
    for (const auto& p : sample(100, -100, 777, radians(3.0), (((93.0 - 3.0) * 3.141592653589793) / 8189) * 0.005555555555555556, 8188)) {
        sector.push_back(p);
    }
    sector.push_back({100, -100});
    EXPECT_EQ(records[16 + 5].xy(), sector);
    // Clockwise from 90 degrees; equal angles give equal points.
    const auto clockwise = records[23 + 7].xy();
    EXPECT_EQ(clockwise, sample(0, 0, 1000, radians(90.0), (0.0 - radians(90.0)) / 3, 3));
    EXPECT_TRUE(clockwise[0].second > clockwise[1].second && clockwise[1].second > clockwise[2].second);
    EXPECT_EQ(records[32 + 7].xy(), sample(1, 2, 1000, radians(30.0), 0.0, 3));
    EXPECT_EQ(records[32 + 7].xy(), (std::vector<Point>(3, records[32 + 7].xy()[0])));
    EXPECT_EQ(records[41 + 5].xy(), (std::vector<Point>(6, {9, -9})));
}

// ---- TEXT ----
using TextTest = ElementTest;

Bytes textBytes(std::int32_t x, std::int32_t y, const std::string& s, int layer, int texttype, const Bytes& presentation,
                int pathtype, std::int32_t width, const Bytes& strans, const Bytes& mag, const Bytes& angle,
                int elflags, std::int32_t plex) {
    return opening(TEXT, elflags, plex) + int16Record(LAYER, layer) + int16Record(TEXTTYPE, texttype) +
           record(PRESENTATION, 0x01, presentation) + int16Record(PATHTYPE, pathtype) + record(WIDTH, 0x03, be32(width)) +
           record(STRANS, 0x01, strans) + record(MAG, 0x05, mag) + record(ANGLE, 0x05, angle) + xyRecord({{x, y}}) +
           record(STRING, 0x06, padded(s)) + kEndEl;
}

TEST_F(TextTest, AllFourteenRecordsAndTheLengthLimits) {
    ASSERT_EQ(GDS_Text(h, 10, -20, "Hi", 3, 255, -32768, 2, -1, -1, 1.0, 90.0, 1, 7), GDS_OK);
    ASSERT_EQ(GDS_Text(h, 0, 0, "", 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(h, 0, 0, "x", 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(h, 0, 0, "\xC3\xA9\xFF", 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    const std::string s512(512, 'q');
    ASSERT_EQ(GDS_Text(h, 0, 0, s512.c_str(), 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_Text(h, 0, 0, (s512 + "q").c_str(), 0, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    for (short t : {256, -1, -32768, 300}) EXPECT_EQ(GDS_Text(h, 0, 0, "t", 0, t, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_TEXTTYPE);
    const Bytes plain = textBytes(0, 0, "", 0, 0, hex("00 00"), 0, 0, hex("00 00"), kOne, kZero8, 0, 0);
    ASSERT_EQ(plain.size(), 100u);
    const Bytes expected =
        textBytes(10, -20, "Hi", 3, 255, hex("80 00"), 2, -1, hex("FF FF"), kOne, kNinety, 1, 7) + plain +
        textBytes(0, 0, "x", 0, 0, hex("00 00"), 0, 0, hex("00 00"), kOne, kZero8, 0, 0) +
        textBytes(0, 0, "\xC3\xA9\xFF", 0, 0, hex("00 00"), 0, 0, hex("00 00"), kOne, kZero8, 0, 0) +
        textBytes(0, 0, s512, 0, 0, hex("00 00"), 0, 0, hex("00 00"), kOne, kZero8, 0, 0);
    EXPECT_EQ(elements(), expected);
    EXPECT_EQ(expected.size(), 102u + 100 + 102 + 104 + 612);
}

TEST_F(TextTest, MagnificationAndAngleRange) {
    const double inf = INFINITY;
    for (double bad : {inf, -inf, 0x1p252, -0x1p252, 1e300}) {
        EXPECT_EQ(GDS_Text(h, 0, 0, "t", 0, 0, 0, 0, 0, 0, bad, 0.0, 0, 0), GDS_ERR_RANGE) << bad;
        EXPECT_EQ(GDS_Text(h, 0, 0, "t", 0, 0, 0, 0, 0, 0, 1.0, bad, 0, 0), GDS_ERR_RANGE) << bad;
    }
    ASSERT_EQ(GDS_Text(h, 0, 0, "t", 0, 0, 0, 0, 0, 0, std::nextafter(0x1p252, 0.0), NAN, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(h, 0, 0, "t", 0, 0, 0, 0, 0, 0, 0x1p-261, -std::nextafter(0x1p252, 0.0), 0, 0), GDS_OK);
    Bytes negative = kBelow2To252;
    negative[0] = 0xFF;
    EXPECT_EQ(elements(), textBytes(0, 0, "t", 0, 0, hex("00 00"), 0, 0, hex("00 00"), kBelow2To252, kZero8, 0, 0) +
                              textBytes(0, 0, "t", 0, 0, hex("00 00"), 0, 0, hex("00 00"), kZero8, negative, 0, 0));
}

// ---- SREF and AREF ----
using ReferenceTest = ElementTest;

Bytes refHead(std::uint8_t kind, const std::string& name, const Bytes& strans, const Bytes& mag, const Bytes& angle,
              int elflags, std::int32_t plex) {
    return opening(kind, elflags, plex) + record(SNAME, 0x06, padded(name)) + record(STRANS, 0x01, strans) +
           record(MAG, 0x05, mag) + record(ANGLE, 0x05, angle);
}

TEST_F(ReferenceTest, SrefAndArefRecords) {
    const std::int32_t xs[] = {0, 300, 0}, ys[] = {0, 0, 200};
    ASSERT_EQ(GDS_Sref(h, "TOP", 10, -20, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(h, "S", 1, 2, -32768, 1.0, 90.0, 5, -6), GDS_OK);  // the open structure itself
    ASSERT_EQ(GDS_Sref(h, "", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Aref(h, "TOP", xs, ys, 3, 2, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Aref(h, "AB", xs, ys, -1, 1, 1, 1.0, 90.0, 2, 3), GDS_OK);
    const Bytes sref = refHead(SREF, "TOP", hex("00 00"), kOne, kZero8, 0, 0) + xyRecord({{10, -20}}) + kEndEl;
    const Bytes aref = refHead(AREF, "TOP", hex("00 00"), kOne, kZero8, 0, 0) + record(COLROW, 0x02, hex("00 03 00 02")) +
                       xyRecord({{0, 0}, {300, 0}, {0, 200}}) + kEndEl;
    EXPECT_EQ(sref.size(), 72u);
    EXPECT_EQ(aref.size(), 96u);
    EXPECT_EQ(elements(), sref + refHead(SREF, "S", hex("80 00"), kOne, kNinety, 5, -6) + xyRecord({{1, 2}}) + kEndEl +
                              refHead(SREF, "", hex("00 00"), kOne, kZero8, 0, 0) + xyRecord({{0, 0}}) + kEndEl + aref +
                              refHead(AREF, "AB", hex("00 01"), kOne, kNinety, 2, 3) +
                              record(COLROW, 0x02, hex("FF FF 00 01")) + xyRecord({{0, 0}, {300, 0}, {0, 200}}) + kEndEl);
}

TEST_F(ReferenceTest, NameLengthLimitAndRealRange) {
    const std::int32_t xs[] = {0, 1, 2}, ys[] = {3, 4, 5};
    const std::string longest(65530, 'N');
    const std::string tooLong = longest + "N";
    EXPECT_EQ(GDS_Sref(h, tooLong.c_str(), 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(GDS_Aref(h, tooLong.c_str(), xs, ys, 1, 1, 0, 1.0, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    for (double bad : {double(INFINITY), -0x1p252}) {
        EXPECT_EQ(GDS_Sref(h, "A", 0, 0, 0, bad, 0.0, 0, 0), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_Sref(h, "A", 0, 0, 0, 1.0, bad, 0, 0), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_Aref(h, "A", xs, ys, 1, 1, 0, bad, 0.0, 0, 0), GDS_ERR_RANGE);
        EXPECT_EQ(GDS_Aref(h, "A", xs, ys, 1, 1, 0, 1.0, bad, 0, 0), GDS_ERR_RANGE);
    }
    ASSERT_EQ(GDS_Sref(h, longest.c_str(), 0, 0, 0, NAN, 0x1p-300, 0, 0), GDS_OK);
    const auto records = elementRecords();
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(records[3].length, 65534);
    EXPECT_EQ(records[3].payload, text(longest));
    EXPECT_EQ(records[5].payload, kZero8);
    EXPECT_EQ(records[6].payload, kZero8);
}

// ---- NODE ----
using NodeTest = ElementTest;

TEST_F(NodeTest, WorkedExampleAndPointLimits) {
    const std::int32_t x1[] = {10}, y1[] = {-20};
    ASSERT_EQ(GDS_Node(h, x1, y1, 1, 5, 2, 0, 0), GDS_OK);
    std::vector<std::int32_t> xs(51), ys(51);
    for (int i = 0; i < 51; ++i) xs[static_cast<std::size_t>(i)] = i, ys[static_cast<std::size_t>(i)] = 2 * i;
    ASSERT_EQ(GDS_Node(h, xs.data(), ys.data(), 3, -1, -2, -3, -4), GDS_OK);
    ASSERT_EQ(GDS_Node(h, xs.data(), ys.data(), 50, 1, 1, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_Node(h, xs.data(), ys.data(), 51, 1, 1, 0, 0), GDS_ERR_NODE_TOO_MANY);
    for (short c : {0, -1, -32768}) EXPECT_EQ(GDS_Node(h, xs.data(), ys.data(), c, 1, 1, 0, 0), GDS_ERR_NODE_TOO_FEW);
    const Bytes all = elements();
    const Bytes example = hex("00 04 15 00  00 06 26 01 00 00  00 08 2F 03 00 00 00 00  00 06 0D 02 00 05"
                              "00 06 2A 02 00 02  00 0C 10 03 00 00 00 0A FF FF FF EC  00 04 11 00");
    const Bytes three = opening(NODE, -3, -4) + int16Record(LAYER, -1) + int16Record(NODETYPE, -2) +
                        xyRecord({{0, 0}, {1, 2}, {2, 4}}) + kEndEl;
    ASSERT_EQ(all.size(), 46u + three.size() + 438);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 46 + static_cast<long>(three.size())), example + three);
    const auto fifty = splitRecords(Bytes(all.end() - 438, all.end()));
    ASSERT_EQ(fifty.size(), 7u);
    EXPECT_EQ(fifty[5].length, 404);
    EXPECT_EQ(fifty[5].xy().back(), (Point{49, 98}));
}

}  // namespace
