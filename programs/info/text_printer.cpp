// SPDX-License-Identifier: MIT
#include "info/text_printer.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "info/printing.h"

namespace info {
namespace {

// Names as they are, with quotes, backslashes and control bytes escaped.
std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string kindsText(const Counts& counts) {
    std::string out;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (counts[k] == 0) continue;
        out += (out.empty() ? "" : ", ") + std::to_string(counts[k]) + " " + kKindNames[k];
    }
    return out.empty() ? "none" : out;
}

}  // namespace

std::string quotedName(const std::string& name) { return quoted(name); }

void printText(const Library& lib) {
    std::printf("%s: library %s, version %d, user unit %s, database unit %s m, %" PRIu64 " bytes, %zu structures\n",
                lib.path.c_str(), quoted(lib.name).c_str(), lib.version, number(lib.userUnit, 15).c_str(),
                number(lib.meterUnit, 15).c_str(), lib.bytes, lib.structureCount());
    lib.forEachStructure([](const Structure& s) {
        std::printf("structure %s: %" PRIu64 " elements: %s\n", quoted(s.name).c_str(), total(s.kinds),
                    kindsText(s.kinds).c_str());
        for (const auto& [key, counts] : sortedLayers(s)) {
            std::printf("  layer %u/%u: %s\n", key >> 16, key & 0xFFFF, kindsText(*counts).c_str());
        }
        if (s.hasBox()) {
            std::printf("  bounding box: (%d, %d) (%d, %d)\n", s.box[0], s.box[1], s.box[2], s.box[3]);
        }
        for (const auto& [name, r] : sortedReferences(s)) {
            std::printf("  references %s: %" PRIu64 " SREF, %" PRIu64 " AREF, %" PRIu64 " placements\n",
                        quoted(name).c_str(), r->srefs, r->arefs, r->placements);
        }
    });
    std::string line;
    for (const std::size_t t : lib.top) line += " " + quoted(lib.structureName(t));
    std::printf("top structures:%s\n", line.empty() ? " none" : line.c_str());
    line.clear();
    for (const auto& [name, from] : lib.undefined) {
        line += " " + quoted(name) + " (from";
        for (const std::size_t s : from) line += " " + quoted(lib.structureName(s));
        line += ")";
    }
    std::printf("undefined references:%s\n", line.empty() ? " none" : line.c_str());
    line.clear();
    for (const auto& cycle : lib.cycles) {
        line += line.empty() ? " " : "; ";
        for (std::size_t i = 0; i < cycle.size(); ++i) line += (i ? " -> " : "") + quoted(lib.structureName(cycle[i]));
    }
    std::printf("cycles:%s\n", line.empty() ? " none" : line.c_str());
    for (const std::string& name : lib.duplicates) std::printf("defined again: %s\n", quoted(name).c_str());
}

}  // namespace info
