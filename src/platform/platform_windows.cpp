// SPDX-License-Identifier: MIT
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

namespace carvelle {

LocalTime readLocalTime() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

namespace {

// Names of more characters than this fail unless they begin with \\?\, which
// lifts the limit to 32767 but also turns off the system's normalisation.
constexpr DWORD kMaxPlainPathLength = MAX_PATH - 1;

// A share mode that denies nothing: other processes may read or write the
// file while the library writes it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE createFile(const char* name) {
    return CreateFileA(name, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE createFile(const wchar_t* name) {
    return CreateFileW(name, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Most hosts hold UTF-8 (Python, Rust, Go, SQLite's callers); older ones hold
// the ANSI code page. Pure ASCII reads the same either way, and text in an
// ANSI code page is rarely valid UTF-8 once it holds a byte above 127.
bool isUtf8BeyondAscii(const char* name) {
    bool beyondAscii = false;
    for (const char* c = name; *c != '\0' && !beyondAscii; ++c) beyondAscii = static_cast<unsigned char>(*c) > 127;
    return beyondAscii && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0) > 0;
}

// The code page in which CreateFileA reads names.
UINT narrowFileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

using WideName = std::unique_ptr<wchar_t[]>;

// No exception may leave the library, so the buffers come from nothrow new.
WideName allocateWide(std::size_t length) { return WideName(new (std::nothrow) wchar_t[length]); }

WideName widen(const char* name, UINT codePage) {
    const int length = MultiByteToWideChar(codePage, 0, name, -1, nullptr, 0);
    if (length <= 0) return nullptr;
    WideName wide = allocateWide(static_cast<std::size_t>(length));
    if (wide && MultiByteToWideChar(codePage, 0, name, -1, wide.get(), length) != length) wide.reset();
    return wide;
}

bool startsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// \\?\ and \\.\ names (or //?/, //./) already bypass the plain rules.
bool isVerbatimOrDevice(const wchar_t* path) {
    return (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/') &&
           (path[2] == L'?' || path[2] == L'.') && (path[3] == L'\\' || path[3] == L'/');
}

// Null when name opens as it is. Otherwise its full path exceeds the limit:
// GetFullPathNameW first does what \\?\ turns off (a relative name joins the
// current folder, as the plain open would join it; / becomes \; . and ..
// go), then the prefix goes in front: \\?\C:\... or, for \\server\share,
// \\?\UNC\server\share.
WideName longPathName(const wchar_t* name) {
    if (isVerbatimOrDevice(name)) return nullptr;
    const DWORD size = GetFullPathNameW(name, 0, nullptr, nullptr);
    if (size == 0 || size - 1 <= kMaxPlainPathLength) return nullptr;
    const WideName full = allocateWide(size);
    if (!full) return nullptr;
    const DWORD length = GetFullPathNameW(name, size, full.get(), nullptr);
    if (length == 0 || length >= size || isVerbatimOrDevice(full.get())) return nullptr;
    const bool unc = startsWith(full.get(), L"\\\\");
    const wchar_t* const prefix = unc ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    const wchar_t* const rest = unc ? full.get() + 2 : full.get();
    const std::size_t prefixLength = std::wcslen(prefix);
    const std::size_t restLength = std::wcslen(rest);
    WideName verbatim = allocateWide(prefixLength + restLength + 1);
    if (verbatim) {
        std::wmemcpy(verbatim.get(), prefix, prefixLength);
        std::wmemcpy(verbatim.get() + prefixLength, rest, restLength + 1);
    }
    return verbatim;
}

}  // namespace

// A UTF-8 name opens through the wide call; any other name goes to
// CreateFileA as it is. A name whose full path is too long for either goes
// behind \\?\, read in the same code page that the plain open would use.
bool OutputFile::open(const char* name) {
    close();
    const bool utf8 = isUtf8BeyondAscii(name);
    const WideName wide = widen(name, utf8 ? CP_UTF8 : narrowFileCodePage());
    if (!wide && utf8) return false;
    const WideName verbatim = wide ? longPathName(wide.get()) : nullptr;
    const HANDLE file = verbatim ? createFile(verbatim.get()) : utf8 ? createFile(wide.get())
                                                                     : createFile(name);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

std::filesystem::path nativePath(const char* name) {
    const bool utf8 = isUtf8BeyondAscii(name);
    const WideName wide = widen(name, utf8 ? CP_UTF8 : narrowFileCodePage());
    if (!wide) return std::filesystem::path(name);
    const WideName verbatim = longPathName(wide.get());
    return std::filesystem::path(verbatim ? verbatim.get() : wide.get());
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
