// SPDX-License-Identifier: MIT
#include "merge/merge_files.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <csignal>

#include "platform/platform.h"

namespace carvelle::merge {
namespace {

std::string failure(const std::string& what, const std::string& path) {
    const DWORD code = GetLastError();
    char text[256] = {0};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                   sizeof text, nullptr);
    std::string reason(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return std::string(what) + " " + path + ": " + (reason.empty() ? "error " + std::to_string(code) : reason);
}

// A name as the library opens it: UTF-8 beyond ASCII through the wide calls, any other name read in the code
// page of the narrow calls, a long one behind \\?\.
std::wstring wide(const std::string& name) { return nativePath(name.c_str()).wstring(); }

std::int64_t ticks(const FILETIME& time) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
}

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile take at most a DWORD at a time.
DWORD chunkOf(std::size_t size) { return size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size); }

}  // namespace

bool PartFile::open(const std::string& path, std::string& error) {
    close();
    path_ = path;
    const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("cannot open part", path);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    // A pipe or a console reads as a stream that may never end.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        close();
        error = "cannot open part " + path + ": not a regular file";
        return false;
    }
    if (!identify(identity_, error)) {
        close();
        return false;
    }
    return true;
}

bool PartFile::identify(FileIdentity& identity, std::string& error) {
    BY_HANDLE_FILE_INFORMATION information{};
    FILE_BASIC_INFO basic{};
    const HANDLE file = handleOf(handle_);
    if (!GetFileInformationByHandle(file, &information) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        error = failure("cannot read part", path_);
        return false;
    }
    identity.device = information.dwVolumeSerialNumber;
    identity.file = static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    identity.size = static_cast<std::uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    identity.modified = ticks(information.ftLastWriteTime);
    identity.changed = basic.ChangeTime.QuadPart;
    return true;
}

std::size_t PartFile::read(std::uint8_t* buffer, std::size_t capacity, std::string& error) {
    DWORD got = 0;
    if (!ReadFile(handleOf(handle_), buffer, chunkOf(capacity), &got, nullptr)) {
        error = failure("cannot read part", path_);
        return 0;
    }
    return got;
}

bool PartFile::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::string& error) {
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(handleOf(handle_), buffer, chunkOf(size), &got, &at) || got == 0) {
            error = failure("cannot read part", path_);
            return false;
        }
        buffer += got;
        size -= got;
        offset += got;
    }
    return true;
}

void PartFile::close() {
    if (handle_ != -1) CloseHandle(handleOf(handle_));
    handle_ = -1;
}

bool OutputFile::create(const std::string& path, std::string& error) {
    discard();
    // A name of our own beside the real one, so that the rename stays within one volume.
    for (unsigned attempt = 0;; ++attempt) {
        temporary_ = path + ".merging-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        const HANDLE file = CreateFileW(wide(temporary_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            path_ = path;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    error = failure("cannot create", temporary_);
    temporary_.clear();
    return false;
}

bool OutputFile::write(const std::uint8_t* bytes, std::size_t size, std::string& error) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handleOf(handle_), bytes, chunkOf(size), &written, nullptr) || written == 0) {
            error = failure("cannot write", temporary_);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

// Windows has no copy between two open files at offsets.
bool OutputFile::copy(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error) {
    return copyThroughBuffer(part, offset, size, error);
}

bool OutputFile::close(std::string& error) {
    const HANDLE file = handleOf(handle_);
    handle_ = -1;
    if (!CloseHandle(file)) {
        error = failure("cannot write", temporary_);
        return false;
    }
    return true;
}

bool OutputFile::complete(std::string& error) {
    if (!close(error)) return false;
    if (!MoveFileExW(wide(temporary_).c_str(), wide(path_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = failure("cannot rename " + temporary_ + " to", path_);
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::discard() {
    if (handle_ != -1) CloseHandle(handleOf(handle_));
    handle_ = -1;
    if (!temporary_.empty()) DeleteFileW(wide(temporary_).c_str());
    temporary_.clear();
}

namespace {

volatile LONG pendingSignal = 0;
LONG guards = 0;
CRITICAL_SECTION* guardLock() {
    static CRITICAL_SECTION lock;
    static const bool ready = (InitializeCriticalSection(&lock), true);
    (void)ready;
    return &lock;
}

BOOL WINAPI markInterrupted(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    InterlockedExchange(&pendingSignal, event == CTRL_BREAK_EVENT ? SIGBREAK : SIGINT);
    return TRUE;
}

}  // namespace

SignalGuard::SignalGuard() {
    EnterCriticalSection(guardLock());
    if (guards++ == 0) {
        pendingSignal = 0;
        SetConsoleCtrlHandler(markInterrupted, TRUE);
    }
    LeaveCriticalSection(guardLock());
}

SignalGuard::~SignalGuard() {
    EnterCriticalSection(guardLock());
    if (--guards == 0) {
        SetConsoleCtrlHandler(markInterrupted, FALSE);
        if (const LONG signal = InterlockedExchange(&pendingSignal, 0)) std::raise(static_cast<int>(signal));
    }
    LeaveCriticalSection(guardLock());
}

bool SignalGuard::interrupted() { return pendingSignal != 0; }

}  // namespace carvelle::merge
