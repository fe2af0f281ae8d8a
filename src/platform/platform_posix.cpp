// SPDX-License-Identifier: MIT
#include "platform/platform.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace carvelle {

LocalTime readLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour, local.tm_min, local.tm_sec};
}

std::filesystem::path nativePath(const char* name) { return std::filesystem::path(name); }

bool OutputFile::open(const char* name) {
    close();
    int fd;
    do {
        fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    handle_ = fd;
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    const int fd = static_cast<int>(handle_);
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::close() {
    if (!isOpen()) return true;
    const int fd = static_cast<int>(handle_);
    handle_ = kClosed;
    // POSIX leaves the descriptor closed even when close reports EINTR:
    // never retry, but do report it.
    return ::close(fd) == 0;
}

}  // namespace carvelle
