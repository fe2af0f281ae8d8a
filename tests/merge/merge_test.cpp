// SPDX-License-Identifier: MIT
// The merge: parts built record by record here (not by the library's
// encoder) join into the bytes expected; every refusal names its part and
// leaves no output; a failing disk leaves none either.

#include "carvelle_merge.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "gds_api.h"
#include "element_grammar.h"
#include "gds_test_support.h"
#include "merge/part_scanner.h"
#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using carvelle::MergeFailure;
using gdstest::Bytes;
using gdstest::be16;
using gdstest::hex;
using gdstest::padded;
using gdstest::readFile;
using gdstest::record;
using namespace gdstest;

// 0.001 and 1e-9 as eight-byte reals, and a different meter unit.
const Bytes kUnits = hex("3E 41 89 37 4B C6 A7 EF  39 44 B8 2F A0 9B 5A 50");
const Bytes kOtherUnits = hex("3E 41 89 37 4B C6 A7 EF  3A 10 C6 F7 A0 B5 ED 8D");
const Bytes kEndLib = record(ENDLIB, 0x00);

Bytes head(const Bytes& units = kUnits, const std::string& libName = "part.gds") {
    return record(HEADER, 0x02, be16(3)) + record(BGNLIB, 0x02, Bytes(24, 0x11)) +
           record(LIBNAME, 0x06, padded(libName)) + record(UNITS, 0x05, units);
}
Bytes box(std::int16_t layer) {
    return record(BOX, 0x00) + record(LAYER, 0x02, be16(layer)) + record(BOXTYPE, 0x02, be16(0)) +
           record(XY, 0x03, points({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}})) + record(ENDEL, 0x00);
}
Bytes structure(const std::string& name, const Bytes& elements = {}) {
    return record(BGNSTR, 0x02, Bytes(24, 0x22)) + record(STRNAME, 0x06, padded(name)) + elements +
           record(ENDSTR, 0x00);
}
Bytes library(const Bytes& structures) { return head() + structures + kEndLib; }

class Merge : public ::testing::Test {
protected:
    std::vector<std::string> write(const std::vector<Bytes>& parts) {
        std::vector<std::string> paths;
        for (const Bytes& bytes : parts) {
            paths.push_back(dir.file("p" + std::to_string(paths.size()) + ".gds"));
            std::ofstream(paths.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        return paths;
    }
    // Names of the files in the folder, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const std::string out = dir.file("out.gds");
};

TEST_F(Merge, StructuresFollowInPartOrderByteForByteUnderOneHead) {
    const Bytes a = structure("A", box(1)) + structure("BB", box(2) + box(3));
    const Bytes c = structure("CCC", box(4));  // odd length: its name carries a pad byte
    // A part with no structures adds none; NUL padding after ENDLIB is no structure either.
    const auto parts = write({library(a), library({}), library(c) + Bytes(6, 0)});
    const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
    ASSERT_TRUE(result) << result.message;

    const Bytes merged = readFile(out);
    const Bytes bgnLib = hex("00 1C 01 02");
    ASSERT_GT(merged.size(), 34u);
    EXPECT_EQ(Bytes(merged.begin(), merged.begin() + 10), record(HEADER, 0x02, be16(3)) + bgnLib);
    EXPECT_EQ(Bytes(merged.begin() + 34, merged.end()),
              record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + a + c + kEndLib);
    EXPECT_EQ(result.bytes, merged.size());
    EXPECT_EQ(result.structures, 3u);
    EXPECT_EQ(files(), (std::vector<std::string>{"out.gds", "p0.gds", "p1.gds", "p2.gds"}));

    // One part: the same structures under the output's own head; an existing output is replaced.
    ASSERT_TRUE(carvelle::merge_libraries(out, {parts[2]}));
    const Bytes single = readFile(out);
    EXPECT_EQ(Bytes(single.begin() + 34, single.end()),
              record(LIBNAME, 0x06, padded(out)) + record(UNITS, 0x05, kUnits) + c + kEndLib);
}

TEST_F(Merge, PartsWrittenByTheLibraryJoinIntoTheLibraryWrittenAtOnce) {
    auto write = [](const std::string& path, std::vector<const char*> names) {
        GdsHandle lib = nullptr;
        ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &lib), GDS_OK);
        for (const char* name : names) {
            ASSERT_EQ(GDS_BeginStructure(lib, name), GDS_OK);
            ASSERT_EQ(GDS_Box(lib, 0, 0, 100, 100, 1, 0, 0, 0), GDS_OK);
            if (name[0] == 'T') ASSERT_EQ(GDS_Sref(lib, "A", 5, 5, 0, 1.0, 0.0, 0, 0), GDS_OK);
            ASSERT_EQ(GDS_EndStructure(lib), GDS_OK);
        }
        ASSERT_EQ(GDS_EndLib(lib), GDS_OK);
    };
    write(out, {"A", "BC", "TOP"});
    const Bytes atOnce = readFile(out);
    write(dir.file("p0.gds"), {"A", "BC"});
    write(dir.file("p1.gds"), {"TOP"});
    ASSERT_TRUE(carvelle::merge_libraries(out, {dir.file("p0.gds"), dir.file("p1.gds")}));
    EXPECT_EQ(maskTimestamps(readFile(out)), maskTimestamps(atOnce));
}

struct Refusal {
    const char* what;
    std::vector<Bytes> parts;
    MergeFailure failure;
    const char* says;  // part of the message
};

TEST_F(Merge, EveryRefusalNamesItsPartAndLeavesTheOutputAsItWas) {
    const Bytes a = structure("A", box(1));
    const Bytes whole = library(a + structure("B", box(2)));
    const Bytes lengthTwo = structure("A", hex("00 02") + box(1));
    // After two like elements the walk checks by template: faults must still be found there.
    const Bytes lengthFive = structure("A", box(1) + box(1) + hex("00 05 0D 02 00 01 00") + box(1));
    Bytes endStrForEndEl = box(1);
    endStrForEndEl[endStrForEndEl.size() - 2] = ENDSTR;
    const Bytes bracketAmongElements = structure("A", box(1) + box(1) + endStrForEndEl);
    const Bytes refLibs = record(HEADER, 0x02, be16(3)) + record(BGNLIB, 0x02, Bytes(24, 1)) +
                          record(LIBNAME, 0x06, padded("p")) + record(0x1F, 0x06, Bytes(44, 0)) +
                          record(UNITS, 0x05, kUnits);
    const std::vector<Refusal> refusals = {
        {"units differ", {library(a), head(kOtherUnits) + kEndLib}, MergeFailure::UnitsDiffer, "p1.gds has user unit"},
        {"a name in two parts", {library(a), library(structure("B")), library(a)}, MergeFailure::DuplicateStructure,
         "\"A\" is defined in part "},
        {"a name twice in one part", {library(a + a)}, MergeFailure::DuplicateStructure, "p0.gds twice"},
        {"not GDSII", {gdstest::text("hello, world\n")}, MergeFailure::NotALibrary, "does not begin with HEADER"},
        {"an empty file", {Bytes{}}, MergeFailure::NotALibrary, "the file is empty"},
        {"cut short in a structure", {Bytes(whole.begin(), whole.end() - 30)}, MergeFailure::NotALibrary,
         "cut short"},
        {"cut short in the head", {Bytes(whole.begin(), whole.begin() + 20)}, MergeFailure::NotALibrary, "cut short"},
        {"no ENDLIB", {head() + a}, MergeFailure::NotALibrary, "no ENDLIB"},
        {"a record of 2 bytes", {library(a), library(lengthTwo)}, MergeFailure::NotALibrary, "length 2 at byte"},
        {"a record of odd length", {library(lengthFive)}, MergeFailure::NotALibrary, "length 5 at byte"},
        {"a bracket record among like elements", {library(bracketAmongElements)}, MergeFailure::NotALibrary,
         "ENDSTR in BOX after XY, where only ENDEL or PROPATTR may stand, at byte"},
        {"a library record before UNITS", {refLibs + kEndLib}, MergeFailure::NotALibrary, "expected UNITS"},
        {"a structure without ENDSTR",
         {head() + record(BGNSTR, 0x02, Bytes(24, 0)) + record(STRNAME, 0x06, padded("A")) + box(1) + a + kEndLib},
         MergeFailure::NotALibrary, "BGNSTR at byte 164 inside structure \"A\""},
        {"bytes after ENDLIB", {whole + hex("00 04 11 00")}, MergeFailure::NotALibrary, "bytes after ENDLIB"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
        const auto parts = write(refusal.parts);
        std::ofstream(out) << "old";
        const carvelle::MergeResult result = carvelle::merge_libraries(out, parts);
        EXPECT_EQ(result.failure, refusal.failure);
        EXPECT_NE(result.message.find(refusal.says), std::string::npos) << result.message;
        EXPECT_EQ(readFile(out), gdstest::text("old"));
        EXPECT_EQ(files().size(), parts.size() + 1) << "a temporary file is left";
    }
}

TEST_F(Merge, CallsThatCannotMergeAreRefusedBeforeAnyFileIsMade) {
    const auto parts = write({library(structure("A"))});
    EXPECT_EQ(carvelle::merge_libraries(out, {}).failure, MergeFailure::NoParts);
    const carvelle::MergeResult missing = carvelle::merge_libraries(out, {parts[0], dir.file("missing.gds")});
    EXPECT_EQ(missing.failure, MergeFailure::Open);
    EXPECT_NE(missing.message.find("missing.gds"), std::string::npos) << missing.message;
    EXPECT_EQ(carvelle::merge_libraries(parts[0], parts).failure, MergeFailure::OutputIsPart);
    EXPECT_EQ(carvelle::merge_libraries(dir.path().string(), parts).failure, MergeFailure::Open);
    EXPECT_EQ(carvelle::merge_libraries(std::string(65531, 'n'), parts).failure, MergeFailure::Open);
    EXPECT_EQ(carvelle::merge_libraries(dir.file("no-folder/out.gds"), parts).failure, MergeFailure::Open);
    EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds"}));
    EXPECT_EQ(readFile(parts[0]), library(structure("A")));
}

// A plain walk of a whole file by the same rules, written independently of the merge's checker.
bool walkWhole(const Bytes& file, std::vector<std::string>& names) {
    enum { Head, BgnLib, LibName, Units, Between, Name, Inside, Padding } phase = Head;
    gdstest::ElementGrammar elements;
    for (std::size_t at = 0; at < file.size();) {
        if (phase == Padding) {
            if (file[at++] != 0) return false;
            continue;
        }
        if (file.size() - at < 4) return false;
        const std::size_t length = std::size_t{file[at]} << 8 | file[at + 1];
        auto is = [&](std::uint8_t type, std::uint8_t dataType) {
            return file[at + 2] == type && file[at + 3] == dataType;
        };
        if (length < 4 || length % 2 || length > file.size() - at) return false;
        const bool empty = length == 4;
        if (phase == Head && is(HEADER, 0x02) && length == 6) phase = BgnLib;
        else if (phase == BgnLib && is(BGNLIB, 0x02)) phase = LibName;
        else if (phase == LibName && is(LIBNAME, 0x06)) phase = Units;
        else if (phase == Units && is(UNITS, 0x05) && length == 20) phase = Between;
        else if (phase == Between && is(BGNSTR, 0x02)) phase = Name;
        else if (phase == Between && is(ENDLIB, 0x00) && empty) phase = Padding;
        else if (phase == Name && is(STRNAME, 0x06)) {
            names.emplace_back(std::string(file.begin() + static_cast<long>(at) + 4,
                                           file.begin() + static_cast<long>(at + length)).c_str());
            phase = Inside;
            elements = {};
        } else if (phase == Inside && is(ENDSTR, 0x00) && empty && elements.betweenElements()) phase = Between;
        else if (phase != Inside || !elements.add({length, file[at + 2], file[at + 3]})) return false;
        at += length;
    }
    return phase == Padding;
}

// Random libraries of like and unlike elements, some damaged, fed to the checker in pieces of random sizes.
TEST_F(Merge, TheCheckerAgreesWithAPlainWalkWhateverThePieces) {
    std::mt19937 random(2026);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    int valid = 0;
    for (int round = 0; round < 20000; ++round) {
        const Bytes path = record(PATH, 0x00) + record(LAYER, 0x02, be16(1)) + record(DATATYPE, 0x02, be16(0)) +
                           record(WIDTH, 0x03, be32(5)) +
                           record(XY, 0x03, points({{0, 0}, {1, 1}})) + record(ENDEL, 0x00);
        const std::vector<Bytes> elements = {box(1), box(2) + box(3), path};
        Bytes file = head(kUnits, std::string(pick(4), 'L'));
        for (unsigned s = pick(3); s > 0; --s) {
            Bytes body;
            const unsigned kind = pick(3);
            for (unsigned e = pick(8); e > 0; --e) body = body + elements[pick(4) == 0 ? pick(3) : kind];
            file = file + structure(std::string(1 + pick(3), static_cast<char>('A' + pick(3))), body);
        }
        file = file + kEndLib + Bytes(pick(3), 0);
        for (unsigned damage = pick(3); damage > 0 && !file.empty(); --damage) {
            const std::size_t at = pick(static_cast<unsigned>(file.size()));
            if (pick(3) == 0) file.resize(at);
            else file[at] = static_cast<std::uint8_t>(pick(2) ? file[at] ^ (1u << pick(8)) : pick(16));
        }
        std::vector<std::string> expected, names;
        const bool whole = walkWhole(file, expected);
        carvelle::merge::PartScanner scanner;
        bool ok = true;
        for (std::size_t at = 0; ok && at < file.size();) {
            const std::size_t piece = std::min<std::size_t>(file.size() - at, 1 + pick(pick(2) ? 8 : 400));
            ok = scanner.feed(file.data() + at, piece);
            names.insert(names.end(), scanner.names().begin(), scanner.names().end());
            scanner.names().clear();
            at += piece;
        }
        ok = ok && scanner.finish();
        ASSERT_EQ(ok, whole) << "round " << round << ": " << scanner.error();
        if (ok) EXPECT_EQ(names, expected) << "round " << round;
        valid += whole;
    }
    EXPECT_GT(valid, 5000);  // the damage leaves enough whole libraries to compare names on
}

#if !defined(_WIN32)
// A disk that fills up while the structures are copied: a file-size limit in a child process.
TEST_F(Merge, AFullDiskLeavesNoOutput) {
    Bytes many;
    for (int i = 0; i < 200; ++i) many = many + structure("S" + std::to_string(i), box(1) + box(2));
    const auto parts = write({library(many), library(structure("T", box(3)))});
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(static_cast<int>(carvelle::merge_libraries(out, parts).failure));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(MergeFailure::Write));
    EXPECT_EQ(files(), (std::vector<std::string>{"p0.gds", "p1.gds"}));
}
#endif

}  // namespace
