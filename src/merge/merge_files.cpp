// SPDX-License-Identifier: MIT
#include "merge/merge_files.h"

#include <algorithm>

namespace carvelle::merge {

// Where the kernel cannot copy (another platform, or two file systems it
// cannot copy between), the bytes pass through a buffer of this size.
constexpr std::size_t kCopyBufferSize = std::size_t{1} << 20;

bool OutputFile::copyThroughBuffer(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error) {
    if (!buffer_) buffer_.reset(new std::uint8_t[kCopyBufferSize]);
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyBufferSize));
        if (!part.readAt(offset, buffer_.get(), piece, error) || !write(buffer_.get(), piece, error)) return false;
        offset += piece;
        size -= piece;
    }
    return true;
}

const std::uint8_t* PartFile::view(std::uint64_t offset, std::size_t size, std::string& error) {
    if (!viewBuffer_) viewBuffer_.reset(new std::uint8_t[kViewSize]);
    return readAt(offset, viewBuffer_.get(), size, error) ? viewBuffer_.get() : nullptr;
}

bool PartFile::unchanged(std::string& error) {
    FileIdentity now;
    if (!identify(now, error)) return false;
    if (now != identity_) {
        error = "part " + path_ + " changed while it was merged";
        return false;
    }
    return true;
}

}  // namespace carvelle::merge
