// SPDX-License-Identifier: MIT
// The operating system's services on Windows: the clock, names, the output
// and part files, and the console events of a merge.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cwchar>
#include <memory>
#include <new>

#include "platform/files.h"
#include "platform/platform.h"

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

unsigned usableProcessors() noexcept {
    DWORD_PTR process = 0, system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (; process != 0; process &= process - 1) ++count;
    }
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count > 0 ? count : 1;
}

// Every temporary is named here.
bool namedTemporaryOnly = true;

// Windows has no fork: the count stays 0.
std::atomic<std::uint32_t> forkCount{0};

std::filesystem::path nativePath(const char* name) {
    const bool utf8 = isUtf8BeyondAscii(name);
    const WideName wide = widen(name, utf8 ? CP_UTF8 : narrowFileCodePage());
    if (!wide) return std::filesystem::path(name);
    const WideName verbatim = longPathName(wide.get());
    return std::filesystem::path(verbatim ? verbatim.get() : wide.get());
}

namespace {

std::string partFailure(const std::string& what, const std::string& path) {
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

// True unless the process is known to have ended (one that cannot be asked runs).
bool processRuns(DWORD id) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool runs = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

// Removes PATH.merging-PID-N files beside path whose process no longer runs:
// left by a merge that was killed. Windows has no file without a name to
// write instead; a file a live merge holds open cannot be deleted anyway.
void removeStaleTemporaries(const std::string& path) {
    const std::wstring pattern = wide(path + ".merging-*");
    const std::size_t slash = pattern.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : pattern.substr(0, slash + 1);
    const std::wstring prefix = pattern.substr(folder.size(), pattern.size() - folder.size() - 1);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        wchar_t* end = nullptr;
        const unsigned long id = std::wcstoul(name.c_str() + prefix.size(), &end, 10);
        if (id == 0 || *end != L'-' || id == GetCurrentProcessId() || processRuns(id)) continue;
        DeleteFileW((folder + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// ReadFile and WriteFile take at most a DWORD at a time.
DWORD chunkOf(std::size_t size) { return size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size); }

}  // namespace

bool PartFile::open(const std::string& path, std::string& error) {
    close();
    path_ = path;
    const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = partFailure("cannot open part", path);
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
        error = partFailure("cannot read part", path_);
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
        error = partFailure("cannot read part", path_);
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
            error = partFailure("cannot read part", path_);
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

bool OutputFile::fail(Step step) {
    if (step_ == Step::None) {
        step_ = step;
        code_ = GetLastError();
    }
    return false;
}

std::string OutputFile::reason(unsigned long code) {
    char text[256] = {0};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                   text, sizeof text, nullptr);
    std::string words(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) words.pop_back();
    return words.empty() ? "error " + std::to_string(code) : words;
}

// A UTF-8 name opens through the wide call; any other name goes to
// CreateFileA as it is. A name whose full path is too long for either goes
// behind \\?\, read in the same code page that the plain open would use.
bool OutputFile::open(const char* name) {
    discard();
    step_ = Step::None;
    written_ = 0;
    const bool utf8 = isUtf8BeyondAscii(name);
    const WideName wide = widen(name, utf8 ? CP_UTF8 : narrowFileCodePage());
    if (!wide && utf8) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return fail(Step::Create);
    }
    const WideName verbatim = wide ? longPathName(wide.get()) : nullptr;
    const HANDLE file = verbatim ? createFile(verbatim.get()) : utf8 ? createFile(wide.get())
                                                                     : createFile(name);
    if (file == INVALID_HANDLE_VALUE) return fail(Step::Create);
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool OutputFile::openBeside(const std::string& path) {
    discard();
    step_ = Step::None;
    written_ = 0;
    // A folder is refused, never replaced (a reparse point is followed by
    // the rename as by any other writer here).
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        path_ = path;
        SetLastError(ERROR_DIRECTORY);
        return fail(Step::NotRegular);
    }
    removeStaleTemporaries(path);
    // A name of our own beside the real one, so that the rename stays within one volume.
    for (unsigned attempt = 0;; ++attempt) {
        temporary_ = path + ".merging-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        const HANDLE file = CreateFileW(wide(temporary_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            path_ = path;
            beside_ = true;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return fail(Step::Create);
}

bool OutputFile::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    const HANDLE file = handleOf(handle_);
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD wrote = 0;
        if (!WriteFile(file, bytes, chunkOf(size), &wrote, nullptr) || wrote == 0) return fail(Step::Write);
        bytes += wrote;
        size -= wrote;
        written_ += wrote;
    }
    return true;
}

// Windows has no copy between two open files at offsets.
bool OutputFile::copy(PartFile& part, std::uint64_t offset, std::uint64_t size, std::string& error) {
    return copyThroughBuffer(part, offset, size, error);
}

bool OutputFile::closeHandle() {
    const HANDLE file = handleOf(handle_);
    handle_ = kClosed;
    return CloseHandle(file) != 0;
}

bool OutputFile::close() {
    if (!isOpen()) return !failed();
    if (!closeHandle()) fail(Step::Write);
    if (!beside_ || failed()) return !failed();
    if (!MoveFileExW(wide(temporary_).c_str(), wide(path_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return fail(Step::Rename);
    }
    beside_ = false;
    return true;
}

void OutputFile::discard() {
    if (isOpen()) CloseHandle(handleOf(handle_));
    handle_ = kClosed;
    if (beside_) DeleteFileW(wide(temporary_).c_str());
    beside_ = false;
}

// Never in a child here (no fork), but the same meaning as on POSIX.
void OutputFile::abandon() {
    if (isOpen()) CloseHandle(handleOf(handle_));
    handle_ = kClosed;
    beside_ = false;
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

}  // namespace carvelle
