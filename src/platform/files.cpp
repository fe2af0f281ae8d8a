// SPDX-License-Identifier: MIT
#include "platform/files.h"

#include <algorithm>
#include <new>

namespace carvelle {

// Where the kernel cannot copy (another platform, or two file systems it
// cannot copy between), the bytes pass through a buffer of this size.
constexpr std::size_t kCopyBufferSize = std::size_t{1} << 20;

bool OutputFile::copyThroughBuffer(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error) {
    if (!buffer_) buffer_.reset(new (std::nothrow) std::uint8_t[kCopyBufferSize]);
    if (!buffer_) {
        error = "out of memory";
        return false;
    }
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyBufferSize));
        if (!part.readAt(offset, buffer_.get(), piece, error)) return false;
        if (!write(buffer_.get(), piece)) {
            error = failure();
            return false;
        }
        offset += piece;
        size -= piece;
    }
    return true;
}

std::string OutputFile::failure() const {
    switch (step_) {
        case Step::None:
            return {};
        case Step::Create:
            return "cannot create " + temporary_ + ": " + reason(code_);
        case Step::Rename:
            return "cannot rename " + temporary_ + " to " + path_ + ": " + reason(code_);
        case Step::NotRegular:
            return "cannot write " + path_ + ": not a regular file (a device, a FIFO or a folder), which is never replaced";
        case Step::Write:
            break;
    }
    return "cannot write " + temporary_ + ": " + reason(code_);
}

const std::uint8_t* PartFile::view(std::uint64_t offset, std::size_t size, std::string& error) {
    if (!viewBuffer_) viewBuffer_.reset(new (std::nothrow) std::uint8_t[kViewSize]);
    if (!viewBuffer_) {
        error = "out of memory";
        return nullptr;
    }
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

}  // namespace carvelle
