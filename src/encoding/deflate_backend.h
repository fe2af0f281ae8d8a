// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace carvelle {

// What a deflate library does for the gzip writer and reader: each call one
// bounded step, at most kMaxStep bytes in and out. The library is chosen at
// build time (deflate_isal.cpp where ISA-L is packaged, deflate_zlib.cpp
// elsewhere, deflate_none.cpp without one); the gzip framing, the cutting
// into steps, the inflate loop over members and the CRC arithmetic are the
// front end's (gzip_writer.cpp, gzip_reader.cpp), written once.
inline constexpr std::size_t kMaxStep = std::size_t{1} << 30;

// Whether this build has a deflate library.
bool gzipAvailable();

// CRC-32 of gzip (reflected IEEE polynomial) of size <= kMaxStep bytes,
// continued from crc.
std::uint32_t crc32Step(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// Raw deflate of one piece of a gzip member. Every piece starts with an
// empty history and ends on a byte boundary without a final block, so
// pieces compressed apart, on any thread, concatenate into one stream.
class PieceCompressor {
public:
    // compress's results besides a size.
    static constexpr std::size_t kDoesNotFit = 0;
    static constexpr std::size_t kFailed = ~std::size_t{0};

    // ready() is false when the compressor's state could not be had.
    PieceCompressor();
    ~PieceCompressor();
    PieceCompressor(const PieceCompressor&) = delete;
    PieceCompressor& operator=(const PieceCompressor&) = delete;
    bool ready() const { return state_ != nullptr; }

    // The compressed size of in (1 <= size <= kMaxStep, room <= kMaxStep),
    // kDoesNotFit when it needs more than room bytes, or kFailed.
    std::size_t compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room);

private:
    void* state_;
};

// One step of inflating a gzip member, header and trailer checked.
class InflateStep {
public:
    enum class Status {
        Ok,         // some or no progress: more input or more room is needed
        MemberEnd,  // the member ended, its CRC and size checked
        Corrupt,    // not gzip, or a member that fails its checks
    };

    // ready() is false when the state could not be had.
    InflateStep();
    ~InflateStep();
    InflateStep(const InflateStep&) = delete;
    InflateStep& operator=(const InflateStep&) = delete;
    bool ready() const { return state_ != nullptr; }

    // Ready for a new member; false when the library refuses.
    bool reset();
    // Inflates from in (inSize <= kMaxStep) into out (room <= kMaxStep);
    // used and made say how far each went.
    Status run(const std::uint8_t* in, std::size_t inSize, std::size_t& used, std::uint8_t* out, std::size_t room,
               std::size_t& made);

private:
    void* state_;
};

}  // namespace carvelle
