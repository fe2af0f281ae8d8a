// SPDX-License-Identifier: MIT
#pragma once

// The validation signature of OASIS (scheme 1): the CRC-32 of gzip, over
// every byte from the magic string to END's validation-scheme byte. Where
// the file's bytes are compressed by GzipWriter, its deflate library
// computes it on the worker threads; this portable form serves a build
// without one.

#include <cstddef>
#include <cstdint>

namespace carvelle {

// Continues crc over size bytes of data.
std::uint32_t crc32Portable(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

}  // namespace carvelle
