// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/deflate_backend.h"

namespace carvelle {

// Decompresses gzip data handed over in pieces of any size: one member, or
// several one after another (as gzip -d reads them, and as concatenated .gz
// files are), each checked against its CRC and size. The library chosen at
// build time does each step; a build without one cannot be asked (see
// gzipAvailable()).
class GzipInflater {
public:
    enum class Result {
        Progress,  // all input used or all room filled: call again
        Corrupt,   // not gzip, or a member that fails its checks
    };

    // False when the state could not be had: nothing else may be called.
    bool ready() const { return step_.ready(); }

    // Decompresses from in (inSize bytes) into out (room bytes), moving in
    // and out past what it used and made and lowering inSize and room.
    Result inflate(const std::uint8_t*& in, std::size_t& inSize, std::uint8_t*& out, std::size_t& room);
    // True when the input so far ends where a member ends: once the input
    // is exhausted, the data was whole.
    bool atMemberEnd() const { return atMemberEnd_; }

private:
    InflateStep step_;
    bool atMemberEnd_ = false;
    bool started_ = false;  // some input seen
};

}  // namespace carvelle
