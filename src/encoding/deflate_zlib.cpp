// SPDX-License-Identifier: MIT
// zlib's level 1: the portable fallback (Windows, s390x), the same ratio as
// gzip -1.
#include <zlib.h>

#include <memory>
#include <new>

#include "encoding/deflate_backend.h"

namespace carvelle {

// Every step fits zlib's counters.
static_assert(kMaxStep <= 0xFFFFFFFFu, "a step must fit uInt");

bool gzipAvailable() { return true; }

std::uint32_t crc32Step(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(size)));
}

namespace {

z_stream* streamOf(void* state) { return static_cast<z_stream*>(state); }

// A z_stream initialised by start, or null (and nothing held) when zlib refuses.
template <typename Start>
void* newStream(Start start) {
    std::unique_ptr<z_stream> stream(new (std::nothrow) z_stream());
    if (stream == nullptr || start(stream.get()) != Z_OK) return nullptr;
    return stream.release();
}

}  // namespace

PieceCompressor::PieceCompressor()
    : state_(newStream([](z_stream* stream) {
          // Raw deflate (negative window bits): the gzip framing is ours.
          return deflateInit2(stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      })) {}

PieceCompressor::~PieceCompressor() {
    if (state_ == nullptr) return;
    deflateEnd(streamOf(state_));
    delete streamOf(state_);
}

std::size_t PieceCompressor::compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                      std::size_t room) {
    z_stream* stream = streamOf(state_);
    // A reset forgets the previous piece; a full flush ends on a byte
    // boundary without a final block.
    if (deflateReset(stream) != Z_OK) return kFailed;
    stream->next_in = const_cast<Bytef*>(in);
    stream->avail_in = static_cast<uInt>(size);
    stream->next_out = out;
    stream->avail_out = static_cast<uInt>(room);
    const int status = deflate(stream, Z_FULL_FLUSH);
    // Output that filled room may have been cut short.
    if (status == Z_BUF_ERROR || (status == Z_OK && stream->avail_out == 0)) return kDoesNotFit;
    if (status != Z_OK || stream->avail_in != 0) return kFailed;
    return room - stream->avail_out;
}

InflateStep::InflateStep()
    : state_(newStream([](z_stream* stream) {
          // 16 + 15: a gzip header and trailer around a 32 KiB window.
          return inflateInit2(stream, 16 + 15);
      })) {}

InflateStep::~InflateStep() {
    if (state_ == nullptr) return;
    inflateEnd(streamOf(state_));
    delete streamOf(state_);
}

bool InflateStep::reset() { return inflateReset(streamOf(state_)) == Z_OK; }

InflateStep::Status InflateStep::run(const std::uint8_t* in, std::size_t inSize, std::size_t& used,
                                     std::uint8_t* out, std::size_t room, std::size_t& made) {
    z_stream* stream = streamOf(state_);
    stream->next_in = const_cast<Bytef*>(in);
    stream->avail_in = static_cast<uInt>(inSize);
    stream->next_out = out;
    stream->avail_out = static_cast<uInt>(room);
    const int status = ::inflate(stream, Z_NO_FLUSH);
    used = inSize - stream->avail_in;
    made = room - stream->avail_out;
    if (status == Z_STREAM_END) return Status::MemberEnd;
    // Z_BUF_ERROR: no progress without more input or room.
    if (status == Z_OK || status == Z_BUF_ERROR) return Status::Ok;
    return Status::Corrupt;
}

}  // namespace carvelle
