// SPDX-License-Identifier: MIT
#pragma once

// The primitives of OASIS: unsigned and signed integers of seven bits a byte,
// reals, strings and the deltas of point lists and repetitions. Like
// RecordWriter, an OasisBytes stores into room reserved beforehand and tests
// nothing per value; the k*Size constants bound what each store may take.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace carvelle {

// The most bytes of one unsigned or signed integer (64 bits, 7 a byte), of a
// real, and of a g-delta (its two forms).
inline constexpr std::size_t kMaxUintSize = 10;
inline constexpr std::size_t kMaxRealSize = 1 + 8;
inline constexpr std::size_t kMaxGdeltaSize = 2 * kMaxUintSize;

// The eight directions of 3-deltas and of g-deltas in their first form: east,
// north, west, south, then the diagonals counter-clockwise from north-east.
enum class Direction : std::uint8_t { East,
                                      North,
                                      West,
                                      South,
                                      NorthEast,
                                      NorthWest,
                                      SouthWest,
                                      SouthEast };

// The direction of (dx, dy) when it is along an axis or a diagonal, with its
// length in magnitude; false otherwise. (0, 0) is east with length 0.
inline bool octangularDirection(std::int64_t dx, std::int64_t dy, Direction& direction, std::uint64_t& magnitude) {
    const std::uint64_t ax = dx < 0 ? 0 - static_cast<std::uint64_t>(dx) : static_cast<std::uint64_t>(dx);
    const std::uint64_t ay = dy < 0 ? 0 - static_cast<std::uint64_t>(dy) : static_cast<std::uint64_t>(dy);
    if (dy == 0) {
        direction = dx < 0 ? Direction::West : Direction::East;
        magnitude = ax;
    } else if (dx == 0) {
        direction = dy < 0 ? Direction::South : Direction::North;
        magnitude = ay;
    } else if (ax == ay) {
        direction = dx > 0 ? (dy > 0 ? Direction::NorthEast : Direction::SouthEast)
                           : (dy > 0 ? Direction::NorthWest : Direction::SouthWest);
        magnitude = ax;
    } else {
        return false;
    }
    return true;
}

class OasisBytes {
public:
    explicit OasisBytes(std::uint8_t* at) : at_(at) {}
    std::uint8_t* position() const { return at_; }

    OasisBytes& byte(std::uint8_t value) {
        *at_++ = value;
        return *this;
    }
    // Seven bits a byte, least significant first; the high bit says more follow.
    OasisBytes& uint(std::uint64_t value) {
        while (value >= 0x80) {
            *at_++ = static_cast<std::uint8_t>(value | 0x80);
            value >>= 7;
        }
        *at_++ = static_cast<std::uint8_t>(value);
        return *this;
    }
    // The magnitude shifted left by one, the sign in bit 0.
    OasisBytes& sint(std::int64_t value) {
        const bool negative = value < 0;
        const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        return uint(magnitude << 1 | (negative ? 1u : 0u));
    }
    // An integral value as real type 0 or 1 (exact and short), anything else
    // as type 7: the IEEE double, least significant byte first.
    OasisBytes& real(double value) {
        if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0) {
            const bool negative = value < 0;
            byte(negative ? 1 : 0);
            return uint(static_cast<std::uint64_t>(negative ? -value : value));
        }
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        byte(7);
        for (int k = 0; k < 8; ++k) *at_++ = static_cast<std::uint8_t>(bits >> (8 * k));
        return *this;
    }
    // Length, then the bytes (a-string, b-string and n-string alike).
    OasisBytes& string(const char* text, std::size_t length) {
        uint(length);
        return bytes(text, length);
    }
    OasisBytes& bytes(const void* data, std::size_t size) {
        if (size > 0) std::memcpy(at_, data, size);
        at_ += size;
        return *this;
    }
    // A 4-byte unsigned integer, least significant byte first (the signature).
    OasisBytes& fixed4(std::uint32_t value) {
        for (int k = 0; k < 4; ++k) *at_++ = static_cast<std::uint8_t>(value >> (8 * k));
        return *this;
    }

    // Deltas of point lists: the caller has chosen the type that holds them.
    // 1-delta: the signed length along the axis the list's type implies.
    OasisBytes& delta1(std::int64_t length) { return sint(length); }
    // 2-delta: an axis direction in the low two bits.
    OasisBytes& delta2(std::int64_t dx, std::int64_t dy) {
        Direction direction = Direction::East;
        std::uint64_t magnitude = 0;
        octangularDirection(dx, dy, direction, magnitude);
        return uint(magnitude << 2 | static_cast<std::uint64_t>(direction));
    }
    // 3-delta: one of eight directions in the low three bits.
    OasisBytes& delta3(std::int64_t dx, std::int64_t dy) {
        Direction direction = Direction::East;
        std::uint64_t magnitude = 0;
        octangularDirection(dx, dy, direction, magnitude);
        return uint(magnitude << 3 | static_cast<std::uint64_t>(direction));
    }
    // g-delta: one integer for an octangular delta (bit 0 clear), else the
    // x magnitude with its sign in bit 1 and bit 0 set, then y as a signed
    // integer.
    OasisBytes& gdelta(std::int64_t dx, std::int64_t dy) {
        Direction direction = Direction::East;
        std::uint64_t magnitude = 0;
        if (octangularDirection(dx, dy, direction, magnitude)) {
            return uint(magnitude << 4 | static_cast<std::uint64_t>(direction) << 1);
        }
        const bool negative = dx < 0;
        const std::uint64_t ax = negative ? 0 - static_cast<std::uint64_t>(dx) : static_cast<std::uint64_t>(dx);
        uint(ax << 2 | (negative ? 2u : 0u) | 1u);
        return sint(dy);
    }

private:
    std::uint8_t* at_;
};

}  // namespace carvelle
