// SPDX-License-Identifier: MIT
// Carvelle's rule table: the limits that readers and classic fab and mask tools set on a GDSII library beyond
// what the format itself allows, each with a name, a one-line reason and where the limit comes from. One table
// serves the checker (carvelle-info --check) and the writing-time guard of the C++ layer (carvelle.hpp), so a
// file the guard let through is one the checker passes.
//
// A rule set is written as a comma-separated list, read left to right: a profile name (`readers`, `fab`) sets
// every rule to that profile's value; `RULE=N` sets a limit, `RULE=off` turns a rule off, `RULE` alone turns a
// rule on at the value of the fab profile. For example "fab,max-vertices=8191,one-top=off".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace carvelle::rules {

enum Rule : std::size_t {
    MaxLayer,
    MaxDatatype,
    MaxNameLength,
    NameCharacters,
    MaxArray,
    MaxTextLength,
    MaxRecordLength,
    MaxVertices,
    MaxPathPoints,
    OneTop,
    Undefined,
    Cycles,
    Duplicates,
    kRuleCount
};

// A rule's value: a limit (a number at or below which the file passes), or on/off for a rule with no number.
constexpr std::int64_t kOff = -1, kOn = 1;

struct RuleInfo {
    const char* name;
    bool limit;  // false: the rule is on or off, with no number
    std::int64_t readers, fab;
    const char* reason;  // one line: why the rule exists
    const char* source;  // where its fab value comes from
};

// The limits. Sources:
// - Calma: the Calma "GDSII Stream Format Manual", Release 6.0 (Calma Company, 1987), the format's own reference:
//   structure names of up to 32 characters from A-Z, a-z, 0-9, '_', '?' and '$'; BOUNDARY of at most 200
//   points (the last repeats the first: 199 vertices); PATH of at most 200 points; COLROW counts up to 32,767
//   (2-byte signed integers). Its layers and datatypes were 0 to 63; later releases and the mask data preparation
//   tools fabs run widened them to 0 to 255, the limit mask shops state today.
// - Records longer than 0x8000 bytes: the length field is read as a signed 16-bit number by older readers, and
//   KLayout warns on them; a BOUNDARY of 4,096 points or more makes one.
// - Texts of 1,024 characters or more: mask shops ask for labels well below that (Calma allowed 512); one such
//   label crashed a fab tool.
// - One top structure, no undefined references, no cycles, no name defined twice: a mask set is made from one
//   top cell, and fab flows refuse libraries that are not one tree. KLayout refuses cycles outright and keeps an
//   undefined reference as an empty "ghost" cell, so the readers profile holds those too.
constexpr RuleInfo kRules[kRuleCount] = {
    {"max-layer", true, kOff, 255, "layer number above what fab and mask tools take", "mask shops: layers 0 to 255"},
    {"max-datatype", true, kOff, 255, "datatype (or text, box, node type) above what fab and mask tools take",
     "mask shops: datatypes 0 to 255"},
    {"max-name-length", true, kOff, 32, "structure name longer than classic tools take", "Calma: names of 32 characters"},
    {"name-characters", false, kOff, kOn, "structure name with a character outside A-Z a-z 0-9 _ ? $",
     "Calma: the characters of a name"},
    {"max-array", true, 32767, 32767, "AREF columns or rows not positive, or above what readers take as a signed count",
     "Calma: COLROW is two signed 2-byte counts"},
    {"max-text-length", true, kOff, 1023, "text longer than fab tools take (one of 1,024 characters crashed one)", "mask shops (Calma: 512)"},
    {"max-record-length", true, kOff, 0x8000, "record longer than readers take (over 0x8000 bytes is a negative length to some)",
     "signed 2-byte record lengths; KLayout warns"},
    {"max-vertices", true, kOff, 199, "BOUNDARY with more vertices than classic tools take",
     "Calma: 200 points, the last closing"},
    {"max-path-points", true, kOff, 200, "PATH with more points than classic tools take", "Calma: 200 points"},
    {"one-top", false, kOff, kOn, "more than one top structure (referenced by none)", "a mask set has one top cell"},
    {"undefined", false, kOn, kOn, "reference to a structure the library does not define",
     "KLayout makes an empty cell of it"},
    {"cycles", false, kOn, kOn, "structures that place each other in a cycle", "KLayout refuses the file"},
    {"duplicates", false, kOn, kOn, "structure name defined more than once", "readers keep one or join them"},
};

struct Limits {
    std::int64_t value[kRuleCount];
    bool on(Rule rule) const { return value[rule] != kOff; }
    // True when `amount` breaks the rule's limit.
    bool over(Rule rule, std::int64_t amount) const { return value[rule] != kOff && amount > value[rule]; }
};

inline Limits profile(bool fab) {
    Limits limits{};
    for (std::size_t r = 0; r < kRuleCount; ++r) limits.value[r] = fab ? kRules[r].fab : kRules[r].readers;
    return limits;
}

// A byte a classic tool takes in a structure name.
inline bool nameCharacter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '?' || c == '$';
}

// Reads a rule set (see the top of this file) into limits, starting from the readers profile. False with a message
// in error for a word that is no profile or rule, or a value that is no number.
inline bool parse(const std::string& text, Limits& limits, std::string& error) {
    limits = profile(false);
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const std::string word = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        if (word == "readers" || word == "fab") {
            limits = profile(word == "fab");
        } else {
            std::size_t r = 0;
            while (r < kRuleCount && name != kRules[r].name) ++r;
            if (r == kRuleCount) {
                error = "no profile or rule named \"" + name + "\" (profiles: readers, fab)";
                return false;
            }
            if (equals == std::string::npos) {
                limits.value[r] = kRules[r].limit ? kRules[r].fab : kOn;
            } else {
                const std::string value = word.substr(equals + 1);
                char* end = nullptr;
                const long long number = std::strtoll(value.c_str(), &end, 10);
                if (value == "off") {
                    limits.value[r] = kOff;
                } else if (value == "on" && !kRules[r].limit) {
                    limits.value[r] = kOn;
                } else if (kRules[r].limit && !value.empty() && *end == '\0' && number >= 0 && value[0] != '+') {
                    limits.value[r] = number;
                } else {
                    error = "rule " + name;
                    error += kRules[r].limit ? " takes a number 0 or more or off, not \"" : " takes on or off, not \"";
                    error += value;
                    error += "\"";
                    return false;
                }
            }
        }
        if (comma == std::string::npos) return true;
        from = comma + 1;
    }
}

}  // namespace carvelle::rules
