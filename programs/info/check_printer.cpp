// SPDX-License-Identifier: MIT
#include "info/check_printer.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "info/json_printer.h"
#include "info/text_printer.h"

namespace info {
namespace {

std::string limitText(const Check& check, std::size_t r) {
    return rules::kRules[r].limit ? std::to_string(check.limits.value[r]) : std::string("on");
}

}  // namespace

void printCheckText(const Library& lib, const Check& check) {
    std::uint64_t total = 0;
    std::string counts;
    for (std::size_t r = 0; r < rules::kRuleCount; ++r) {
        const RuleFindings& found = check.found[r];
        if (found.count == 0) continue;
        total += found.count;
        counts += (counts.empty() ? "" : ", ") + std::to_string(found.count) + " " + rules::kRules[r].name;
        for (const Finding& f : found.first) {
            const std::string where = f.structure.empty() ? "" : "structure " + quotedName(f.structure) + " ";
            const std::string over = rules::kRules[r].limit ? ", over " + limitText(check, r) : "";
            std::printf("%s: %s: %sat byte %" PRIu64 ": %s%s (%s)\n", lib.path.c_str(), rules::kRules[r].name, where.c_str(),
                        f.offset, f.what.c_str(), over.c_str(), rules::kRules[r].reason);
        }
        if (found.count > found.first.size()) {
            std::printf("%s: %s: %" PRIu64 " more not shown\n", lib.path.c_str(), rules::kRules[r].name,
                        found.count - found.first.size());
        }
    }
    if (total == 0) {
        std::printf("%s: clean under %s\n", lib.path.c_str(), check.profile.c_str());
    } else {
        std::printf("%s: %" PRIu64 " findings under %s: %s\n", lib.path.c_str(), total, check.profile.c_str(), counts.c_str());
    }
}

void printCheckJson(const Library& lib, Outcome outcome, const Check& check) {
    std::printf("{\"file\": %s, \"bytes\": %" PRIu64 ", \"rules\": %s", jsonString(lib.path).c_str(), lib.bytes,
                jsonString(check.profile).c_str());
    if (outcome != Outcome::Read) {
        std::printf(", \"error\": %s, \"offset\": %s}", jsonString(lib.error).c_str(),
                    outcome == Outcome::Damaged ? std::to_string(lib.errorOffset).c_str() : "null");
        return;
    }
    std::printf(", \"clean\": %s, \"checked\": [", check.clean() ? "true" : "false");
    const char* separator = "";
    for (std::size_t r = 0; r < rules::kRuleCount; ++r) {
        if (!check.limits.on(static_cast<rules::Rule>(r))) continue;
        const RuleFindings& found = check.found[r];
        std::printf("%s\n  {\"rule\": \"%s\", \"limit\": %s, \"reason\": %s, \"count\": %" PRIu64 ", \"findings\": [",
                    separator, rules::kRules[r].name,
                    rules::kRules[r].limit ? limitText(check, r).c_str() : "true",
                    jsonString(rules::kRules[r].reason).c_str(), found.count);
        separator = ",";
        const char* inner = "";
        for (const Finding& f : found.first) {
            std::printf("%s{\"structure\": %s, \"offset\": %" PRIu64 ", \"what\": %s}", inner,
                        f.structure.empty() ? "null" : jsonString(f.structure).c_str(), f.offset, jsonString(f.what).c_str());
            inner = ", ";
        }
        std::printf("]}");
    }
    std::printf("]}");
}

}  // namespace info
