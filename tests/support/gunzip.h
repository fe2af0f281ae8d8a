// SPDX-License-Identifier: MIT
// Test-only: a whole gzip file decompressed by zlib, a reader independent of
// the library's writer. Members that follow one another are read in turn,
// as gzip -d reads them.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace gdstest {

// False when the data is not a complete, valid gzip file.
inline bool gunzip(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
    out.clear();
    z_stream stream{};
    if (inflateInit2(&stream, 16 + 15) != Z_OK) return false;
    std::uint8_t chunk[1 << 16];
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    int status = Z_OK;
    while (status == Z_OK || (status == Z_STREAM_END && stream.avail_in > 0)) {
        if (status == Z_STREAM_END && inflateReset(&stream) != Z_OK) break;
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
        if (status == Z_BUF_ERROR) break;
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && stream.avail_in == 0 && !in.empty();
}

}  // namespace gdstest
