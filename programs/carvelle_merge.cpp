// SPDX-License-Identifier: MIT
// carvelle-merge OUT PART...: joins part libraries into one library (see
// carvelle_merge.hpp). Exit status 0 when OUT was written, 11 to 23 when the
// merge was refused or failed (10 + the MergeFailure; OUT is then
// untouched), 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "carvelle_merge.hpp"
#include "gds_api.h"
#include "tool_main.h"

namespace {

constexpr const char* kUsage =
    "usage: carvelle-merge [-v] OUT PART...\n"
    "Writes every structure of the part libraries, in order, into the library OUT.\n"
    "The parts must share their UNITS; a structure that several parts define alike is written once.\n"
    "  -v, --verbose  print what was written: OUT: BYTES bytes, STRUCTURES structures\n"
    "Exit status: 0 written, 2 usage, 12 to 23 refused (see carvelle-merge(1)).\n";

}  // namespace

int runTool(int argc, const char* const* argv) {
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
