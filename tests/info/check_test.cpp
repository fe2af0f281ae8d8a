// SPDX-License-Identifier: MIT
// carvelle-info --check as a CI runs it: a library built by hand to break each rule once (offsets counted from
// the bytes as they are put together), the profiles and rules of the command line, and the exit statuses.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <vector>

#include "gds_test_support.h"
#include "info_tool.h"

namespace {

using namespace gdstest;

class Check : public InfoTool {
protected:
    // Appends to the file being built; returns the offset where the bytes begin.
    std::size_t put(const Bytes& bytes) {
        const std::size_t at = file.size();
        file.insert(file.end(), bytes.begin(), bytes.end());
        return at;
    }
    std::size_t begin(const std::string& name) { return put(record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded(name))); }
    Bytes file;
};

Bytes head() {
    return record(HEADER, 0x02, be16(600)) + record(BGNLIB, 0x02, Bytes(24, 0)) + record(LIBNAME, 0x06, padded("L")) +
           record(UNITS, 0x05, hex("3E 41 89 37 4B C6 A7 EF  39 44 B8 2F A0 9B 5A 50"));
}
Bytes box(std::int64_t layer, std::int64_t type) {
    return record(BOX, 0x00) + record(LAYER, 0x02, be16(layer)) + record(BOXTYPE, 0x02, be16(type)) +
           record(XY, 0x03, points({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}})) + record(ENDEL, 0x00);
}
std::vector<Point> line(std::size_t count) {
    std::vector<Point> out;
    for (std::size_t i = 0; i < count; ++i) out.emplace_back(static_cast<std::int32_t>(i), static_cast<std::int32_t>(i % 2));
    return out;
}
Bytes shape(std::uint8_t kind, std::size_t count) {
    return record(kind, 0x00) + record(LAYER, 0x02, be16(1)) + record(DATATYPE, 0x02, be16(0)) +
           record(XY, 0x03, points(line(count))) + record(ENDEL, 0x00);
}
Bytes text(std::int64_t layer, const std::string& string) {
    return record(TEXT, 0x00) + record(LAYER, 0x02, be16(layer)) + record(TEXTTYPE, 0x02, be16(0)) +
           record(XY, 0x03, points({{0, 0}})) + record(STRING, 0x06, padded(string)) + record(ENDEL, 0x00);
}
// A text turned and scaled: its STRING header lies 64 bytes in, past the headers a template compares as words.
Bytes turnedText(std::int64_t layer, const std::string& string) {
    return record(TEXT, 0x00) + record(LAYER, 0x02, be16(layer)) + record(TEXTTYPE, 0x02, be16(0)) +
           record(PRESENTATION, 0x01, be16(5)) + record(STRANS, 0x01, be16(0)) +
           record(MAG, 0x05, hex("41 20 00 00 00 00 00 00")) + record(ANGLE, 0x05, hex("42 5A 00 00 00 00 00 00")) +
           record(XY, 0x03, points({{0, 0}})) + record(STRING, 0x06, padded(string)) + record(ENDEL, 0x00);
}
Bytes sref(const std::string& name) {
    return record(SREF, 0x00) + record(SNAME, 0x06, padded(name)) + record(XY, 0x03, points({{0, 0}})) + record(ENDEL, 0x00);
}
Bytes aref(const std::string& name, std::int64_t cols, std::int64_t rows) {
    return record(AREF, 0x00) + record(SNAME, 0x06, padded(name)) + record(COLROW, 0x02, be16(cols) + be16(rows)) +
           record(XY, 0x03, points({{0, 0}, {10, 0}, {0, 10}})) + record(ENDEL, 0x00);
}
const Bytes kEndStr = record(ENDSTR, 0x00);

TEST_F(Check, EachRuleFoundOnceWithItsStructureAndByte) {
    put(head());
    const std::size_t top = begin("TOP");
    put(box(1, 0));                                  // the first element of a structure, then a template, then a run of like boxes
    const std::size_t layer = put(box(300, 0)) + 4;  // at its LAYER
    const std::size_t type = put(box(1, 256)) + 10;  // at its BOXTYPE
    const std::size_t type2 = put(box(1, 257)) + 10;
    const std::size_t textLayer = put(text(256, "ok")) + 4;
    const std::size_t longText = put(text(1, std::string(1024, 'x'))) + 28;  // at its STRING
    put(text(1, std::string(1023, 'x')));
    put(shape(BOUNDARY, 200));  // 199 vertices
    const std::size_t vertices = put(shape(BOUNDARY, 201));
    put(shape(PATH, 200));
    const std::size_t pathPoints = put(shape(PATH, 201));
    const std::size_t longRecord = put(shape(PATH, 4096)) + 16;  // its XY: 32,772 bytes
    const std::size_t shorter = put(shape(PATH, 4095));          // its XY: 32,764 bytes
    const std::size_t array = put(aref("LEAF", 0, 3));
    put(aref("LEAF", 32767, 1));
    const std::size_t wide = put(aref("LEAF", 32768, 1));
    const std::size_t missing = put(sref("missing"));
    put(kEndStr);
    const std::string longName = "Long_name_of_33_characters_$_?_33";
    const std::size_t other = begin(longName) + 28;
    put(kEndStr);
    const std::size_t dash = begin("a-b") + 28;
    put(sref("A"));
    const std::size_t x = put(sref("X"));  // as long as the name before it
    put(kEndStr);
    const std::size_t a = begin("A");
    put(sref("B") + kEndStr);
    begin("B");
    put(sref("A") + kEndStr);
    begin("LEAF");
    put(kEndStr);
    const std::size_t again = begin("LEAF");
    put(kEndStr + record(ENDLIB, 0x00));
    const std::string path = write("rules.gds", file);

    const auto at = [&](const char* rule, const std::string& structure, std::size_t offset, const std::string& what) {
        return path + ": " + rule + ": structure \"" + structure + "\" at byte " + std::to_string(offset) + ": " + what;
    };
    const Outcome fab = run("--check --first=5 " + path);
    EXPECT_EQ(fab.status, 3) << fab.err;
    const std::vector<std::string> lines = {
        at("max-layer", "TOP", layer, "layer 300, over 255"),
        at("max-layer", "TOP", textLayer, "layer 256, over 255"),
        at("max-datatype", "TOP", type, "type 256, over 255"),
        at("max-datatype", "TOP", type2, "type 257, over 255"),
        at("max-name-length", longName, other, "name length 33, over 32"),
        at("name-characters", "a-b", dash, "character '-'"),
        at("max-array", "TOP", array + 12, "columns 0, rows 3, over 32767"),
        at("max-array", "TOP", wide + 12, "columns 32768, rows 1, over 32767"),
        at("max-text-length", "TOP", longText, "text length 1024, over 1023"),
        at("max-record-length", "TOP", longRecord, "record length 32772, over 32768"),
        at("max-vertices", "TOP", vertices, "vertices 200, over 199"),
        at("max-path-points", "TOP", pathPoints, "points 201, over 200"),
        at("max-path-points", "TOP", longRecord - 16, "points 4096, over 200"),
        at("max-path-points", "TOP", shorter, "points 4095, over 200"),
        at("one-top", "TOP", top, "top structure, one of 3"),
        at("one-top", longName, other - 28, "top structure, one of 3"),
        at("one-top", "a-b", dash - 28, "top structure, one of 3"),
        at("undefined", "TOP", missing, "reference to \"missing\""),
        at("undefined", "a-b", x, "reference to \"X\""),
        at("cycles", "A", a, "cycle \"A\" -> \"B\" -> \"A\""),
        at("duplicates", "LEAF", again, "defined again"),
        path +
            ": 21 findings under fab: 2 max-layer, 2 max-datatype, 1 max-name-length, 1 name-characters, 2 max-array, "
            "1 max-text-length, 1 max-record-length, 1 max-vertices, 3 max-path-points, 3 one-top, 2 undefined, "
            "1 cycles, 1 duplicates",
    };
    for (const std::string& expected : lines) EXPECT_NE(fab.out.find(expected + (expected.find(" findings under ") == std::string::npos ? " (" : "\n")), std::string::npos) << expected << "\n"
                                                                                                                                                                            << fab.out;

    // The readers profile holds only what readers refuse; rules given after a profile change it.
    const Outcome readers = run("--check=readers " + path);
    EXPECT_EQ(readers.status, 3);
    EXPECT_NE(readers.out.find(path + ": 6 findings under readers: 2 max-array, 2 undefined, 1 cycles, 1 duplicates\n"),
              std::string::npos)
        << readers.out;
    const Outcome changed = run("--check=fab,max-layer=256,max-datatype=off,one-top=off,max-path-points=4095 --first=1 " + path);
    EXPECT_NE(changed.out.find("max-layer: structure \"TOP\" at byte " + std::to_string(layer) + ": layer 300, over 256 ("),
              std::string::npos)
        << changed.out;
    EXPECT_EQ(changed.out.find("max-layer: structure \"TOP\" at byte " + std::to_string(textLayer)), std::string::npos);
    EXPECT_EQ(changed.out.find("max-datatype: "), std::string::npos);
    EXPECT_EQ(changed.out.find("one-top: "), std::string::npos);
    EXPECT_NE(changed.out.find(path + ": max-array: 1 more not shown\n"), std::string::npos) << changed.out;
    EXPECT_NE(changed.out.find(" 1 max-path-points,"), std::string::npos) << changed.out;

    // JSON: each rule of the set with its limit and count, the findings with structure and byte.
    const Outcome json = run("--json --check=readers,max-layer=255 " + path);
    EXPECT_EQ(json.status, 3);
    EXPECT_NE(json.out.find("\"rules\": \"readers,max-layer=255\", \"clean\": false, \"checked\": [\n  {\"rule\": \"max-layer\", "
                            "\"limit\": 255, \"reason\": \"layer number above what fab and mask tools take\", \"count\": 2, "
                            "\"findings\": [{\"structure\": \"TOP\", \"offset\": " +
                            std::to_string(layer) + ", \"what\": \"layer 300\"}, "),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"rule\": \"cycles\", \"limit\": true, \"reason\": \"structures that place each other in a cycle\", "
                            "\"count\": 1, \"findings\": [{\"structure\": \"A\", \"offset\": " +
                            std::to_string(a) + ", \"what\": \"cycle \\\"A\\\" -> \\\"B\\\" -> \\\"A\\\"\"}]}"),
              std::string::npos)
        << json.out;
}

// Kinds in turn, each coming back: all but the first of each kind are taken by template, and each element is
// still judged by its own layer, text and reference.
TEST_F(Check, KindsInTurnEachJudgedByItsOwnRecords) {
    put(head());
    begin("A");
    put(kEndStr);
    begin("TOP");
    std::vector<std::size_t> overLayer;
    std::vector<std::size_t> longText;
    std::size_t undefined = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t boxAt = put(box(1 + 2 * i, 0));
        const std::size_t srefAt = put(sref(i == 2 ? "AB" : "A"));  // "AB" begins with the last name
        const std::size_t textAt = put(text(1 + 2 * i, i == 1 ? "long" : "ok"));
        const std::size_t turnedAt = put(turnedText(1, i == 1 ? "long" : "ok"));
        if (i > 0) overLayer.insert(overLayer.end(), {boxAt + 4, textAt + 4});
        if (i == 1) longText = {textAt + 28, turnedAt + 64};
        if (i == 2) undefined = srefAt;
    }
    put(kEndStr + record(ENDLIB, 0x00));
    const std::string path = write("turns.gds", file);
    const Outcome outcome = run("--check=readers,max-layer=2,max-text-length=3 --first=10 " + path);
    EXPECT_EQ(outcome.status, 3);
    for (const std::size_t at : overLayer) {
        EXPECT_NE(outcome.out.find("max-layer: structure \"TOP\" at byte " + std::to_string(at) + ": layer "), std::string::npos)
            << at << outcome.out;
    }
    for (const std::size_t at : longText) {
        EXPECT_NE(outcome.out.find("max-text-length: structure \"TOP\" at byte " + std::to_string(at) + ": text length 4"),
                  std::string::npos)
            << at << outcome.out;
    }
    EXPECT_NE(outcome.out.find("undefined: structure \"TOP\" at byte " + std::to_string(undefined) + ": reference to \"AB\""),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find("max-layer: 1 more"), std::string::npos);
    EXPECT_NE(outcome.out.find(" 4 max-layer,"), std::string::npos) << outcome.out;
}

// Elements of one kind that differ in one record's length (a polygon's points, a text's string, a reference's
// name): each judged by its own records, those after the one that differs where they have moved to.
TEST_F(Check, ElementsThatDifferInOneLengthEachJudgedByTheirOwn) {
    const auto tagged = [](std::int64_t layer, std::size_t count) {  // a polygon with a property after its points
        return record(BOUNDARY, 0x00) + record(LAYER, 0x02, be16(layer)) + record(DATATYPE, 0x02, be16(0)) +
               record(XY, 0x03, points(line(count))) + record(PROPATTR, 0x02, be16(1)) +
               record(PROPVALUE, 0x06, padded("p")) + record(ENDEL, 0x00);
    };
    put(head());
    begin("LEAF");
    put(kEndStr);
    begin("TOP");
    put(tagged(1, 5) + tagged(1, 5));            // the first of a structure, then a template
    const std::size_t v1 = put(tagged(300, 8));  // 7 vertices, XY of 68 bytes
    const std::size_t v2 = put(tagged(1, 9));    // 8 vertices, XY of 76 bytes
    const std::size_t v3 = put(tagged(1, 9));    // the same again, learned
    const std::size_t v4 = put(tagged(1, 9));    // and taken as it
    put(text(1, "ok") + text(1, "ok"));
    const std::size_t t = put(text(300, "longer"));  // STRING after XY
    put(aref("LEAF", 1, 1) + aref("LEAF", 1, 1));
    const std::size_t a = put(aref("LEAFY", 0, 1));  // its COLROW two bytes later
    // The first XY varies, the second does not.
    const auto twoXy = [](std::size_t count, std::size_t more) {
        return record(PATH, 0x00) + record(LAYER, 0x02, be16(1)) + record(DATATYPE, 0x02, be16(0)) +
               record(XY, 0x03, points(line(count))) + record(XY, 0x03, points(line(more))) + record(ENDEL, 0x00);
    };
    const std::size_t p1 = put(twoXy(3, 8)) + 16 + 28, p2 = put(twoXy(5, 8));  // 11 points, then 13
    put(twoXy(3, 2));
    const std::size_t p3 = put(twoXy(11, 2));  // 13 points, the first XY of 92 bytes
    put(kEndStr + record(ENDLIB, 0x00));
    const std::string path = write("lengths.gds", file);
    const Outcome outcome =
        run("--check=readers,max-layer=255,max-vertices=6,max-text-length=3,max-record-length=60,max-path-points=12 " + path);
    EXPECT_EQ(outcome.status, 3);
    const auto at = [&](const char* rule, std::size_t offset, const std::string& what) {
        return path + ": " + rule + ": structure \"TOP\" at byte " + std::to_string(offset) + ": " + what + " (";
    };
    std::vector<std::string> lines = {at("max-layer", v1 + 4, "layer 300, over 255"), at("max-layer", t + 4, "layer 300, over 255"),
                                      at("max-vertices", v1, "vertices 7, over 6"),
                                      at("max-record-length", v1 + 16, "record length 68, over 60"),
                                      at("max-text-length", t + 28, "text length 6, over 3"),
                                      at("undefined", a, "reference to \"LEAFY\""),
                                      at("max-array", a + 14, "columns 0, rows 1, over 32767"),
                                      at("max-record-length", p1, "record length 68, over 60"),
                                      at("max-record-length", p2 + 16 + 44, "record length 68, over 60"),
                                      at("max-path-points", p2, "points 13, over 12"),
                                      at("max-path-points", p3, "points 13, over 12"),
                                      at("max-record-length", p3 + 16, "record length 92, over 60"),
                                      path +
                                          ": 18 findings under readers,max-layer=255,max-vertices=6,max-text-length=3,"
                                          "max-record-length=60,max-path-points=12: 2 max-layer, 1 max-array, "
                                          "1 max-text-length, 7 max-record-length, 4 max-vertices, 2 max-path-points, "
                                          "1 undefined\n"};
    for (const std::size_t v : {v2, v3, v4}) {
        lines.push_back(at("max-vertices", v, "vertices 8, over 6"));
        lines.push_back(at("max-record-length", v + 16, "record length 76, over 60"));
    }
    for (const std::string& expected : lines) EXPECT_NE(outcome.out.find(expected), std::string::npos) << expected << "\n"
                                                                                                       << outcome.out;
}

// Each structure's children are listed once, however often and in whatever order it places them, and a
// structure defined twice adds the children of its second body to those of its first.
TEST_F(Check, EachChildListedOnce) {
    put(head());
    begin("X");
    const std::size_t xy = put(sref("Y"));
    const std::size_t xw = put(sref("W"));
    put(sref("Y") + kEndStr);
    begin("Z");
    const std::size_t zy = put(sref("Y"));
    put(kEndStr);
    const std::size_t again = begin("X");
    const std::size_t xv = put(sref("V"));
    put(sref("Y") + sref("W") + kEndStr + record(ENDLIB, 0x00));
    const std::string path = write("children.gds", file);
    const Outcome outcome = run("--check=readers " + path);
    EXPECT_EQ(outcome.status, 3);
    for (const auto& [structure, offset, name] : {std::make_tuple("X", xy, "Y"), std::make_tuple("X", xw, "W"),
                                                  std::make_tuple("X", xv, "V"), std::make_tuple("Z", zy, "Y")}) {
        EXPECT_NE(outcome.out.find("undefined: structure \"" + std::string(structure) + "\" at byte " + std::to_string(offset) +
                                   ": reference to \"" + name + "\""),
                  std::string::npos)
            << outcome.out;
    }
    EXPECT_NE(outcome.out.find("duplicates: structure \"X\" at byte " + std::to_string(again)), std::string::npos);
    EXPECT_NE(outcome.out.find(": 5 findings under readers: 4 undefined, 1 duplicates\n"), std::string::npos) << outcome.out;
}

TEST_F(Check, ExitStatusesAndTheCommandLine) {
    const std::string clean = write("clean.gds", head() + record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded("A$?_9")) +
                                                     box(255, 255) + kEndStr + record(ENDLIB, 0x00));
    const std::string broken = write("broken.gds", head() + record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded("A")) +
                                                       box(256, 0) + kEndStr + record(ENDLIB, 0x00));
    const std::string damaged = write("damaged.gds", head());
    Outcome outcome = run("--check " + clean);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, clean + ": clean under fab\n");
    EXPECT_EQ(run("--check=readers " + broken).status, 0);
    EXPECT_EQ(run("--check " + clean + " " + broken).status, 3);
    EXPECT_EQ(run("--check=fab,max-layer=256 " + broken).status, 0);
    EXPECT_EQ(run("--check=readers,max-layer " + broken).status, 3);  // a rule named alone takes the fab value
    // A file not read says more than a rule broken.
    EXPECT_EQ(run("--check " + broken + " " + damaged).status, 1);
    EXPECT_EQ(run("--check " + broken + " " + dir.file("none.gds")).status, 2);
    outcome = run("--json --check " + damaged);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("\"error\": "), std::string::npos) << outcome.out;
    for (const char* wrong : {"--check=fad", "--check=fab,max-layer=x", "--check=max-layer=-1", "--check=one-top=3",
                              "--check=fab,", "--first=0", "--first=x"}) {
        outcome = run(std::string(wrong) + " " + clean);
        EXPECT_EQ(outcome.status, 2) << wrong;
        EXPECT_EQ(outcome.out, "") << wrong;
    }
}

}  // namespace
