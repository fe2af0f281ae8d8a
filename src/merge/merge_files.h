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

// What tells a file from another and a file from itself rewritten: compared when a part is opened again and
// when its reading ends, so that a part replaced or rewritten while it is merged is refused.
struct FileIdentity {
    std::uint64_t device = 0, file = 0, size = 0;
    std::int64_t modified = 0, changed = 0;  // nanoseconds, or the platform's own ticks
    bool operator==(const FileIdentity& other) const {
        return device == other.device && file == other.file && size == other.size && modified == other.modified &&
               changed == other.changed;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// A part: read from its start to its end, or at given offsets. Never mapped: a mapped part that another process
// cuts short kills the reader with a signal, where a read reports it.
class PartFile {
public:
    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() { close(); }

    // False with why in error. Anything but a regular file (a FIFO, a device, a folder) is refused before a
    // read can wait on it.
    bool open(const std::string& path, std::string& error);
    std::uint64_t size() const { return identity_.size; }
    const FileIdentity& identity() const { return identity_; }
    // False, with error, when the file is no longer what open found.
    bool unchanged(std::string& error);
    // Reads up to capacity bytes at the file position; 0 at the end of the file or on failure (error set).
    std::size_t read(std::uint8_t* buffer, std::size_t capacity, std::string& error);
    // Reads exactly size bytes from offset, whatever the file position.
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::string& error);
    // The size bytes from offset (at most kViewSize), read into a buffer of the file's own, valid until the next
    // view or close. Null on failure (error set).
    static constexpr std::size_t kViewSize = std::size_t{4} << 20;
    const std::uint8_t* view(std::uint64_t offset, std::size_t size, std::string& error);
    void close();

private:
    friend class OutputFile;
    bool identify(FileIdentity& identity, std::string& error);

    std::intptr_t handle_ = -1;
    std::string path_;
    FileIdentity identity_;
    std::unique_ptr<std::uint8_t[]> viewBuffer_;
};

// While one lives, SIGINT and SIGTERM (Ctrl-C and Ctrl-Break on Windows) only mark the merge interrupted, and a
// write past the file-size limit fails with an error instead of killing the process. The last one to go puts
// the previous handlers back and then delivers the signal that came meanwhile, so the host still sees it.
class SignalGuard {
public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;
    static bool interrupted();
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

// Called, when set, once the parts' heads are read and the output's head is written: a test changes a part, or
// sends a signal, there.
extern void (*afterHead)();

}  // namespace carvelle::merge
