// SPDX-License-Identifier: MIT
// ISA-L's stateless level 1: the fastest deflate packaged for x86-64 and
// ARM64, and on GDSII a smaller file than zlib's level 1 (docs/site/gzip.md).
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <limits>
#include <new>

#include "encoding/deflate_piece.h"
#include "encoding/gzip_reader.h"
#include "encoding/gzip_writer.h"

namespace carvelle {

bool gzipAvailable() { return true; }

namespace {

// Room for level 1's hash table and for the tokens of a large piece.
constexpr std::size_t kLevelBufferSize = ISAL_DEF_LVL1_LARGE;

}  // namespace

PieceCompressor::PieceCompressor() : state_(new std::uint8_t[kLevelBufferSize]) {}

PieceCompressor::~PieceCompressor() { delete[] static_cast<std::uint8_t*>(state_); }

std::size_t PieceCompressor::compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                      std::size_t room) {
    constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
    if (size > kLimit || room > kLimit) return kFailed;
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.level = 1;
    stream.level_buf = static_cast<std::uint8_t*>(state_);
    stream.level_buf_size = kLevelBufferSize;
    stream.next_in = const_cast<std::uint8_t*>(in);
    stream.avail_in = static_cast<std::uint32_t>(size);
    stream.next_out = out;
    stream.avail_out = static_cast<std::uint32_t>(room);
    stream.end_of_stream = 0;
    // FULL_FLUSH ends on a byte boundary (an empty stored block) with no
    // final block, and a stateless call starts with no history.
    stream.flush = FULL_FLUSH;
    const int status = isal_deflate_stateless(&stream);
    if (status == STATELESS_OVERFLOW) return kDoesNotFit;
    if (status != COMP_OK || stream.avail_in != 0) return kFailed;
    return room - stream.avail_out;
}

std::uint32_t crc32Of(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t step = size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30);
        crc = crc32_gzip_refl(crc, data, step);
        data += step;
        size -= step;
    }
    return crc;
}

struct InflateState {
    inflate_state stream;
};

GzipInflater::GzipInflater() : state_(new InflateState) {
    inflate_state& stream = static_cast<InflateState*>(state_)->stream;
    isal_inflate_init(&stream);
    stream.crc_flag = ISAL_GZIP;
}

GzipInflater::~GzipInflater() { delete static_cast<InflateState*>(state_); }

GzipInflater::Result GzipInflater::inflate(const std::uint8_t*& in, std::size_t& inSize, std::uint8_t*& out,
                                           std::size_t& room) {
    constexpr std::size_t kStep = std::numeric_limits<std::uint32_t>::max();
    inflate_state& stream = static_cast<InflateState*>(state_)->stream;
    while (inSize > 0 || (started_ && !atMemberEnd_ && room > 0)) {
        if (atMemberEnd_) {
            // Another member follows.
            isal_inflate_reset(&stream);
            stream.crc_flag = ISAL_GZIP;
            atMemberEnd_ = false;
        }
        started_ = true;
        stream.next_in = const_cast<std::uint8_t*>(in);
        stream.avail_in = static_cast<std::uint32_t>(inSize < kStep ? inSize : kStep);
        stream.next_out = out;
        stream.avail_out = static_cast<std::uint32_t>(room < kStep ? room : kStep);
        const std::uint32_t inBefore = stream.avail_in, outBefore = stream.avail_out;
        const int status = isal_inflate(&stream);
        in += inBefore - stream.avail_in;
        inSize -= inBefore - stream.avail_in;
        out += outBefore - stream.avail_out;
        room -= outBefore - stream.avail_out;
        if (status < 0) return Result::Corrupt;
        if (stream.block_state == ISAL_BLOCK_FINISH) {
            atMemberEnd_ = true;
            continue;
        }
        if (inBefore == stream.avail_in && outBefore == stream.avail_out) break;  // needs input or room
    }
    return Result::Progress;
}

}  // namespace carvelle
