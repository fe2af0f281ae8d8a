// SPDX-License-Identifier: MIT
#pragma once

// The third kind of Output: an OASIS file. Its head (magic and START) and
// its tail (the name tables and END) are written as they are; between them,
// the cell records come buffer by buffer from the ByteSink, each buffer
// ending on a record boundary, and each becomes one CBLOCK compressed on the
// worker threads of the .gz machinery (or goes out as it came when it does
// not shrink, or in a build without a deflate library). Every byte written
// is counted in the validation signature as it goes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "encoding/gzip_writer.h"
#include "platform/files.h"

namespace carvelle {

// True when name ends in ".oas", in any case.
bool hasOasisSuffix(const char* name);

class OasisStream {
public:
    explicit OasisStream(OutputFile& file) : file_(file) {}
    OasisStream(const OasisStream&) = delete;
    OasisStream& operator=(const OasisStream&) = delete;

    // Before the file is opened: the compressor and its threads, when this
    // build has a deflate library. False when the memory cannot be had.
    bool prepare(unsigned threads);
    // Once the file is open.
    void start();

    // The head before the first cell buffer, the tail after endCells.
    bool writeRaw(const void* data, std::size_t size);
    // A cell buffer (one block), or, after endCells, more of the tail.
    bool write(const void* data, std::size_t size) {
        return tail_ ? writeRaw(data, size) : writeBlock(data, size);
    }
    // The next block starts a cell: its offset in the file is kept.
    void anchorNext() { anchorNext_ = true; }
    // The last block has been written: compression ends, every thread is
    // joined, and the anchors and the signature so far are final.
    bool endCells();

    // After endCells: bytes in the file, their CRC-32, and the offsets of
    // the anchored blocks in order.
    std::uint64_t position() const { return file_.written(); }
    std::uint32_t crc() const;
    const std::vector<std::uint64_t>& anchors() const { return blocks_ ? blocks_->anchors() : plainAnchors_; }

    // Joins what is left; false when anything failed since prepare.
    bool finish();
    // In the child of a fork: the compressor's threads and locks are the
    // parent's, so it is let go without being joined or touched.
    void abandon();

private:
    bool writeBlock(const void* data, std::size_t size);

    OutputFile& file_;
    std::unique_ptr<GzipWriter> blocks_;  // null: blocks go out as they came
    std::vector<std::uint64_t> plainAnchors_;
    std::uint32_t plainCrc_ = 0;
    bool anchorNext_ = false;
    bool tail_ = false;
    bool failed_ = false;
};

}  // namespace carvelle
