// SPDX-License-Identifier: MIT
// The OASIS encoder's pieces against bytes spelled out by hand from the
// format: integers of seven bits a byte, reals, deltas, CBLOCK headers,
// point lists and repetitions.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "gds_test_support.h"
#include "oasis/cblock.h"
#include "oasis/oasis_bytes.h"
#include "oasis/point_list.h"
#include "oasis/repetition.h"

namespace {

using gdstest::Bytes;
using gdstest::hex;

template <typename Write>
Bytes stored(Write&& write) {
    std::uint8_t buffer[4096];
    carvelle::OasisBytes out(buffer);
    write(out);
    return Bytes(buffer, out.position());
}

TEST(OasisBytes, IntegersRealsAndStrings) {
    using carvelle::OasisBytes;
    EXPECT_EQ(stored([](OasisBytes& o) { o.uint(0).uint(127).uint(128).uint(16384); }), hex("00 7f 80 01 80 80 01"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.uint(~std::uint64_t{0}); }), hex("ff ff ff ff ff ff ff ff ff 01"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.sint(0).sint(1).sint(-1).sint(-64).sint(64); }), hex("00 02 03 81 01 80 01"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.sint(-2147483648LL); }), hex("81 80 80 80 10"));
    // Whole reals as types 0 and 1, others as the double, least significant byte first.
    EXPECT_EQ(stored([](OasisBytes& o) { o.real(1000.0).real(-2.0).real(0.5); }),
              hex("00 e8 07 01 02 07 00 00 00 00 00 00 e0 3f"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.string("1.0", 3); }), hex("03 31 2e 30"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.fixed4(0x11223344u); }), hex("44 33 22 11"));
}

TEST(OasisBytes, DeltasInEachForm) {
    using carvelle::OasisBytes;
    // 2-deltas and 3-deltas: the direction in the low bits.
    EXPECT_EQ(stored([](OasisBytes& o) { o.delta2(100, 0).delta2(0, 100).delta2(-200, 0).delta2(0, -1); }),
              hex("90 03 91 03 a2 06 07"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.delta3(10, 10).delta3(-2, 2).delta3(-1, -1).delta3(1, -1); }),
              hex("54 15 0e 0f"));
    // g-deltas: octangular in one integer, bit 0 clear; others in two.
    EXPECT_EQ(stored([](OasisBytes& o) { o.gdelta(5, 0).gdelta(-3, -3).gdelta(-2, 2).gdelta(0, -7); }),
              hex("50 3c 2a 76"));
    EXPECT_EQ(stored([](OasisBytes& o) { o.gdelta(3, -4).gdelta(-3, 4); }), hex("0d 09 0f 08"));
    // A CBLOCK's header: id, deflate, the counts before and after.
    std::uint8_t room[carvelle::kCblockHeaderRoom];
    const std::uint8_t* start = carvelle::putCblockHeader(room + sizeof room, 1048576, 300);
    EXPECT_EQ(Bytes(start, static_cast<const std::uint8_t*>(room + sizeof room)), hex("22 00 80 80 40 ac 02"));
}

Bytes pointList(const std::vector<std::int32_t>& xs, const std::vector<std::int32_t>& ys, bool polygon) {
    return stored([&](carvelle::OasisBytes& o) {
        const auto type = carvelle::choosePointList(xs.data(), ys.data(), xs.size(), polygon);
        carvelle::putPointList(o, type, xs.data(), ys.data(), xs.size(), polygon);
    });
}

TEST(OasisPointLists, TheSmallestTypeThatHoldsThePoints) {
    // An L: six vertices, edges alternating from x on, the last vertex and
    // the closing edge left to the reader.
    EXPECT_EQ(pointList({0, 200, 200, 100, 100, 0}, {0, 0, 100, 100, 300, 300}, true),
              hex("00 04 90 03 c8 01 c9 01 90 03"));
    EXPECT_EQ(pointList({0, 0, 100, 100, 300, 300}, {0, 200, 200, 100, 100, 0}, true),
              hex("01 04 90 03 c8 01 c9 01 90 03"));
    // A collinear vertex breaks the alternation: 2-deltas, closing edge left out.
    EXPECT_EQ(pointList({0, 100, 200, 200, 0}, {0, 0, 0, 100, 100}, true), hex("02 04 90 03 90 03 91 03 a2 06"));
    // A path keeps every delta; a path's 1-deltas need no even count.
    EXPECT_EQ(pointList({0, 10, 10}, {0, 0, 5}, false), hex("00 02 14 0a"));
    EXPECT_EQ(pointList({0, 10, 20}, {0, 10, 10}, false), hex("03 02 54 50"));
    EXPECT_EQ(pointList({0, 10}, {0, -10}, false), hex("03 01 57"));
    EXPECT_EQ(pointList({0, 3}, {0, -4}, false), hex("04 01 0d 09"));
    // A triangle with a diagonal of another slope: g-deltas.
    EXPECT_EQ(pointList({0, 100, 50}, {0, 0, 80}, true), hex("04 02 c0 0c cb 01 a0 01"));
}

Bytes repetition(carvelle::Lattice lattice, std::int64_t& x, std::int64_t& y, bool& repeated) {
    return stored([&](carvelle::OasisBytes& o) { repeated = carvelle::putRepetition(o, lattice, x, y); });
}

TEST(OasisRepetitions, AxisMatricesRowsColumnsAndLattices) {
    std::int64_t x = 100, y = 50;
    bool repeated = false;
    EXPECT_EQ(repetition({3, 2, 1000, 0, 0, 2000}, x, y, repeated), hex("01 01 00 e8 07 d0 0f"));
    EXPECT_TRUE(repeated);
    EXPECT_EQ(x, 100);
    // Negative steps turn round: the origin moves to the far end.
    EXPECT_EQ(repetition({3, 2, -1000, 0, 0, -1000}, x, y, repeated), hex("01 01 00 e8 07 e8 07"));
    EXPECT_EQ(x, -1900);
    EXPECT_EQ(y, -950);
    // Columns up the y axis and rows along x: the same matrix read the other way.
    x = 0;
    y = 0;
    EXPECT_EQ(repetition({3, 5, 0, 300, 500, 0}, x, y, repeated), hex("01 03 01 f4 03 ac 02"));
    EXPECT_EQ(repetition({3, 1, -7, 0, 0, 0}, x, y, repeated), hex("02 01 07"));
    EXPECT_EQ(x, -14);
    EXPECT_EQ(repetition({1, 4, 0, 0, 0, 9}, x, y, repeated), hex("03 02 09"));
    EXPECT_EQ(repetition({3, 2, 100, 50, 50, 100}, x, y, repeated), hex("08 01 00 91 03 64 c9 01 c8 01"));
    EXPECT_EQ(repetition({1, 2, 0, 0, 50, 100}, x, y, repeated), hex("09 00 c9 01 c8 01"));
    // One copy, or copies on top of each other: no repetition at all.
    EXPECT_EQ(repetition({1, 1, 0, 0, 0, 0}, x, y, repeated), Bytes());
    EXPECT_FALSE(repeated);
    EXPECT_EQ(repetition({5, 1, 0, 0, 0, 0}, x, y, repeated), Bytes());
    EXPECT_FALSE(repeated);
}

}  // namespace
