// SPDX-License-Identifier: MIT
// carvelle-merge OUT PART...: joins part libraries into one library (see
// carvelle_merge.hpp). Exit status 0 when OUT was written, 11 to 20 when the
// merge was refused or failed (10 + the MergeFailure; OUT is then
// untouched), 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "carvelle_merge.hpp"
#include "gds_api.h"
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: carvelle-merge [-v] OUT PART...\n"
    "Writes every structure of the part libraries, in order, into the library OUT.\n"
    "The parts must share their UNITS; a structure that several parts define alike is written once.\n"
    "  -v, --verbose  print what was written: OUT: BYTES bytes, STRUCTURES structures\n"
    "Exit status: 0 written, 2 usage, 11 to 20 refused (see carvelle-merge(1)).\n";

// The arguments as UTF-8, whatever the platform.
int run(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    bool options = true, verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (options && (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--verbose") == 0)) {
            verbose = true;
        } else if (options && std::strcmp(argv[i], "--version") == 0) {
            std::printf("carvelle-merge %d.%d.%d\n", CARVELLE_VERSION_MAJOR, CARVELLE_VERSION_MINOR,
                        CARVELLE_VERSION_PATCH);
            return 0;
        } else if (options && argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "carvelle-merge: unknown option %s (a name that starts with '-' goes after --)\n%s",
                         argv[i], kUsage);
            return carvelle::kMergeUsageExitStatus;
        } else {
            arguments.emplace_back(argv[i]);
        }
    }
    if (arguments.size() < 2) {
        std::fputs(kUsage, stderr);
        return carvelle::kMergeUsageExitStatus;
    }
    const std::string output = arguments.front();
    arguments.erase(arguments.begin());
    const carvelle::MergeResult result = carvelle::merge_libraries(output, arguments);
    if (!result) {
        std::fprintf(stderr, "carvelle-merge: %s\n", result.message.c_str());
        return carvelle::merge_exit_status(result.failure);
    }
    if (verbose) {
        std::printf("%s: %llu bytes, %llu structures\n", output.c_str(), static_cast<unsigned long long>(result.bytes),
                    static_cast<unsigned long long>(result.structures));
    }
    return 0;
}

}  // namespace

#if defined(_WIN32)
// The narrow arguments of main hold names in the ANSI code page, where a name beyond it is lost before any code
// of ours sees it: the wide ones go on as UTF-8, which the merge opens through the wide calls.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> utf8(static_cast<std::size_t>(argc));
    std::vector<const char*> pointers(static_cast<std::size_t>(argc) + 1, nullptr);
    for (int i = 0; i < argc; ++i) {
        std::string& text = utf8[static_cast<std::size_t>(i)];
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        text.resize(size > 0 ? static_cast<std::size_t>(size) : 1);
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), size, nullptr, nullptr);
        text.resize(std::strlen(text.c_str()));
        pointers[static_cast<std::size_t>(i)] = text.c_str();
    }
    return run(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
