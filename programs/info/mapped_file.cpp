// SPDX-License-Identifier: MIT
#include "info/mapped_file.h"

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

namespace info {

#if defined(__unix__) || defined(__APPLE__)
namespace {

// 8 MiB: a window's map and unmap cost little beside its pages, and a smaller window leaves fewer pages mapped
// at once (a whole-file map of 1.2 GB cost 0.08 s of system time, 8 MiB windows 0.05 s).
constexpr std::size_t kWindow = std::size_t{8} << 20;

// The window being walked and what to say if its file is cut short under it, for the SIGBUS handler.
std::atomic<const std::uint8_t*> faultBegin{nullptr};
std::atomic<std::size_t> faultSize{0};
char faultMessage[512];
std::size_t faultMessageSize = 0;

extern "C" void onBusError(int, siginfo_t* info, void*) {
    const auto* at = static_cast<const std::uint8_t*>(info->si_addr);
    const std::uint8_t* begin = faultBegin.load();
    if (begin != nullptr && at >= begin && at < begin + faultSize.load()) {
        [[maybe_unused]] const ssize_t written = ::write(2, faultMessage, faultMessageSize);
        ::_exit(2);
    }
    // Not ours: the default action, once the access runs again.
    ::signal(SIGBUS, SIG_DFL);
}

void catchBusErrors(const std::string& path) {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    (void)installed;
    const int length = std::snprintf(faultMessage, sizeof faultMessage,
                                     "carvelle-info: %s: cannot read the file: it was cut short while it was read\n", path.c_str());
    faultMessageSize = std::min(static_cast<std::size_t>(std::max(length, 0)), sizeof faultMessage - 1);
}

}  // namespace

bool MappedFile::open(const std::string& path) {
    close();
    handle_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (handle_ < 0 || ::fstat(handle_, &status) != 0 || !S_ISREG(status.st_mode)) {
        close();
        return false;
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
    position_ = 0;
    // What is printed of earlier files is written out first: the handler ends the program without flushing.
    std::fflush(stdout);
    catchBusErrors(path);
    return true;
}

bool MappedFile::next(const std::uint8_t*& bytes, std::size_t& size, std::string& error) {
    unmap();
    bytes = nullptr;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size_ - position_, kWindow));
    if (size == 0) return true;
    void* window = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, handle_, static_cast<off_t>(position_));
    if (window == MAP_FAILED) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    ::madvise(window, size, MADV_SEQUENTIAL);
    window_ = window;
    windowSize_ = size;
    position_ += size;
    faultSize.store(size);
    bytes = static_cast<const std::uint8_t*>(window);
    faultBegin.store(bytes);
    return true;
}

void MappedFile::unmap() {
    if (window_ == nullptr) return;
    faultBegin.store(nullptr);
    ::munmap(window_, windowSize_);
    window_ = nullptr;
}

void MappedFile::close() {
    unmap();
    if (handle_ >= 0) ::close(handle_);
    handle_ = -1;
}

#else

// Windows: the file is read.
bool MappedFile::open(const std::string&) { return false; }
bool MappedFile::next(const std::uint8_t*& bytes, std::size_t& size, std::string&) {
    bytes = nullptr;
    size = 0;
    return true;
}
void MappedFile::unmap() {}
void MappedFile::close() {}

#endif

}  // namespace info
