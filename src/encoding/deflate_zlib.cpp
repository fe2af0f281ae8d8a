// SPDX-License-Identifier: MIT
// zlib's level 1: the portable fallback (Windows, s390x), the same ratio as
// gzip -1.
#include <zlib.h>

#include <limits>
#include <new>

#include "encoding/deflate_piece.h"
#include "encoding/gzip_reader.h"
#include "encoding/gzip_writer.h"

namespace carvelle {

bool gzipAvailable() { return true; }

namespace {

z_stream* streamOf(void* state) { return static_cast<z_stream*>(state); }

}  // namespace

PieceCompressor::PieceCompressor() : state_(new z_stream{}) {
    // Raw deflate (negative window bits): the gzip framing is ours.
    if (deflateInit2(streamOf(state_), 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete streamOf(state_);
        throw std::bad_alloc();
    }
}

PieceCompressor::~PieceCompressor() {
    deflateEnd(streamOf(state_));
    delete streamOf(state_);
}

std::size_t PieceCompressor::compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                      std::size_t room) {
    constexpr std::size_t kLimit = std::numeric_limits<uInt>::max();
    if (size > kLimit || room > kLimit) return kFailed;
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

std::uint32_t crc32Of(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kStep = std::size_t{1} << 30;
    while (size > 0) {
        const std::size_t step = size < kStep ? size : kStep;
        crc = static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(step)));
        data += step;
        size -= step;
    }
    return crc;
}

GzipInflater::GzipInflater() : state_(new z_stream{}) {
    // 16 + 15: a gzip header and trailer around a 32 KiB window.
    if (inflateInit2(streamOf(state_), 16 + 15) != Z_OK) {
        delete streamOf(state_);
        throw std::bad_alloc();
    }
}

GzipInflater::~GzipInflater() {
    inflateEnd(streamOf(state_));
    delete streamOf(state_);
}

GzipInflater::Result GzipInflater::inflate(const std::uint8_t*& in, std::size_t& inSize, std::uint8_t*& out,
                                           std::size_t& room) {
    constexpr std::size_t kStep = std::numeric_limits<uInt>::max();
    z_stream* stream = streamOf(state_);
    while (inSize > 0 || (started_ && !atMemberEnd_ && room > 0)) {
        if (atMemberEnd_) {
            // Another member follows.
            if (inflateReset(stream) != Z_OK) return Result::Corrupt;
            atMemberEnd_ = false;
        }
        started_ = true;
        stream->next_in = const_cast<Bytef*>(in);
        stream->avail_in = static_cast<uInt>(inSize < kStep ? inSize : kStep);
        stream->next_out = out;
        stream->avail_out = static_cast<uInt>(room < kStep ? room : kStep);
        const uInt inBefore = stream->avail_in, outBefore = stream->avail_out;
        const int status = ::inflate(stream, Z_NO_FLUSH);
        in += inBefore - stream->avail_in;
        inSize -= inBefore - stream->avail_in;
        out += outBefore - stream->avail_out;
        room -= outBefore - stream->avail_out;
        if (status == Z_STREAM_END) {
            atMemberEnd_ = true;
            continue;
        }
        if (status == Z_BUF_ERROR) break;  // needs input or room
        if (status != Z_OK) return Result::Corrupt;
    }
    return Result::Progress;
}

}  // namespace carvelle
