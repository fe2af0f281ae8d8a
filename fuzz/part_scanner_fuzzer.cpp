// SPDX-License-Identifier: MIT
// libFuzzer target: the merge's part scanner and its element checker, the
// code that parses bytes other writers made. The input is a part: its first
// byte seeds the sizes of the pieces it is fed in, the rest is the file.
// Three checks abort on a difference:
// - fed whole and fed in pieces, the scanner gives the same verdict, the
//   same message and the same structures (names and offsets);
// - a file that a plain walk (tests/support/element_grammar.h for the
//   elements, a few lines here for the library around them) accepts is
//   accepted;
// - a file the scanner accepts has elements that the plain walk accepts.
// The seeds in fuzz/parts/ are small parts written by the library, gdspy
// and KLayout.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "element_grammar.h"
#include "merge/part_scanner.h"

namespace {

struct Verdict {
    bool ok = false;
    std::string error;
    std::vector<std::string> names;
};

Verdict scan(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
    carvelle::merge::PartScanner scanner;
    Verdict verdict;
    verdict.ok = true;
    for (std::size_t at = 0; verdict.ok && at < size;) {
        std::size_t piece = size - at;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            piece = std::min<std::size_t>(piece, 1 + (seed >> 16) % (seed & 1 ? 7 : 300));
        }
        verdict.ok = scanner.feed(data + at, piece);
        for (const auto& structure : scanner.structures()) {
            verdict.names.push_back(structure.name + "@" + std::to_string(structure.begin) + "-" +
                                    std::to_string(structure.end));
        }
        scanner.structures().clear();
        at += piece;
    }
    verdict.ok = verdict.ok && scanner.finish();
    verdict.error = scanner.error();
    return verdict;
}

enum class Walk { Whole, Broken, Unknown };

// The library in its plainest form (HEADER, BGNLIB, LIBNAME, UNITS, structures, ENDLIB, NUL padding) with
// every element by the plain grammar. Whole: the scanner must accept it. Broken in the elements of a file
// the scanner accepts: a fault. Anything else in the library's frame: Unknown (the scanner may accept
// head records this walk does not know).
Walk walk(const std::uint8_t* file, std::size_t size, bool& elementsOk) {
    enum { Head, BgnLib, LibName, Units, Between, Name, Inside, Padding } phase = Head;
    gdstest::ElementGrammar elements;
    elementsOk = true;
    for (std::size_t at = 0; at < size;) {
        if (phase == Padding) {
            if (file[at++] != 0) return Walk::Unknown;
            continue;
        }
        if (size - at < 4) return Walk::Unknown;
        const std::size_t length = std::size_t{file[at]} << 8 | file[at + 1];
        if (length < 4 || length % 2 || length > size - at) return Walk::Unknown;
        const std::uint8_t type = file[at + 2], dataType = file[at + 3];
        auto is = [&](std::uint8_t t, std::uint8_t d) { return type == t && dataType == d; };
        if (phase == Head && is(0x00, 0x02) && length == 6) phase = BgnLib;
        else if (phase == BgnLib && is(0x01, 0x02) && length == 28) phase = LibName;
        else if (phase == LibName && is(0x02, 0x06)) phase = Units;
        else if (phase == Units && is(0x03, 0x05) && length == 20) phase = Between;
        else if (phase == Between && is(0x05, 0x02) && length == 28) phase = Name;
        else if (phase == Between && is(0x04, 0x00) && length == 4) phase = Padding;
        else if (phase == Name && is(0x06, 0x06)) {
            phase = Inside;
            elements = {};
        } else if (phase == Inside && is(0x07, 0x00) && length == 4 && elements.betweenElements()) phase = Between;
        else if (phase == Inside) {
            if (!elements.add({length, type, dataType})) {
                elementsOk = false;
                return Walk::Broken;
            }
        } else {
            return Walk::Unknown;
        }
        at += length;
    }
    if (phase == Inside && !elements.betweenElements()) elementsOk = false;
    return phase == Padding ? Walk::Whole : Walk::Unknown;
}

[[noreturn]] void fault(const char* what, const Verdict& a, const Verdict& b) {
    std::fprintf(stderr, "part scanner fault: %s\n  first: %d %s\n  second: %d %s\n", what, a.ok, a.error.c_str(),
                 b.ok, b.error.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint32_t seed = data[0];
    ++data;
    --size;
    const Verdict whole = scan(data, size, 0);
    const Verdict pieces = scan(data, size, seed + 1);
    if (whole.ok != pieces.ok || whole.error != pieces.error || whole.names != pieces.names) {
        fault("whole and in pieces differ", whole, pieces);
    }
    bool elementsOk = true;
    const Walk plain = walk(data, size, elementsOk);
    if (plain == Walk::Whole && !whole.ok) fault("the plain walk accepts what the scanner refuses", whole, pieces);
    if (whole.ok && !elementsOk) fault("the scanner accepts elements that the plain grammar refuses", whole, pieces);
    return 0;
}
