// SPDX-License-Identifier: MIT
#pragma once

// The files of the library and of the merge, one implementation per
// platform (platform_posix.cpp, platform_windows.cpp) and the parts that are
// the same everywhere (files.cpp): an output written under its own name or
// beside it, and the parts that a merge reads.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace carvelle {

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
    // view or close. Null on failure (error set). A buffer that stays in the cache between the read and the walk
    // costs less than a larger one (0.54 s of CPU against 0.83 s for 4 parts of 195 MB).
    static constexpr std::size_t kViewSize = std::size_t{256} << 10;
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

// A file opened for binary output, write only, without denying other
// processes read access, in one of two ways:
// - open: created or cut to length 0 under its own name (the library's
//   files). POSIX takes the name's bytes as they are; Windows reads a name
//   that is valid UTF-8 as UTF-8 and any other in the ANSI code page, and
//   reaches paths beyond 259 characters through the \\?\ prefix.
// - openBeside: created beside path, and given path by close (the merge's
//   output, which must not exist under its real name before it is
//   complete); one never closed is removed. A symbolic link at path is
//   followed once, at the open: its final target is written, the link
//   stays. Anything else that is not a regular file (a device, a FIFO, a
//   folder) is refused before anything is written, and close never renames
//   over such a file. On Linux the file has no name until close (O_TMPFILE,
//   then linkat), so a killed process leaves nothing; where that is refused
//   it is named PATH.merging-PID-N, and such files of processes that no
//   longer run are removed at the next open beside the same path (on
//   Windows, where every such file is named, too).
// The first failure is kept, with the system's reason: close reports it and
// failure() says why. A later write is still tried: whoever writes (ByteSink,
// GzipWriter, the merge) stops at its own first failure.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { discard(); }

    bool open(const char* name);
    bool openBeside(const std::string& path);
    bool isOpen() const { return handle_ != kClosed; }
    // Writes all size bytes or reports false.
    bool write(const void* data, std::size_t size);
    // Appends size bytes of part from offset: copied by the kernel where it can, through a buffer elsewhere.
    // False with why in error (the part's reason, or failure()).
    bool copy(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error);
    // Closes the file if one is open, and gives a file opened beside its name that name; false when the
    // platform reports a failure (for example a deferred write error) or an earlier call failed.
    bool close();
    // Closes without renaming, and removes a temporary file.
    void discard();
    // In the child of a fork: closes this process's descriptor and nothing
    // more; a temporary file beside the name is the parent's, and stays.
    void abandon();
    bool failed() const { return step_ != Step::None; }
    // Bytes written since the open.
    std::uint64_t written() const { return written_; }
    // "cannot write NAME: REASON", as the merge reports it; empty when nothing failed.
    std::string failure() const;

private:
    static constexpr std::intptr_t kClosed = -1;
    enum class Step : std::uint8_t { None,
                                     Create,
                                     Write,
                                     Rename,
                                     NotRegular };

    // Keeps the first failure and the system's code for it; returns false.
    bool fail(Step step);
    // The system's words for code.
    static std::string reason(unsigned long code);
    bool copyThroughBuffer(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error);
    bool closeHandle();
    // The named temporary beside path_, and the name given to an unnamed one
    // (POSIX only).
    bool createTemporary();
    bool nameUnnamed();

    std::intptr_t handle_ = kClosed;
    std::uint64_t written_ = 0;
    Step step_ = Step::None;
    unsigned long code_ = 0;  // errno or GetLastError() of the first failure
    bool beside_ = false;     // temporary_ is ours, to rename or remove
    bool unnamed_ = false;    // beside, and still without a name (O_TMPFILE)
    std::string path_, temporary_;

    // Which of the platform's ways to copy between two files still works here, best first (0); the ways are the
    // platform file's own.
    std::uint8_t copier_ = 0;
    bool serverCopies_ = false;  // a network file system that copies on the server
    std::unique_ptr<std::uint8_t[]> buffer_;
};

// For the tests: openBeside names its file from the start, as where
// O_TMPFILE is refused. Set before a merge, never during one.
extern bool namedTemporaryOnly;

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

}  // namespace carvelle
