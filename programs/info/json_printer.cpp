// SPDX-License-Identifier: MIT
#include "info/json_printer.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "info/printing.h"

namespace info {
namespace {

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1
                                                : (lead >> 4) == 14  ? 2
                                                : (lead >> 3) == 30  ? 3
                                                                     : 4;
        if (extra == 4 || lead == 0xC0 || lead == 0xC1 || i + extra >= text.size() + (extra == 0)) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        }
        i += extra + 1;
    }
    return true;
}

// A JSON string: UTF-8 names as they are; a name that is not UTF-8 with each byte above 0x7F as \u00XX.
std::string json(const std::string& text) {
    const bool utf8 = validUtf8(text);
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string kindsJson(const Counts& counts) {
    std::string out;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (counts[k] == 0) continue;
        out += (out.empty() ? "{\"" : ", \"") + std::string(kKindNames[k]) + "\": " + std::to_string(counts[k]);
    }
    return out.empty() ? "{}" : out + "}";
}

}  // namespace

std::string jsonString(const std::string& text) { return json(text); }

void printJson(const Library& lib, Outcome outcome) {
    std::printf("{\"file\": %s, \"bytes\": %" PRIu64, json(lib.path).c_str(), lib.bytes);
    if (outcome != Outcome::Read) {
        std::printf(", \"error\": %s, \"offset\": %s}", json(lib.error).c_str(),
                    outcome == Outcome::Damaged ? std::to_string(lib.errorOffset).c_str() : "null");
        return;
    }
    std::printf(", \"library\": %s, \"version\": %d, \"user_unit\": %s, \"meter_unit\": %s, \"structures\": [",
                json(lib.name).c_str(), lib.version, number(lib.userUnit).c_str(), number(lib.meterUnit).c_str());
    const char* separator = "";
    lib.forEachStructure([&separator](const Structure& s) {
        std::printf("%s\n  {\"name\": %s, \"offset\": %" PRIu64 ", \"elements\": %s, \"layers\": [", separator,
                    json(s.name).c_str(), s.offset, kindsJson(s.kinds).c_str());
        separator = ",";
        const char* inner = "";
        for (const auto& [key, counts] : sortedLayers(s)) {
            std::printf("%s{\"layer\": %u, \"datatype\": %u, \"elements\": %s}", inner, key >> 16, key & 0xFFFF,
                        kindsJson(*counts).c_str());
            inner = ", ";
        }
        if (s.hasBox()) {
            std::printf("], \"bbox\": [%d, %d, %d, %d], \"references\": [", s.box[0], s.box[1], s.box[2], s.box[3]);
        } else {
            std::printf("], \"bbox\": null, \"references\": [");
        }
        inner = "";
        for (const auto& [name, r] : sortedReferences(s)) {
            std::printf("%s{\"name\": %s, \"sref\": %" PRIu64 ", \"aref\": %" PRIu64 ", \"placements\": %" PRIu64 "}",
                        inner, json(name).c_str(), r->srefs, r->arefs, r->placements);
            inner = ", ";
        }
        std::printf("]}");
    });
    std::string list;
    for (const std::size_t t : lib.top) list += (list.empty() ? "" : ", ") + json(lib.structureName(t));
    std::printf("],\n \"top\": [%s], \"undefined\": [", list.c_str());
    separator = "";
    for (const auto& [name, from] : lib.undefined) {
        list.clear();
        for (const std::size_t s : from) list += (list.empty() ? "" : ", ") + json(lib.structureName(s));
        std::printf("%s{\"name\": %s, \"referenced_by\": [%s]}", separator, json(name).c_str(), list.c_str());
        separator = ", ";
    }
    std::printf("], \"cycles\": [");
    separator = "";
    for (const auto& cycle : lib.cycles) {
        list.clear();
        for (const std::size_t s : cycle) list += (list.empty() ? "" : ", ") + json(lib.structureName(s));
        std::printf("%s[%s]", separator, list.c_str());
        separator = ", ";
    }
    list.clear();
    for (const std::string& name : lib.duplicates) list += (list.empty() ? "" : ", ") + json(name);
    std::printf("], \"defined_again\": [%s]}", list.c_str());
}

}  // namespace info
