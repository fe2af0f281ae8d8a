// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "encoding/gzip_writer.h"
#include "merge/merge_files.h"

namespace carvelle::merge {

// The output file, or, when its name ends in .gz, a gzip file compressed on worker threads as the bytes come.
class Output {
public:
    bool create(const std::string& path, std::string& error);
    bool gzip() const { return gzip_ != nullptr; }
    // The compressed bytes written, once complete.
    std::uint64_t compressedSize() const { return written_; }
    OutputFile& file() { return file_; }
    bool write(const std::uint8_t* bytes, std::size_t size, std::string& error) {
        if (!gzip_) return file_.write(bytes, size, error);
        return gzip_->write(bytes, size) || failed(error);
    }
    bool complete(std::string& error);

private:
    // Called by one of the compressor's threads at a time.
    static bool put(void* context, const void* data, std::size_t size);
    bool failed(std::string& error);

    OutputFile file_;
    std::string path_, writeError_;
    std::uint64_t written_ = 0;
    std::unique_ptr<GzipWriter> gzip_;  // gone, with its threads, before the file
};

}  // namespace carvelle::merge
