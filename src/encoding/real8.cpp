// SPDX-License-Identifier: MIT
#include "encoding/real8.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace carvelle {

namespace {
constexpr double kReal8Limit = 0x1p252;      // 16^63: the exponent byte holds 0 to 127
constexpr double kReal8Smallest = 0x1p-260;  // 16^-65
}  // namespace

bool fitsReal8(double x) {
    return std::isnan(x) || std::fabs(x) < kReal8Limit;
}

Real8 toReal8(double x) {
    Real8 bytes{};
    // Zero of either sign and NaN compare neither less nor greater than 0.
    if (!(x < 0.0 || x > 0.0)) return bytes;
    const std::uint8_t sign = x < 0.0 ? 0x80 : 0x00;
    const double magnitude = std::fabs(x);
    if (magnitude < kReal8Smallest) return bytes;
    if (!(magnitude < kReal8Limit)) {
        bytes.fill(0xFF);
        bytes[0] = static_cast<std::uint8_t>(sign | 0x7F);
        return bytes;
    }

    // |x| = significand * 2^(e2 - 52) with a 53-bit significand (every double
    // in range is normal). With 16^(k-1) <= |x| < 16^k, the 56-bit fraction is
    // the significand shifted left by e2 mod 4: an exact move of bits.
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int e2 = static_cast<int>(bits >> 52) - 1023;
    const std::uint64_t significand = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int floorQuarter = (e2 + 1024) / 4 - 256;  // floor(e2 / 4) for negative e2 too
    const int shift = e2 - 4 * floorQuarter;
    const std::uint64_t fraction = significand << shift;
    const int exponent = 64 + floorQuarter + 1;

    bytes[0] = static_cast<std::uint8_t>(sign | exponent);
    for (int i = 1; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(fraction >> (8 * (7 - i)));
    }
    return bytes;
}

namespace {

struct Parts {
    bool negative;
    int exponent;  // of 16, in excess 64
    std::uint64_t fraction;
};

// The fraction shifted up to fill its top hex digit: the same value, so a
// writer that leaves leading zero digits compares like one that does not.
Parts normalized(const Real8& real) {
    Parts parts{(real[0] & 0x80) != 0, real[0] & 0x7F, 0};
    for (int i = 1; i < 8; ++i) parts.fraction = parts.fraction << 8 | real[i];
    while (parts.fraction != 0 && (parts.fraction >> 52) == 0) {
        parts.fraction <<= 4;
        --parts.exponent;
    }
    return parts;
}

}  // namespace

double fromReal8(const Real8& real) {
    std::uint64_t fraction = 0;
    for (int i = 1; i < 8; ++i) fraction = fraction << 8 | real[i];
    const double magnitude = std::ldexp(static_cast<double>(fraction), 4 * ((real[0] & 0x7F) - 64) - 56);
    return (real[0] & 0x80) ? -magnitude : magnitude;
}

bool sameReal8(const Real8& a, const Real8& b) {
    Parts x = normalized(a), y = normalized(b);
    if (x.fraction == 0 || y.fraction == 0) return x.fraction == y.fraction;
    if (x.negative != y.negative) return false;
    if (x.exponent < y.exponent) std::swap(x, y);
    // Normalized, the fraction lies in [2^52, 2^56): exponents two apart are a factor of 16 apart or more.
    if (x.exponent == y.exponent) return (x.fraction > y.fraction ? x.fraction - y.fraction : y.fraction - x.fraction) <= 1;
    if (x.exponent != y.exponent + 1) return false;
    // In units of y's last place, x is 16 * x.fraction, which exceeds y.fraction; one of x's units is 16 of y's.
    return (x.fraction << 4) - y.fraction <= 16;
}

}  // namespace carvelle
