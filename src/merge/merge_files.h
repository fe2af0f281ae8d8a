// SPDX-License-Identifier: MIT
#pragma once

// The file services of the merge, one implementation per platform: parts
// read in order, and an output that exists under its real name only once
// it is complete.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace carvelle::merge {

// A part: read from its start to its end, or at given offsets.
class PartFile {
public:
    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() { close(); }

    // False with why in error.
    bool open(const std::string& path, std::string& error);
    std::uint64_t size() const { return size_; }
    // Reads up to capacity bytes at the file position; 0 at the end of the file or on failure (error set).
    std::size_t read(std::uint8_t* buffer, std::size_t capacity, std::string& error);
    // Reads exactly size bytes from offset, whatever the file position.
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::string& error);
    // The size bytes from offset (at most kViewSize), valid until the next view or close: mapped where the
    // platform can map the file, read into a buffer elsewhere. Null on failure (error set).
    static constexpr std::size_t kViewSize = std::size_t{4} << 20;
    const std::uint8_t* view(std::uint64_t offset, std::size_t size, std::string& error);
    void close();

private:
    friend class OutputFile;
    // Maps size bytes from offset; null where that cannot be done.
    const std::uint8_t* map(std::uint64_t offset, std::size_t size);
    void unmap();

    std::intptr_t handle_ = -1;
    std::string path_;
    std::uint64_t size_ = 0;
    void* mapped_ = nullptr;
    std::size_t mappedSize_ = 0;
    std::unique_ptr<std::uint8_t[]> viewBuffer_;
};

// The output, written under a temporary name beside its real one.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // An output never completed is removed.
    ~OutputFile() { discard(); }

    bool create(const std::string& path, std::string& error);
    bool write(const std::uint8_t* bytes, std::size_t size, std::string& error);
    // Appends size bytes of part from offset: copied by the kernel where it can, through a buffer elsewhere.
    bool copy(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error);
    // Closes the file and gives it its real name.
    bool complete(std::string& error);
    void discard();

private:
    bool close(std::string& error);

    std::intptr_t handle_ = -1;
    std::string path_, temporary_;
    bool copyThroughBuffer(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error);

    enum class Copier {
        Range,
        SendFile,
        Buffer
    };
    Copier copier_ = Copier::Range;
    bool serverCopies_ = false;  // a network file system that copies on the server
    std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace carvelle::merge
