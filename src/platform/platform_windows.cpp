// SPDX-License-Identifier: MIT
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace carvelle {

LocalTime readLocalTime() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

bool OutputFile::open(const char* name) {
    close();
    // A share mode that denies nothing: other processes may read or write the
    // file while the library writes it.
    const HANDLE file = CreateFileA(name, GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool OutputFile::close() {
    if (!isOpen()) return true;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    handle_ = kClosed;
    return CloseHandle(file) != 0;
}

}  // namespace carvelle
