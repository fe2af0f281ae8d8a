// SPDX-License-Identifier: MIT
// carvelle-info [--json] [--properties] [--check[=RULES]] FILE...: what a GDSII library holds, per structure
// (elements by kind and by layer, bounding box, references) and as a whole
// (top structures, undefined references, cycles). The file is streamed in
// pieces through the merge's part scanner and element checker, so it takes
// constant memory whatever its size, plus the names. With --check it checks
// the records against a rule set (carvelle_rules.hpp) instead. Exit status 0
// when every file was read (and passed its check), 1 when one is damaged (the
// message gives the byte), 2 for a usage error or a file that cannot be read,
// 3 when every file was read and one breaks a rule.
// This file is the command line; the reading, the figures and the printers
// are in info/.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gds_api.h"
#include "info/check_printer.h"
#include "info/json_printer.h"
#include "info/library.h"
#include "info/read_library.h"
#include "info/text_printer.h"
#include "tool_main.h"

namespace {

constexpr const char* kUsage =
    "usage: carvelle-info [--json] [--properties] [--check[=RULES] [--first=N]] FILE...\n"
    "Prints what each GDSII library holds: per structure its elements by kind and by\n"
    "layer/datatype, its bounding box and its references; then the top structures,\n"
    "the undefined references and the cycles.\n"
    "  --json          one JSON array with an object per file, for scripts\n"
    "  --properties    before each file's figures, one line per element property:\n"
    "                  STRUCTURE KIND N: ATTRIBUTE = VALUE (N counts from 1 in the structure)\n"
    "  --check[=RULES] check each file against a rule set instead: a profile (fab, the\n"
    "                  default, or readers), then RULE=N, RULE=off or RULE, comma-separated,\n"
    "                  e.g. --check=fab,max-vertices=8191; exit status 3 when a rule fails\n"
    "  --first=N       the first N findings of each rule are shown (10; at least 1)\n";

constexpr int kRuleFailed = 3;

}  // namespace

int runTool(int argc, const char* const* argv) {
    std::vector<std::string> paths;
    bool options = true, asJson = false, checking = false, properties = false;
    info::Check check;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (options && std::strcmp(argv[i], "--json") == 0) {
            asJson = true;
        } else if (options && (std::strcmp(argv[i], "--check") == 0 || std::strncmp(argv[i], "--check=", 8) == 0)) {
            checking = true;
            check.profile = argv[i][7] == '=' ? argv[i] + 8 : "fab";
            std::string error;
            if (!carvelle::rules::parse(check.profile, check.limits, error)) {
                std::fprintf(stderr, "carvelle-info: %s\n%s", error.c_str(), kUsage);
                return 2;
            }
        } else if (options && std::strncmp(argv[i], "--first=", 8) == 0) {
            char* end = nullptr;
            const unsigned long long first = std::strtoull(argv[i] + 8, &end, 10);
            if (argv[i][8] < '1' || argv[i][8] > '9' || *end != '\0' || first > 1000000) {
                std::fprintf(stderr, "carvelle-info: --first takes a number from 1 to 1000000, not %s\n%s", argv[i] + 8, kUsage);
                return 2;
            }
            check.keep = static_cast<std::size_t>(first);
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
    bool failed = false;  // a rule
    if (asJson) std::fputs("[", stdout);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        info::Library library;
        library.path = paths[i];
        info::Check fileCheck = check;
        const info::Outcome outcome = info::read(library, checking ? &fileCheck : nullptr, properties ? stdout : nullptr);
        if (outcome != info::Outcome::Read) {
            std::fprintf(stderr, "carvelle-info: %s: %s\n", library.path.c_str(), library.error.c_str());
            status = std::max(status, outcome == info::Outcome::Damaged ? 1 : 2);
        }
        if (checking && outcome == info::Outcome::Read && !fileCheck.clean()) failed = true;
        if (asJson) {
            if (i > 0) std::fputs(",\n", stdout);
            if (checking) {
                info::printCheckJson(library, outcome, fileCheck);
            } else {
                info::printJson(library, outcome);
            }
        } else if (checking && outcome == info::Outcome::Read) {
            info::printCheckText(library, fileCheck);
        } else if (outcome == info::Outcome::Read) {
            if (i > 0) std::fputs("\n", stdout);
            info::printText(library);
        }
    }
    if (asJson) std::fputs("]\n", stdout);
    if (status == 0 && failed) status = kRuleFailed;  // a file that could not be read says more than a rule
    return std::fflush(stdout) == 0 ? status : 2;
}
