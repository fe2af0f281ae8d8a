// SPDX-License-Identifier: MIT
#include "oasis/oasis_stream.h"

#include <cstring>
#include <new>

#include "encoding/deflate_backend.h"
#include "oasis/signature.h"

namespace carvelle {

bool hasOasisSuffix(const char* name) {
    const std::size_t length = std::strlen(name);
    if (length < 4) return false;
    const char* end = name + length - 4;
    return end[0] == '.' && (end[1] | 0x20) == 'o' && (end[2] | 0x20) == 'a' && (end[3] | 0x20) == 's';
}

bool OasisStream::prepare(unsigned threads) {
    if (!gzipAvailable()) return true;
    blocks_.reset(new (std::nothrow) GzipWriter(file_, GzipWriter::Framing::Blocks));
    if (blocks_ && blocks_->prepare(threads)) return true;
    blocks_.reset();
    failed_ = true;
    return false;
}

void OasisStream::start() {
    if (blocks_) blocks_->start();
}

bool OasisStream::writeRaw(const void* data, std::size_t size) {
    if (failed_) return false;
    if (blocks_) {
        if (!blocks_->writeRaw(data, size)) failed_ = true;
        return !failed_;
    }
    if (!file_.write(data, size)) {
        failed_ = true;
        return false;
    }
    plainCrc_ = crc32Portable(plainCrc_, static_cast<const std::uint8_t*>(data), size);
    return true;
}

bool OasisStream::writeBlock(const void* data, std::size_t size) {
    if (size == 0) return !failed_;  // the anchor waits for the block that holds its cell
    const bool anchored = anchorNext_;
    anchorNext_ = false;
    if (failed_) return false;
    if (blocks_) {
        if (!blocks_->writeBlock(data, size, anchored)) failed_ = true;
        return !failed_;
    }
    if (anchored) {
        try {
            plainAnchors_.push_back(file_.written());
        } catch (const std::bad_alloc&) {
            failed_ = true;
            return false;
        }
    }
    return writeRaw(data, size);
}

bool OasisStream::endCells() {
    if (tail_) return !failed_;
    tail_ = true;
    if (blocks_ && !blocks_->finish()) failed_ = true;
    return !failed_;
}

std::uint32_t OasisStream::crc() const { return blocks_ ? blocks_->crc() : plainCrc_; }

bool OasisStream::finish() {
    endCells();
    return !failed_;
}

void OasisStream::abandon() {
    if (!blocks_) return;
    blocks_->abandon();
    static_cast<void>(blocks_.release());
}

}  // namespace carvelle
