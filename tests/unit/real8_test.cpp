// SPDX-License-Identifier: MIT
// toReal8 and fitsReal8: the table of known values, every power of 16 and
// the double below it, the range ends, and a randomized exactness check that
// decodes the bytes by the value formula alone.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "encoding/real8.h"
#include "gds_test_support.h"

using carvelle::fitsReal8;
using carvelle::toReal8;
using gdstest::Bytes;
using gdstest::hex;

namespace {

Bytes real8(double x) {
    const auto r = toReal8(x);
    return Bytes(r.begin(), r.end());
}
const Bytes kZero(8, 0);

TEST(Real8, KnownValues) {
    EXPECT_EQ(real8(1.0), hex("41 10 00 00 00 00 00 00"));
    EXPECT_EQ(real8(0.5), hex("40 80 00 00 00 00 00 00"));
    EXPECT_EQ(real8(16.0), hex("42 10 00 00 00 00 00 00"));
    EXPECT_EQ(real8(90.0), hex("42 5A 00 00 00 00 00 00"));
    EXPECT_EQ(real8(-2.5), hex("C1 28 00 00 00 00 00 00"));
    EXPECT_EQ(real8(0.001), hex("3E 41 89 37 4B C6 A7 F0"));
    EXPECT_EQ(real8(1e-9), hex("39 44 B8 2F A0 9B 5A 54"));
    EXPECT_EQ(real8(0x1p-260), hex("00 10 00 00 00 00 00 00"));
    EXPECT_EQ(real8(std::nextafter(0x1p252, 0.0)), hex("7F FF FF FF FF FF FF F8"));
    EXPECT_EQ(real8(std::nextafter(1.0, 0.0)), hex("40 FF FF FF FF FF FF F8"));
    EXPECT_EQ(real8(0.0625), hex("40 10 00 00 00 00 00 00"));
}

TEST(Real8, ZeroNegativeZeroAndEveryNaNAreEightZeroBytes) {
    EXPECT_EQ(real8(0.0), kZero);
    EXPECT_EQ(real8(-0.0), kZero);
    EXPECT_EQ(real8(std::numeric_limits<double>::quiet_NaN()), kZero);
    EXPECT_EQ(real8(-std::numeric_limits<double>::quiet_NaN()), kZero);
    for (std::uint64_t bits : {0x7FF0000000000001ull, 0xFFF8DEADBEEF0001ull, 0x7FFFFFFFFFFFFFFFull}) {
        double nan;
        std::memcpy(&nan, &bits, sizeof nan);
        EXPECT_EQ(real8(nan), kZero) << std::hex << bits;
    }
}

TEST(Real8, TinyMagnitudesBelowTheRangeBecomeZero) {
    EXPECT_EQ(real8(std::nextafter(0x1p-260, 0.0)), kZero);
    EXPECT_EQ(real8(-0x1p-261), kZero);
    EXPECT_EQ(real8(std::numeric_limits<double>::denorm_min()), kZero);
    EXPECT_EQ(real8(std::numeric_limits<double>::min()), kZero);
}

// 16^k has mantissa 1/16 and exponent 65 + k; the double below it has
// exponent 64 + k and the 53 one-bits of 1 - 2^-53.
TEST(Real8, PowersOfSixteenAndTheirPredecessors) {
    for (int k = -65; k <= 62; ++k) {
        const double power = std::ldexp(1.0, 4 * k);
        Bytes expected = {static_cast<std::uint8_t>(65 + k), 0x10, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(real8(power), expected) << "16^" << k;
        expected[0] |= 0x80;
        EXPECT_EQ(real8(-power), expected) << "-16^" << k;
    }
    for (int k = -64; k <= 63; ++k) {
        const double below = std::nextafter(std::ldexp(1.0, 4 * k), 0.0);
        Bytes expected = hex("00 FF FF FF FF FF FF F8");
        expected[0] = static_cast<std::uint8_t>(64 + k);
        EXPECT_EQ(real8(below), expected) << "below 16^" << k;
        expected[0] |= 0x80;
        EXPECT_EQ(real8(-below), expected) << "below -16^" << k;
    }
}

TEST(Real8, FitsReal8Boundaries) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(fitsReal8(0.0));
    EXPECT_TRUE(fitsReal8(-0.0));
    EXPECT_TRUE(fitsReal8(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(fitsReal8(0x1p-300));
    EXPECT_TRUE(fitsReal8(std::nextafter(0x1p252, 0.0)));
    EXPECT_TRUE(fitsReal8(-std::nextafter(0x1p252, 0.0)));
    EXPECT_FALSE(fitsReal8(0x1p252));
    EXPECT_FALSE(fitsReal8(-0x1p252));
    EXPECT_FALSE(fitsReal8(inf));
    EXPECT_FALSE(fitsReal8(-inf));
    EXPECT_FALSE(fitsReal8(std::numeric_limits<double>::max()));
}

// For random finite doubles in range: the Real8 is normalised and its value
// (-1)^s * m * 16^(e-64) / 2^56 equals the double exactly.
TEST(Real8, RandomDoublesDecodeBackExactly) {
    std::mt19937_64 random(20261206);
    int checked = 0;
    for (int i = 0; i < 400000 && checked < 60000; ++i) {
        const std::uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x) || std::fabs(x) < 0x1p-260 || std::fabs(x) >= 0x1p252) continue;
        ++checked;
        const auto r = toReal8(x);
        std::uint64_t mantissa = 0;
        for (int b = 1; b < 8; ++b) mantissa = mantissa << 8 | r[static_cast<std::size_t>(b)];
        ASSERT_GE(mantissa, std::uint64_t{1} << 52) << "not normalised: " << x;
        const auto asDouble = static_cast<double>(mantissa);
        ASSERT_EQ(static_cast<std::uint64_t>(asDouble), mantissa) << "more than 53 bits: " << x;
        const int exponent = r[0] & 0x7F;
        double value = std::ldexp(asDouble, 4 * (exponent - 64) - 56);
        if (r[0] & 0x80) value = -value;
        ASSERT_EQ(value, x) << std::hexfloat << x;
        ASSERT_EQ((r[0] & 0x80) != 0, x < 0);
    }
    EXPECT_GT(checked, 50000);
}

}  // namespace
