// SPDX-License-Identifier: MIT
// ISA-L's stateless level 1: the fastest deflate packaged for x86-64 and
// ARM64, and on GDSII a smaller file than zlib's level 1 (docs/site/gzip.md).
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <new>

#include "encoding/deflate_backend.h"

namespace carvelle {

// Every step fits ISA-L's counters.
static_assert(kMaxStep <= 0xFFFFFFFFu, "a step must fit 32 bits");

bool gzipAvailable() { return true; }

std::uint32_t crc32Step(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return crc32_gzip_refl(crc, data, size);
}

namespace {

// Room for level 1's hash table and for the tokens of a large piece.
constexpr std::size_t kLevelBufferSize = ISAL_DEF_LVL1_LARGE;

}  // namespace

PieceCompressor::PieceCompressor() : state_(new (std::nothrow) std::uint8_t[kLevelBufferSize]) {}

PieceCompressor::~PieceCompressor() { delete[] static_cast<std::uint8_t*>(state_); }

std::size_t PieceCompressor::compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                      std::size_t room) {
    // Every field set: zeroed first, then the library's defaults, then ours.
    isal_zstream stream{};
    isal_deflate_stateless_init(&stream);
    stream.level = 1;
    stream.level_buf = static_cast<std::uint8_t*>(state_);
    stream.level_buf_size = kLevelBufferSize;
    // The whole 32 KiB window, as a reader of any gzip expects to allow.
    stream.hist_bits = ISAL_DEF_MAX_HIST_BITS;
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

namespace {

inflate_state& streamOf(void* state) { return *static_cast<inflate_state*>(state); }

}  // namespace

InflateStep::InflateStep() : state_(new (std::nothrow) inflate_state{}) {
    if (state_ == nullptr) return;
    isal_inflate_init(&streamOf(state_));
    streamOf(state_).crc_flag = ISAL_GZIP;
}

InflateStep::~InflateStep() { delete static_cast<inflate_state*>(state_); }

bool InflateStep::reset() {
    isal_inflate_reset(&streamOf(state_));
    streamOf(state_).crc_flag = ISAL_GZIP;
    return true;
}

InflateStep::Status InflateStep::run(const std::uint8_t* in, std::size_t inSize, std::size_t& used,
                                     std::uint8_t* out, std::size_t room, std::size_t& made) {
    inflate_state& stream = streamOf(state_);
    stream.next_in = const_cast<std::uint8_t*>(in);
    stream.avail_in = static_cast<std::uint32_t>(inSize);
    stream.next_out = out;
    stream.avail_out = static_cast<std::uint32_t>(room);
    const int status = isal_inflate(&stream);
    used = inSize - stream.avail_in;
    made = room - stream.avail_out;
    if (status < 0) return Status::Corrupt;
    if (stream.block_state == ISAL_BLOCK_FINISH) return Status::MemberEnd;
    return Status::Ok;
}

}  // namespace carvelle
