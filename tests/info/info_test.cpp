// SPDX-License-Identifier: MIT
// carvelle-info as a user runs it: the figures of a library written here
// (spelled out by hand from what was written), JSON with awkward names, a
// file larger than the pieces it is read in (plain and gzipped), and damaged
// files refused with their byte and exit status 1.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "gds_api.h"
#include "gds_test_support.h"
#include "info_tool.h"

namespace {

using gdstest::be16;
using gdstest::Bytes;
using gdstest::padded;
using gdstest::points;
using gdstest::record;
using namespace gdstest;

class Info : public InfoTool {};

TEST_F(Info, FiguresOfALibraryWrittenHere) {
    const std::string path = dir.file("lib.gds");
    GdsHandle lib = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &lib), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(lib, "CELL"), GDS_OK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(GDS_Box(lib, i * 10, 0, i * 10 + 5, 5, 1, 0, 0, 0), GDS_OK);
    const std::int32_t xs[] = {0, 10, 5}, ys[] = {0, 0, -8}, ys2[] = {0, 0, 8};
    ASSERT_EQ(GDS_Boundary(lib, xs, ys, 3, 2, 1, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Boundary(lib, xs, ys2, 3, 2, 1, 0, 0), GDS_OK);
    const std::int32_t px[] = {-3, 100}, py[] = {0, 0};
    ASSERT_EQ(GDS_Path(lib, px, py, 2, 10, 3, 0, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(lib, 5, 70, "a", 4, 7, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Text(lib, 5, 71, "b", 4, 7, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Node(lib, px, py, 2, 5, 2, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(lib, "TOP"), GDS_OK);
    const std::int32_t ax[] = {0, 900, 0}, ay[] = {0, 0, 400};
    ASSERT_EQ(GDS_Sref(lib, "CELL", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Aref(lib, "CELL", ax, ay, 3, 2, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(lib, "CELL", 100, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(lib, "missing", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(lib, "D1", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_Sref(lib, "D2", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    // A diamond (two ways to D3, no cycle) and a cycle A -> B -> A.
    for (const auto& [name, child] : std::vector<std::pair<const char*, const char*>>{
             {"D1", "D3"}, {"D2", "D3"}, {"D3", "CELL"}, {"A", "B"}, {"B", "A"}}) {
        ASSERT_EQ(GDS_BeginStructure(lib, name), GDS_OK);
        ASSERT_EQ(GDS_Sref(lib, child, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
    }
    ASSERT_EQ(GDS_EndLib(lib), GDS_OK);

    const Outcome info = run(path);
    ASSERT_EQ(info.status, 0) << info.err;
    const std::string size = std::to_string(readFile(path).size());
    EXPECT_EQ(info.out, path + ": library \"" + path + "\", version 3, user unit 0.001, database unit 1e-09 m, " +
                            size +
                            " bytes, 7 structures\n"
                            "structure \"CELL\": 9 elements: 2 BOUNDARY, 1 PATH, 3 BOX, 2 TEXT, 1 NODE\n"
                            "  layer 1/0: 3 BOX\n"
                            "  layer 2/1: 2 BOUNDARY\n"
                            "  layer 3/0: 1 PATH\n"
                            "  layer 4/7: 2 TEXT\n"
                            "  layer 5/2: 1 NODE\n"
                            "  bounding box: (-3, -8) (100, 71)\n"
                            "structure \"TOP\": 6 elements: 5 SREF, 1 AREF\n"
                            "  references \"CELL\": 2 SREF, 1 AREF, 8 placements\n"
                            "  references \"D1\": 1 SREF, 0 AREF, 1 placements\n"
                            "  references \"D2\": 1 SREF, 0 AREF, 1 placements\n"
                            "  references \"missing\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"D1\": 1 elements: 1 SREF\n"
                            "  references \"D3\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"D2\": 1 elements: 1 SREF\n"
                            "  references \"D3\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"D3\": 1 elements: 1 SREF\n"
                            "  references \"CELL\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"A\": 1 elements: 1 SREF\n"
                            "  references \"B\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"B\": 1 elements: 1 SREF\n"
                            "  references \"A\": 1 SREF, 0 AREF, 1 placements\n"
                            "top structures: \"TOP\"\n"
                            "undefined references: \"missing\" (from \"TOP\")\n"
                            "cycles: \"A\" -> \"B\" -> \"A\"\n");
}

Bytes head() {
    return record(HEADER, 0x02, be16(600)) + record(BGNLIB, 0x02, Bytes(24, 0)) + record(LIBNAME, 0x06, padded("L")) +
           record(UNITS, 0x05, hex("3E 41 89 37 4B C6 A7 EF  39 44 B8 2F A0 9B 5A 50"));
}
Bytes structure(const std::string& name, const Bytes& elements = {}) {
    return record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded(name)) + elements + record(ENDSTR, 0x00);
}
Bytes box(std::int16_t layer, std::int16_t type, std::int32_t at) {
    return record(BOX, 0x00) + record(LAYER, 0x02, be16(layer)) + record(BOXTYPE, 0x02, be16(type)) +
           record(XY, 0x03, points({{at, at}, {at + 1, at}, {at + 1, at + 1}, {at, at + 1}, {at, at}})) + record(ENDEL, 0x00);
}
Bytes sref(const std::string& name) {
    return record(SREF, 0x00) + record(SNAME, 0x06, padded(name)) + record(XY, 0x03, points({{0, 0}})) + record(ENDEL, 0x00);
}

TEST_F(Info, JsonForScriptsWithNamesAsTheyAre) {
    const std::string name = "q\"\xE6\x97\xA5";  // a quote and a UTF-8 character
    const std::string latin = "\xE9t\xE9";       // not UTF-8
    const std::string path = write("j.gds", head() + structure(name, box(-1, -32768, 7) + sref(latin)) + record(ENDLIB, 0x00));
    const Outcome info = run("--json " + path);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "[{\"file\": \"" + path +
                            "\", \"bytes\": 198, \"library\": \"L\", \"version\": 600, "
                            "\"user_unit\": 0.001, \"meter_unit\": 9.9999999999999986e-10, \"structures\": [\n"
                            "  {\"name\": \"q\\\"\xE6\x97\xA5\", \"offset\": 60, \"elements\": {\"BOX\": 1, \"SREF\": 1}, "
                            "\"layers\": [{\"layer\": 65535, \"datatype\": 32768, \"elements\": {\"BOX\": 1}}], "
                            "\"bbox\": [7, 7, 8, 8], \"references\": [{\"name\": \"\\u00E9t\\u00E9\", \"sref\": 1, "
                            "\"aref\": 0, \"placements\": 1}]}],\n"
                            " \"top\": [\"q\\\"\xE6\x97\xA5\"], \"undefined\": [{\"name\": \"\\u00E9t\\u00E9\", "
                            "\"referenced_by\": [\"q\\\"\xE6\x97\xA5\"]}], \"cycles\": [], \"defined_again\": []}]\n");
}

TEST_F(Info, PropertiesLineByLineWithTheirElement) {
    const auto withProperty = [](Bytes element, int attribute, const std::string& value) {
        const Bytes pair = record(0x2B, 0x02, be16(attribute)) + record(0x2C, 0x06, padded(value));
        element.insert(element.end() - 4, pair.begin(), pair.end());  // before ENDEL
        return element;
    };
    // Three like boxes in a row, then an SREF: the second and third box and the SREF carry properties.
    const Bytes elements = box(1, 0, 0) + withProperty(box(1, 0, 5), 1, "net") + withProperty(box(1, 0, 9), 1, "odd") +
                           withProperty(sref("C"), 127, "q\"\x01");
    const std::string path = write("p.gds", head() + structure("T", elements) + record(ENDLIB, 0x00));
    const Outcome info = run("--properties " + path);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.substr(0, info.out.find(path)),
              "\"T\" BOX 2: 1 = \"net\"\n"
              "\"T\" BOX 3: 1 = \"odd\"\n"
              "\"T\" SREF 4: 127 = \"q\\\"\\x01\"\n");
    EXPECT_NE(info.out.find("4 elements: 3 BOX, 1 SREF"), std::string::npos) << info.out;
    EXPECT_EQ(run("--properties --json " + path).status, 2);
}

// Elements that straddle the pieces of the reading (1 MiB) and the windows of a mapped file (8 MiB), of many
// layers, in two structures: a .gz file is read, and must give the same figures.
TEST_F(Info, ALibraryLargerThanItsPieces) {
    Bytes body;
    for (std::int32_t i = 0; i < 70000; ++i) {
        const Bytes one = box(static_cast<std::int16_t>(i % 7), 0, i);
        body.insert(body.end(), one.begin(), one.end());
    }
    const std::string path = write("big.gds", head() + structure("S", body) + structure("T", body + sref("S")) + record(ENDLIB, 0x00));
    const Outcome info = run(path);
    ASSERT_EQ(info.status, 0) << info.err;
    std::string layers;
    for (int layer = 0; layer < 7; ++layer) layers += "  layer " + std::to_string(layer) + "/0: 10000 BOX\n";
    EXPECT_NE(info.out.find("structure \"S\": 70000 elements: 70000 BOX\n" + layers + "  bounding box: (0, 0) (70000, 70000)\n"
                                                                                      "structure \"T\": 70001 elements: 70000 BOX, 1 SREF\n" +
                            layers),
              std::string::npos)
        << info.out;

    // Gzipped: the same figures, and refused as damaged when cut short.
    const std::string zip = "gzip -c " + path + " >" + path + ".gz && head -c 5000 " + path + ".gz >" +
                            dir.file("cut.gds.gz");
    ASSERT_EQ(std::system(zip.c_str()), 0);
    const Outcome zipped = run(path + ".gz");
    EXPECT_EQ(zipped.status, 0) << zipped.err;
    EXPECT_EQ(zipped.out, path + ".gz" + info.out.substr(path.size()));
    const Outcome cut = run(dir.file("cut.gds.gz"));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("gzip data is cut short"), std::string::npos) << cut.err;
}

#ifdef CARVELLE_CUT_WHILE_MAPPED
// Another process cuts the second file short while the program has it mapped: the program names that file and
// ends with status 2, the first file's figures already written out.
TEST_F(Info, AFileCutWhileMappedIsNamedAndEndsTheProgram) {
    const Bytes library = head() + structure("S", box(1, 0, 0)) + record(ENDLIB, 0x00);
    const std::string first = write("first.gds", library), cut = write("cut.gds", library);
    // The sanitizers would otherwise refuse a library loaded before their own, and take the signal themselves.
    const Outcome outcome = run(first + " " + cut, std::string("CARVELLE_TEST_CUT=") + cut + " LD_PRELOAD=" +
                                                       CARVELLE_CUT_WHILE_MAPPED +
                                                       " ASAN_OPTIONS=verify_asan_link_order=0:handle_sigbus=0");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "carvelle-info: " + cut + ": cannot read the file: it was cut short while it was read\n");
    EXPECT_EQ(outcome.out.find(first + ": library"), 0u) << outcome.out;
    EXPECT_EQ(outcome.out.find(cut), std::string::npos) << outcome.out;
}
#endif

TEST_F(Info, DamagedFilesAreRefusedWithTheirByte) {
    const Bytes good = head() + structure("A", box(1, 0, 0)) + record(ENDLIB, 0x00);
    Bytes wrongType = good;
    wrongType[60 + 28 + 6 + 4 + 3] = 0x03;  // LAYER's data type
    struct Case {
        const char* what;
        Bytes bytes;
        const char* says;
        const char* offset;
    };
    const std::vector<Case> cases = {
        {"cut short", Bytes(good.begin(), good.end() - 10), "the record at byte 154 needs 4 bytes", "\"offset\": 154"},
        {"LAYER of another type", wrongType, "LAYER in BOX is of data type 4-byte integer", "\"offset\": 98"},
        {"bytes after ENDLIB", good + Bytes{0, 1}, "bytes after ENDLIB at byte 167", "\"offset\": 167"},
        {"not GDSII", gdstest::text("hello\n"), "does not begin with HEADER", "\"offset\": 0"},
        // 60 bytes of head, then BGNSTR (28), STRNAME (16) and a BOX (64): the name's own "at byte" is no offset.
        {"cut inside a structure named with a byte",
         head() + record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded("x at byte 5")) + box(1, 0, 0),
         "ends inside structure \"x at byte 5\" at byte 168", "\"offset\": 168"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write("bad.gds", c.bytes);
        Outcome info = run(path);
        EXPECT_EQ(info.status, 1);
        EXPECT_EQ(info.out, "");
        EXPECT_NE(info.err.find("carvelle-info: " + path + ": "), std::string::npos) << info.err;
        EXPECT_NE(info.err.find(c.says), std::string::npos) << info.err;
        info = run("--json " + path);
        EXPECT_EQ(info.status, 1);
        EXPECT_NE(info.out.find(c.offset), std::string::npos) << info.out;
    }
    EXPECT_EQ(run(dir.file("missing.gds")).status, 2);
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--bad " + write("good.gds", good)).status, 2);
}

// What a tester reading the code would try: a cycle below a top structure, names that are prefixes of one
// another, a name defined twice, offsets past the first piece (plain and gzipped), and a file that cannot be read
// before a damaged one.
TEST_F(Info, CyclesBelowATopPrefixNamesAndOffsetsPastThePiece) {
    const std::string path = write("tree.gds", head() + structure("TOP", sref("A") + sref("AB") + sref("A") + sref("ABC") + sref("A")) +
                                                   structure("A", sref("B")) + structure("B", sref("A")) +
                                                   structure("A", box(3, 0, 9)) + record(ENDLIB, 0x00));
    const Outcome info = run(path);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("structure \"TOP\": 5 elements: 5 SREF\n"
                            "  references \"A\": 3 SREF, 0 AREF, 3 placements\n"
                            "  references \"AB\": 1 SREF, 0 AREF, 1 placements\n"
                            "  references \"ABC\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"A\": 2 elements: 1 BOX, 1 SREF\n  layer 3/0: 1 BOX\n  bounding box: (9, 9) (10, 10)\n"
                            "  references \"B\": 1 SREF, 0 AREF, 1 placements\n"
                            "structure \"B\": 1 elements: 1 SREF\n"
                            "  references \"A\": 1 SREF, 0 AREF, 1 placements\n"
                            "top structures: \"TOP\"\n"
                            "undefined references: \"AB\" (from \"TOP\") \"ABC\" (from \"TOP\")\n"
                            "cycles: \"A\" -> \"B\" -> \"A\"\n"
                            "defined again: \"A\"\n"),
              std::string::npos)
        << info.out;

    // Many names of one length, each structure placing the next: one top, nothing undefined or defined again.
    Bytes chain;
    for (int i = 0; i < 500; ++i) {
        char name[8], next[8];
        std::snprintf(name, sizeof name, "N%03d", i);
        std::snprintf(next, sizeof next, "N%03d", i + 1);
        chain = chain + structure(name, i < 499 ? sref(next) : Bytes{});
    }
    const Outcome names = run(write("chain.gds", head() + chain + record(ENDLIB, 0x00)));
    EXPECT_NE(names.out.find("500 structures\n"), std::string::npos);
    EXPECT_NE(names.out.find("top structures: \"N000\"\nundefined references: none\ncycles: none\n"), std::string::npos)
        << names.out.substr(names.out.size() - 300);
    EXPECT_EQ(names.out.find("defined again"), std::string::npos);

    // Past the first 1 MiB piece: a structure's offset, and where damaged gzip data ends (as gzip itself finds it).
    Bytes body;
    for (std::int32_t i = 0; i < 40000; ++i) {
        const Bytes one = box(1, 0, i);
        body.insert(body.end(), one.begin(), one.end());
    }
    const Bytes first = structure("S", body);
    const std::string big = write("big.gds", head() + first + structure("T") + record(ENDLIB, 0x00));
    EXPECT_NE(run("--json " + big).out.find("{\"name\": \"T\", \"offset\": " + std::to_string(60 + first.size())),
              std::string::npos);
    const std::string cut = dir.file("cut.gds.gz");
    ASSERT_EQ(std::system(("gzip -1 -c " + big + " >" + big + ".gz && head -c $(( $(wc -c <" + big + ".gz) * 2 / 3 )) " +
                           big + ".gz >" + cut + " && { gzip -dc " + cut + " 2>/dev/null | wc -c >" + dir.file("count") + "; }")
                              .c_str()),
              0);
    const std::string good = std::to_string(std::stoull(read(dir.file("count"))));
    ASSERT_GT(std::stoull(good), 1u << 20);
    const Outcome damaged = run(cut);
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(damaged.err, "carvelle-info: " + cut + ": its gzip data is cut short, at byte " + good + " of the library\n");
    EXPECT_NE(run("--json " + cut).out.find("\"offset\": " + good + "}"), std::string::npos);

    // A file that cannot be read, then a damaged one: both said, in the words of files, and the worse status.
    const Outcome both = run(dir.file("none.gds") + " " + cut);
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.err, "carvelle-info: " + dir.file("none.gds") + ": cannot open the file: No such file or directory\n" +
                            damaged.err);
}

// What KLayout writes and reads: LIBDIRSIZE and SRFNAME between BGNLIB and LIBNAME, and a BOUNDARY of more points
// than one XY record holds as XY records in a row.
TEST_F(Info, KLayoutsHeadRecordsAndLongBoundaries) {
    std::vector<Point> first, second;
    for (std::int32_t i = 0; i < 8191; ++i) first.emplace_back(i, 0);
    for (std::int32_t i = 0; i < 10; ++i) second.emplace_back(8190 - i, 5 + i);
    const Bytes boundary = record(BOUNDARY, 0x00) + record(LAYER, 0x02, be16(1)) + record(DATATYPE, 0x02, be16(0)) +
                           record(XY, 0x03, points(first)) + record(XY, 0x03, points(second)) + record(ENDEL, 0x00);
    const Bytes head = record(HEADER, 0x02, be16(600)) + record(BGNLIB, 0x02, Bytes(24, 0)) +
                       record(0x39, 0x02, be16(0)) + record(0x3A, 0x06, padded("srf")) + record(LIBNAME, 0x06, padded("L")) +
                       record(UNITS, 0x05, hex("3E 41 89 37 4B C6 A7 EF  39 44 B8 2F A0 9B 5A 50"));
    const std::string path = write("klayout.gds", head + structure("P", boundary) + record(ENDLIB, 0x00));
    const Outcome info = run(path);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("structure \"P\": 1 elements: 1 BOUNDARY\n  layer 1/0: 1 BOUNDARY\n"
                            "  bounding box: (0, 0) (8190, 14)\n"),
              std::string::npos)
        << info.out;
    const Outcome check = run("--check=readers,max-vertices=8191 " + path);
    EXPECT_EQ(check.status, 3);
    EXPECT_NE(check.out.find("max-vertices: structure \"P\" at byte " + std::to_string(head.size() + 28 + 6) +
                             ": vertices 8200, over 8191"),
              std::string::npos)
        << check.out;
}

}  // namespace
