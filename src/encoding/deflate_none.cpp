// SPDX-License-Identifier: MIT
// A build without a deflate library: a name ending in .gz is refused before
// anything is compressed, so none of this runs.
#include "encoding/deflate_piece.h"
#include "encoding/gzip_reader.h"
#include "encoding/gzip_writer.h"

namespace carvelle {

bool gzipAvailable() { return false; }

PieceCompressor::PieceCompressor() : state_(nullptr) {}

PieceCompressor::~PieceCompressor() = default;

std::size_t PieceCompressor::compress(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t) {
    return kFailed;
}

std::uint32_t crc32Of(std::uint32_t crc, const std::uint8_t*, std::size_t) { return crc; }

GzipInflater::GzipInflater() : state_(nullptr) {}

GzipInflater::~GzipInflater() = default;

GzipInflater::Result GzipInflater::inflate(const std::uint8_t*&, std::size_t&, std::uint8_t*&, std::size_t&) {
    return Result::Corrupt;
}

}  // namespace carvelle
