// SPDX-License-Identifier: MIT
// carvelle-info [--json] [--properties] FILE...: what a GDSII library holds, per structure
// (elements by kind and by layer, bounding box, references) and as a whole
// (top structures, undefined references, cycles). The file is streamed in
// pieces through the merge's part scanner and element checker, so it takes
// constant memory whatever its size, plus the names. Exit status 0 when
// every file was read, 1 when one is damaged (the message gives the byte),
// 2 for a usage error or a file that cannot be read.
// This file is the command line; the reading, the figures and the printers
// are in info/.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gds_api.h"
#include "info/json_printer.h"
#include "info/library.h"
#include "info/read_library.h"
#include "info/text_printer.h"
#include "tool_main.h"

namespace {

constexpr const char* kUsage =
    "usage: carvelle-info [--json] [--properties] FILE...\n"
    "Prints what each GDSII library holds: per structure its elements by kind and by\n"
    "layer/datatype, its bounding box and its references; then the top structures,\n"
    "the undefined references and the cycles.\n"
    "  --json        one JSON array with an object per file, for scripts\n"
    "  --properties  before each file's figures, one line per element property:\n"
    "                STRUCTURE KIND N: ATTRIBUTE = VALUE (N counts from 1 in the structure)\n";

}  // namespace

int runTool(int argc, const char* const* argv) {
    std::vector<std::string> paths;
    bool options = true, asJson = false, properties = false;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (options && std::strcmp(argv[i], "--json") == 0) {
            asJson = true;
        } else if (options && std::strcmp(argv[i], "--properties") == 0) {
            properties = true;
        } else if (options && std::strcmp(argv[i], "--version") == 0) {
            std::printf("carvelle-info %d.%d.%d\n", CARVELLE_VERSION_MAJOR, CARVELLE_VERSION_MINOR, CARVELLE_VERSION_PATCH);
            return 0;
        } else if (options && argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "carvelle-info: unknown option %s (a name that starts with '-' goes after --)\n%s",
                         argv[i], kUsage);
            return 2;
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    if (properties && asJson) {
        std::fputs("carvelle-info: --properties prints text; it does not go with --json\n", stderr);
        return 2;
    }
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int status = 0;
    if (asJson) std::fputs("[", stdout);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        info::Library library;
        library.path = paths[i];
        const info::Outcome outcome = info::read(library, properties ? stdout : nullptr);
        if (outcome != info::Outcome::Read) {
            std::fprintf(stderr, "carvelle-info: %s: %s\n", library.path.c_str(), library.error.c_str());
            status = std::max(status, outcome == info::Outcome::Damaged ? 1 : 2);
        }
        if (asJson) {
            if (i > 0) std::fputs(",\n", stdout);
            info::printJson(library, outcome);
        } else if (outcome == info::Outcome::Read) {
            if (i > 0) std::fputs("\n", stdout);
            info::printText(library);
        }
    }
    if (asJson) std::fputs("]\n", stdout);
    return std::fflush(stdout) == 0 ? status : 2;
}
