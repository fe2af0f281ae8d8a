// SPDX-License-Identifier: MIT
// A build without a deflate library: a name ending in .gz is refused before
// anything is compressed or inflated, so none of this runs.
#include "encoding/deflate_backend.h"

namespace carvelle {

bool gzipAvailable() { return false; }

std::uint32_t crc32Step(std::uint32_t crc, const std::uint8_t*, std::size_t) { return crc; }

PieceCompressor::PieceCompressor() : state_(nullptr) {}

PieceCompressor::~PieceCompressor() = default;

std::size_t PieceCompressor::compress(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t) {
    return kFailed;
}

InflateStep::InflateStep() : state_(nullptr) {}

InflateStep::~InflateStep() = default;

bool InflateStep::reset() { return false; }

InflateStep::Status InflateStep::run(const std::uint8_t*, std::size_t, std::size_t& used, std::uint8_t*, std::size_t,
                                     std::size_t& made) {
    used = made = 0;
    return Status::Corrupt;
}

}  // namespace carvelle
