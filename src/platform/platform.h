// SPDX-License-Identifier: MIT
#pragma once

// The few services the library takes from the operating system, one
// implementation per platform, chosen at build time.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace carvelle {

struct LocalTime {
    int year;    // e.g. 2026
    int month;   // 1 to 12
    int day;     // 1 to 31
    int hour;    // 0 to 23
    int minute;  // 0 to 59
    int second;  // 0 to 59
};

// One thread-safe reading of the local (not universal) time.
LocalTime readLocalTime();

// A file name as a host gives it, as std::filesystem and the platform's file
// calls take it: on Windows read as OutputFile::open reads it (UTF-8, else the
// ANSI code page; a full path beyond 259 characters behind \\?\), elsewhere
// its bytes as they are. For the tools beside the library: it may throw
// std::bad_alloc, which the library's own calls never do.
std::filesystem::path nativePath(const char* name);

// A file opened for binary output: created or cut to length 0, write only,
// without denying other processes read or write access. POSIX takes the
// name's bytes as they are; Windows reads a name that is valid UTF-8 as
// UTF-8 and any other in the ANSI code page, and reaches paths beyond 259
// characters through the \\?\ prefix.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { close(); }

    bool open(const char* name);
    bool isOpen() const { return handle_ != kClosed; }
    // Writes all size bytes or reports false.
    bool write(const void* data, std::size_t size);
    // Closes the file if one is open; false when the platform reports a
    // failure (for example a deferred write error).
    bool close();

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
};

}  // namespace carvelle
