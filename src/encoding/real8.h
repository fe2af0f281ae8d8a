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

}  // namespace carvelle
