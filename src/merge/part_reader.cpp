// SPDX-License-Identifier: MIT
#include "merge/part_reader.h"

#include <algorithm>
#include <new>

#include "encoding/gzip_writer.h"

namespace carvelle::merge {

// Compressed bytes read from a gzip part at a time.
constexpr std::size_t kInputSize = std::size_t{256} << 10;

bool PartReader::open(const std::string& path, std::string& error) {
    path_ = path;
    position_ = 0;
    damaged_ = false;
    inflater_.reset();
    if (hasGzipSuffix(path.c_str()) && !gzipAvailable()) {
        error = "cannot open part " + path + ": this build reads no gzip files";
        return false;
    }
    if (!file_.open(path, error)) return false;
    if (hasGzipSuffix(path.c_str())) {
        if (!input_) {
            input_.reset(new (std::nothrow) std::uint8_t[kInputSize]);
            piece_.reset(new (std::nothrow) std::uint8_t[PartFile::kViewSize]);
        }
        return restart(error);
    }
    return true;
}

bool PartReader::restart(std::string& error) {
    // A new inflater: the member starts again from the part's first byte.
    inflater_.reset(new (std::nothrow) GzipInflater);
    if (!inflater_ || !inflater_->ready() || !input_ || !piece_) {
        error = "out of memory";
        return false;
    }
    position_ = 0;
    inputAt_ = 0;
    pendingSize_ = 0;
    return true;
}

std::size_t PartReader::inflate(std::uint8_t* out, std::size_t room, std::string& error) {
    std::uint8_t* const first = out;
    while (room > 0) {
        if (pendingSize_ == 0 && inputAt_ < file_.size()) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(file_.size() - inputAt_, kInputSize));
            if (!file_.readAt(inputAt_, input_.get(), size, error)) return 0;
            inputAt_ += size;
            pending_ = input_.get();
            pendingSize_ = size;
        }
        const std::size_t before = room;
        if (inflater_->inflate(pending_, pendingSize_, out, room) != GzipInflater::Result::Progress) {
            damaged_ = true;
            position_ += static_cast<std::size_t>(out - first);  // where the good data ends
            error = "part " + path_ + " is not a complete library: its gzip data is damaged (found by compressed byte " +
                    std::to_string(inputAt_ - pendingSize_) + ")";
            return 0;
        }
        if (room == before && pendingSize_ == 0 && inputAt_ >= file_.size()) {
            if (!inflater_->atMemberEnd()) {
                damaged_ = true;
                position_ += static_cast<std::size_t>(out - first);
                error = "part " + path_ + " is not a complete library: its gzip data is cut short";
                return 0;
            }
            break;
        }
    }
    const auto made = static_cast<std::size_t>(out - first);
    position_ += made;
    return made;
}

const std::uint8_t* PartReader::next(std::size_t& size, std::string& error) {
    if (!inflater_) {
        size = static_cast<std::size_t>(std::min<std::uint64_t>(file_.size() - position_, PartFile::kViewSize));
        static const std::uint8_t kEnd = 0;
        if (size == 0) return &kEnd;
        const std::uint8_t* bytes = file_.view(position_, size, error);
        if (bytes != nullptr) position_ += size;
        return bytes;
    }
    size = inflate(piece_.get(), PartFile::kViewSize, error);
    return size == 0 && !error.empty() ? nullptr : piece_.get();
}

bool PartReader::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::string& error) {
    if (!inflater_) return file_.readAt(offset, buffer, size, error);
    if (offset < position_ && !restart(error)) return false;
    while (position_ < offset) {
        const auto skip = static_cast<std::size_t>(std::min<std::uint64_t>(offset - position_, PartFile::kViewSize));
        if (inflate(piece_.get(), skip, error) != skip) break;
    }
    while (position_ == offset && size > 0) {
        const std::size_t got = inflate(buffer, size, error);
        if (got == 0) break;
        buffer += got;
        size -= got;
        offset += got;
    }
    if (size == 0) return true;
    if (error.empty()) error = "cannot read part " + path_ + ": it ended before byte " + std::to_string(offset + size);
    return false;
}

}  // namespace carvelle::merge
