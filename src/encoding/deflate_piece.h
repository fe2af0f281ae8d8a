// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace carvelle {

// Raw deflate of one piece of a gzip member, by the library chosen at build
// time (ISA-L where it is packaged, zlib elsewhere). Every piece starts with
// an empty history and ends on a byte boundary without a final block, so
// pieces compressed apart, on any thread, concatenate into one stream.
class PieceCompressor {
public:
    // compress's results besides a size.
    static constexpr std::size_t kDoesNotFit = 0;
    static constexpr std::size_t kFailed = ~std::size_t{0};

    // Throws std::bad_alloc when the compressor's state cannot be had.
    PieceCompressor();
    ~PieceCompressor();
    PieceCompressor(const PieceCompressor&) = delete;
    PieceCompressor& operator=(const PieceCompressor&) = delete;

    // The compressed size of in (size >= 1), kDoesNotFit when it needs more
    // than room bytes, or kFailed.
    std::size_t compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room);

private:
    void* state_;
};

// CRC-32 of gzip (reflected IEEE polynomial), continued from crc.
std::uint32_t crc32Of(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

}  // namespace carvelle
