// SPDX-License-Identifier: MIT
// The element grammar as the merge's part scanner checks it: each kind in
// its fullest and barest form from the format, the records other writers
// add, and the faults KLayout refuses; then random elements, like and
// unlike, against the plain grammar of tests/support/element_grammar.h.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "element_grammar.h"
#include "gds_test_support.h"
#include "merge/part_scanner.h"

namespace {

using gdstest::Bytes;
using gdstest::be16;
using gdstest::be32;
using gdstest::padded;
using gdstest::points;
using gdstest::record;
using namespace gdstest;

constexpr std::uint8_t PROPATTR = 0x2B, PROPVALUE = 0x2C, BGNEXTN = 0x30, ENDEXTN = 0x31, STRCLASS = 0x34;

Bytes part(const Bytes& elements) {
    return record(HEADER, 0x02, be16(600)) + record(BGNLIB, 0x02, Bytes(24, 0)) + record(LIBNAME, 0x06, padded("L")) +
           record(UNITS, 0x05, Bytes(16, 0x41)) + record(BGNSTR, 0x02, Bytes(24, 0)) +
           record(STRNAME, 0x06, padded("A")) + elements + record(ENDSTR, 0x00) + record(ENDLIB, 0x00);
}
std::string scan(const Bytes& file) {
    carvelle::merge::PartScanner scanner;
    if (scanner.feed(file.data(), file.size()) && scanner.finish()) return "";
    return scanner.error();
}
Bytes n(std::size_t count) {
    std::vector<gdstest::Point> pts(count, {1, 2});
    return points(pts);
}
Bytes i16(std::int16_t v) { return be16(v); }

const Bytes kEndEl = record(ENDEL, 0x00), kLayer = record(LAYER, 0x02, i16(1)),
            kDatatype = record(DATATYPE, 0x02, i16(0)), kFlags = record(ELFLAGS, 0x01, i16(0)) + record(PLEX, 0x03, be32(0)),
            kStrans = record(STRANS, 0x01, i16(0)) + record(MAG, 0x05, Bytes(8, 0x41)) + record(ANGLE, 0x05, Bytes(8, 0)),
            kProperty = record(PROPATTR, 0x02, i16(1)) + record(PROPVALUE, 0x06, padded("v")), kSname = record(SNAME, 0x06, padded("B"));

struct Case {
    const char* what;
    Bytes elements;
    const char* says;  // "" when the part is good
};

TEST(ElementChecker, EachKindInTheOrderTheFormatGives) {
    const std::vector<Case> cases = {
        {"BOUNDARY, barest", record(BOUNDARY, 0) + kLayer + kDatatype + record(XY, 3, n(4)) + kEndEl, ""},
        {"BOUNDARY, fullest", record(BOUNDARY, 0) + kFlags + kLayer + kDatatype + record(XY, 3, n(8191)) + kProperty + kProperty + kEndEl, ""},
        {"PATH, fullest", record(PATH, 0) + kFlags + kLayer + kDatatype + record(PATHTYPE, 2, i16(4)) + record(WIDTH, 3, be32(5)) +
                              record(BGNEXTN, 3, be32(1)) + record(ENDEXTN, 3, be32(1)) + record(XY, 3, n(2)) + kProperty + kEndEl, ""},
        {"PATH of one point", record(PATH, 0) + kLayer + kDatatype + record(XY, 3, n(1)) + kEndEl, ""},
        {"SREF with STRANS, MAG, ANGLE", record(SREF, 0) + kFlags + kSname + kStrans + record(XY, 3, n(1)) + kEndEl, ""},
        {"SREF with STRANS and ANGLE", record(SREF, 0) + kSname + record(STRANS, 1, i16(0)) + record(ANGLE, 5, Bytes(8, 0)) + record(XY, 3, n(1)) + kEndEl, ""},
        {"AREF", record(AREF, 0) + kSname + kStrans + record(COLROW, 2, i16(2) + i16(3)) + record(XY, 3, n(3)) + kEndEl, ""},
        {"TEXT, fullest", record(TEXT, 0) + kFlags + kLayer + record(TEXTTYPE, 2, i16(0)) + record(PRESENTATION, 1, i16(5)) +
                              record(PATHTYPE, 2, i16(0)) + record(WIDTH, 3, be32(1)) + kStrans + record(XY, 3, n(1)) +
                              record(STRING, 6, padded("hi")) + kProperty + kEndEl, ""},
        {"TEXT, empty string", record(TEXT, 0) + kLayer + record(TEXTTYPE, 2, i16(0)) + record(XY, 3, n(1)) + record(STRING, 6) + kEndEl, ""},
        {"NODE of 50 points", record(NODE, 0) + kLayer + record(NODETYPE, 2, i16(0)) + record(XY, 3, n(50)) + kEndEl, ""},
        {"BOX", record(BOX, 0) + kFlags + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(5)) + kEndEl, ""},
        {"STRCLASS first", record(STRCLASS, 1, i16(0)) + record(BOX, 0) + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(5)) + kEndEl, ""},

        {"LAYER of 4-byte integers", record(BOUNDARY, 0) + record(LAYER, 3, be32(1)) + kDatatype + record(XY, 3, n(4)) + kEndEl,
         "LAYER in BOUNDARY is of data type 4-byte integer, not 2-byte integer, at byte 98"},
        {"no DATATYPE", record(BOUNDARY, 0) + kLayer + record(XY, 3, n(4)) + kEndEl, "XY in BOUNDARY after LAYER, where only DATATYPE may stand"},
        {"LAYER of 8 bytes", record(BOUNDARY, 0) + record(LAYER, 2, be32(1)) + kDatatype + record(XY, 3, n(4)) + kEndEl, "is 8 bytes long, not 6"},
        {"BOUNDARY of 3 points", record(BOUNDARY, 0) + kLayer + kDatatype + record(XY, 3, n(3)) + kEndEl, "holds 3 points; a BOUNDARY takes 4 to 8191"},
        {"XY of half a point", record(BOUNDARY, 0) + kLayer + kDatatype + record(XY, 3, n(4) + be32(0)) + kEndEl, "36 bytes, not whole points"},
        {"PATH of no point", record(PATH, 0) + kLayer + kDatatype + record(XY, 3) + kEndEl, "holds 0 points"},
        {"WIDTH before PATHTYPE", record(PATH, 0) + kLayer + kDatatype + record(WIDTH, 3, be32(5)) + record(PATHTYPE, 2, i16(0)) + record(XY, 3, n(2)) + kEndEl,
         "PATHTYPE in PATH after WIDTH"},
        {"PLEX before ELFLAGS", record(BOX, 0) + record(PLEX, 3, be32(0)) + record(ELFLAGS, 1, i16(0)) + kLayer, "ELFLAGS in BOX after PLEX"},
        {"MAG without STRANS", record(SREF, 0) + kSname + record(MAG, 5, Bytes(8, 0x41)) + record(XY, 3, n(1)) + kEndEl, "MAG in SREF after SNAME"},
        {"ANGLE before MAG", record(SREF, 0) + kSname + record(STRANS, 1, i16(0)) + record(ANGLE, 5, Bytes(8, 0)) + record(MAG, 5, Bytes(8, 0x41)), "MAG in SREF after ANGLE"},
        {"SREF of 2 points", record(SREF, 0) + kSname + record(XY, 3, n(2)) + kEndEl, "a SREF takes 1"},
        {"SREF with an empty name", record(SREF, 0) + record(SNAME, 6) + record(XY, 3, n(1)) + kEndEl, "(an empty name)"},
        {"AREF without COLROW", record(AREF, 0) + kSname + record(XY, 3, n(3)) + kEndEl, "XY in AREF after SNAME"},
        {"AREF of 4 points", record(AREF, 0) + kSname + record(COLROW, 2, i16(1) + i16(1)) + record(XY, 3, n(4)) + kEndEl, "a AREF takes 3"},
        {"TEXT without STRING", record(TEXT, 0) + kLayer + record(TEXTTYPE, 2, i16(0)) + record(XY, 3, n(1)) + kEndEl, "ENDEL in TEXT after XY"},
        {"TEXT of 2 points", record(TEXT, 0) + kLayer + record(TEXTTYPE, 2, i16(0)) + record(XY, 3, n(2)), "a TEXT takes 1"},
        {"NODE of 51 points", record(NODE, 0) + kLayer + record(NODETYPE, 2, i16(0)) + record(XY, 3, n(51)) + kEndEl, "a NODE takes 1 to 50"},
        {"BOX of 4 points", record(BOX, 0) + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(4)) + kEndEl, "a BOX takes 5"},
        {"PROPATTR without PROPVALUE", record(BOX, 0) + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(5)) + record(PROPATTR, 2, i16(1)) + kEndEl,
         "ENDEL after PROPATTR, where only PROPVALUE may stand"},
        {"PROPVALUE alone", record(BOX, 0) + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(5)) + record(PROPVALUE, 6) + kEndEl, "PROPVALUE in BOX after XY"},
        {"a record between elements", kLayer, "LAYER at the start of the structure, where only BOUNDARY, PATH, SREF, AREF, TEXT, NODE, BOX, STRCLASS or ENDSTR"},
        {"STRCLASS after an element", record(BOX, 0) + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(5)) + kEndEl + record(STRCLASS, 1, i16(0)),
         "STRCLASS between elements"},
        {"no ENDEL", record(BOX, 0) + kLayer + record(BOXTYPE, 2, i16(0)) + record(XY, 3, n(5)), "ENDSTR in BOX after XY"},
        {"TEXTNODE", record(0x14, 0) + kEndEl, "TEXTNODE at the start"},
        {"a record type beyond the format", record(0x40, 0) + kEndEl, "record type 0x40 at the start"},
        {"opening of wrong length", record(BOX, 0, i16(0)), "BOX at the start of the structure is 6 bytes long, not 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string error = scan(part(c.elements));
        if (*c.says == '\0') {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
    }
}

// A piece that begins inside an element: the rest of that element is no template for what follows.
TEST(ElementChecker, APieceThatBeginsInsideAnElement) {
    const Bytes rest = kLayer + kDatatype + record(XY, 3, n(4)) + kEndEl;
    const Bytes file = part(record(BOUNDARY, 0) + rest + rest);
    const std::size_t cut = part({}).size() - 8 + 4;  // just after the first BOUNDARY's opening record
    carvelle::merge::PartScanner scanner;
    EXPECT_TRUE(scanner.feed(file.data(), cut));
    EXPECT_FALSE(scanner.feed(file.data() + cut, file.size() - cut) && scanner.finish());
    EXPECT_NE(scanner.error().find("LAYER between elements"), std::string::npos) << scanner.error();
}

// Random elements from a few kinds, damaged record by record, repeated so that the scanner's template of
// like elements meets them too; the verdict must be the plain grammar's, fed whole and in pieces.
TEST(ElementChecker, AgreesWithThePlainGrammarOnRandomElements) {
    std::mt19937 random(21);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const std::vector<std::vector<Bytes>> kinds = {
        {record(BOUNDARY, 0), kLayer, kDatatype, record(XY, 3, n(5)), kEndEl},
        {record(PATH, 0), kLayer, kDatatype, record(WIDTH, 3, be32(5)), record(XY, 3, n(2)), kEndEl},
        {record(SREF, 0), kSname, record(STRANS, 1, i16(0)), record(MAG, 5, Bytes(8, 0x41)), record(XY, 3, n(1)), kEndEl},
        {record(TEXT, 0), kLayer, record(TEXTTYPE, 2, i16(0)), record(XY, 3, n(1)), record(STRING, 6, padded("t")),
         record(PROPATTR, 0x02, i16(1)), record(PROPVALUE, 0x06, padded("v")), kEndEl},
    };
    int good = 0;
    for (int round = 0; round < 4000; ++round) {
        Bytes elements;
        gdstest::ElementGrammar plain;
        bool whole = true;
        for (std::size_t e = 1 + pick(6); e > 0; --e) {
            std::vector<Bytes> element = kinds[pick(kinds.size())];
            if (pick(3) == 0) {
                const std::size_t at = pick(element.size());
                switch (pick(4)) {
                    case 0: element.erase(element.begin() + static_cast<long>(at)); break;
                    case 1: std::swap(element[at], element[pick(element.size())]); break;
                    case 2: element[at][3] ^= static_cast<std::uint8_t>(1 + pick(6)); break;
                    default: element.insert(element.begin() + static_cast<long>(at), kinds[pick(kinds.size())][pick(4)]);
                }
            }
            for (std::size_t copies = 1 + pick(3); copies > 0; --copies) {
                for (const Bytes& r : element) {
                    elements = elements + r;
                    whole = whole && plain.add({r.size(), r[2], r[3]});
                }
            }
        }
        whole = whole && plain.betweenElements();
        const Bytes file = part(elements);
        EXPECT_EQ(scan(file).empty(), whole) << "round " << round << ": " << scan(file);
        carvelle::merge::PartScanner pieces;
        bool ok = true;
        for (std::size_t at = 0; ok && at < file.size(); at += 13) ok = pieces.feed(file.data() + at, std::min<std::size_t>(13, file.size() - at));
        EXPECT_EQ(ok && pieces.finish(), whole) << "round " << round << " in pieces";
        good += whole;
    }
    EXPECT_GT(good, 1000);
}

}  // namespace
