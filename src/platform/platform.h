// SPDX-License-Identifier: MIT
#pragma once

// The few services the library takes from the operating system, one
// implementation per platform, chosen at build time (platform_posix.cpp,
// platform_windows.cpp); the files are declared in files.h.
//
// How the C++ code reports failure, everywhere: no function of ours throws.
// A failure is a returned value (a ResultCode in the library, a bool in the
// encoders, the files and the merge), and the object that owns the
// operation keeps the first one (ByteSink, GzipWriter, OutputFile and
// Output keep a flag or the system's code; the merge keeps its message), so
// that later calls fail alike and the end of the operation reports it once.
// Exceptions would have to be caught at the C boundary anyway, and a thread
// of the compressor has no caller to throw to. Memory comes from nothrow new;
// where a standard container grows, its std::bad_alloc is caught at that one
// place (the merge, whose strings and tables grow throughout, catches it once
// at its entry point).

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "platform/files.h"

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

// The processors this process may run on: its affinity mask (Linux,
// Windows) bounded by its cgroup's CPU quota (Linux, cpu.max, rounded up);
// at least 1.
unsigned usableProcessors() noexcept;

// Forks of this process's image: 0 in the process that was started, one
// more in each child of a fork (counted by a pthread_atfork handler; never
// counted on Windows, which has no fork). A child holds a copy of its
// parent's buffers but not its threads, and a lock that a thread of the
// parent held at the fork stays held in the child for good; the file
// descriptors are shared. An object that writes a file keeps the count of
// its open (a ProcessMark) and, in a child, neither writes, flushes, waits
// for a thread nor takes a lock: it frees its memory and closes its copy of
// the descriptor, and the parent's file stays as the parent writes it.
extern std::atomic<std::uint32_t> forkCount;

class ProcessMark {
public:
    // The process that is running now.
    void take() noexcept { forks_ = forkCount.load(std::memory_order_relaxed); }
    // True in a child of a fork made after take(): one load, cheap enough
    // for every element.
    bool forked() const noexcept { return forkCount.load(std::memory_order_relaxed) != forks_; }

private:
    std::uint32_t forks_ = 0;
};

}  // namespace carvelle
