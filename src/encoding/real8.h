// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

namespace carvelle {

// The stream format's eight-byte real: sign bit, base-16 exponent in excess
// 64, and a 56-bit binary fraction, bytes in file order.
using Real8 = std::array<std::uint8_t, 8>;

// True when toReal8 can hold x exactly or as zero: finite and |x| < 2^252.
// Magnitudes below 2^-260 (and NaN) become zero.
bool fitsReal8(double x);

// Exact conversion of a double to a Real8 for every x that fitsReal8. The
// mantissa is truncated, never rounded, and for such x nothing is lost.
// Values that do not fit saturate to the largest magnitude (callers refuse
// them first).
Real8 toReal8(double x);

// The value of a Real8, rounded to the nearest double (its 56-bit fraction
// holds three bits more than a double's).
double fromReal8(const Real8& real);

// True when a and b differ by at most one unit in the last place of the
// larger one's fraction: writers that round the last bit differently still
// agree. Zero equals only zero.
bool sameReal8(const Real8& a, const Real8& b);

}  // namespace carvelle
