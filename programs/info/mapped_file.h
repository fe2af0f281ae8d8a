// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace info {

// A plain file's bytes, mapped a window at a time instead of read into a buffer: the walk reads the page cache
// itself and the kernel copies nothing. That copy is nearly all of cat's CPU, and was a third of this tool's on
// a file of mixed elements. The library's own readers never map (a part cut short while mapped raises a signal
// in its host); this tool can: a file another process cuts short under a window raises SIGBUS at the first page
// past the new end, and the handler says which file and ends the program with status 2.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() { close(); }

    // False where a map is not to be had (no POSIX mmap, not a regular file, a refused map): then the caller
    // reads the file instead, so every failure is reported as a read reports it.
    bool open(const std::string& path);
    std::uint64_t size() const { return size_; }
    // The next window of the file, valid until the next call; size 0 at the end. False, with the system's
    // reason in error, when a window cannot be mapped.
    bool next(const std::uint8_t*& bytes, std::size_t& size, std::string& error);
    void close();

private:
    void unmap();

    int handle_ = -1;
    std::uint64_t size_ = 0, position_ = 0;
    void* window_ = nullptr;
    std::size_t windowSize_ = 0;
};

}  // namespace info
