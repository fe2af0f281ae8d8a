// SPDX-License-Identifier: MIT
// Where the merge's output goes: a symbolic link's target, never over a
// device, a FIFO or a folder, and no temporary file left by a merge that was
// killed (nor by one of a process that no longer runs).

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "carvelle_merge.hpp"
#include "gds_test_support.h"
#include "merge/part_reader.h"
#include "platform/files.h"

namespace {

using carvelle::MergeFailure;
using namespace gdstest;

// For the hooks, which are plain functions: the test's output and part.
std::string outputPath, partOfTest;

const Bytes kUnits = hex("3E 41 89 37 4B C6 A7 EF  39 44 B8 2F A0 9B 5A 50");

// One part of one empty structure, spelled out record by record.
Bytes part() {
    return record(HEADER, 0x02, be16(3)) + record(BGNLIB, 0x02, Bytes(24, 0x11)) +
           record(LIBNAME, 0x06, padded("part.gds")) + record(UNITS, 0x05, kUnits) +
           record(BGNSTR, 0x02, Bytes(24, 0x22)) + record(STRNAME, 0x06, padded("A")) + record(ENDSTR, 0x00) +
           record(ENDLIB, 0x00);
}

class MergeOutput : public ::testing::Test {
protected:
    void SetUp() override {
        partOfTest = partPath;
        const Bytes bytes = part();
        std::ofstream(partPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    carvelle::MergeResult mergeInto(const std::string& out) { return carvelle::merge_libraries(out, {partPath}); }

    TempDir dir;
    const std::string partPath = dir.file("p.gds");
};

// The link stays a link, to a target that now holds the merge; a dangling
// link's target is created.
TEST_F(MergeOutput, ALinkIsFollowedOnceAndItsTargetWritten) {
    std::filesystem::create_directory(dir.file("real"));
    ASSERT_EQ(::symlink("real/out.gds", dir.file("link.gds").c_str()), 0);
    ASSERT_EQ(::symlink("link.gds", dir.file("chain.gds").c_str()), 0);
    for (const char* name : {"link.gds", "chain.gds"}) {
        SCOPED_TRACE(name);
        std::filesystem::remove(dir.file("real/out.gds"));
        const carvelle::MergeResult result = mergeInto(dir.file(name));
        ASSERT_EQ(result.failure, MergeFailure::None) << result.message;
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.gds")));
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file("chain.gds")));
        const Bytes merged = readFile(dir.file("real/out.gds"));
        ASSERT_GT(merged.size(), 8u);
        EXPECT_EQ(Bytes(merged.begin(), merged.begin() + 6), hex("00 06 00 02 00 03"));
        EXPECT_EQ(Bytes(merged.end() - 4, merged.end()), hex("00 04 04 00"));
        std::vector<std::string> inReal;
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("real"))) {
            inReal.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(inReal, std::vector<std::string>{"out.gds"});
    }
}

// A FIFO (with or without a reader), a device, a folder, and a link to any
// of them: refused with the open status before anything is written, and
// left as they were.
TEST_F(MergeOutput, SpecialFilesAreRefusedAndLeftAsTheyWere) {
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    ASSERT_EQ(::symlink("/dev/null", dir.file("null-link").c_str()), 0);
    for (const std::string out : {dir.file("fifo"), dir.file("folder"), std::string("/dev/null"), dir.file("null-link")}) {
        SCOPED_TRACE(out);
        const carvelle::MergeResult result = mergeInto(out);
        EXPECT_EQ(carvelle::merge_exit_status(result.failure), 13) << result.message;
        EXPECT_EQ(files(), (std::vector<std::string>{"fifo", "folder", "null-link", "p.gds"}));
    }
    struct stat status {};
    ASSERT_EQ(::stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    ASSERT_EQ(::lstat(dir.file("fifo").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    const carvelle::MergeResult fifo = mergeInto(dir.file("fifo"));
    EXPECT_NE(fifo.message.find("not a regular file"), std::string::npos) << fifo.message;
}

// SIGKILL after the head is written leaves no file but the part; a stale
// temporary of a process that has ended is removed by the next merge into
// the same output, and one of a running process (this one) is not.
TEST_F(MergeOutput, NoTemporaryOutlivesItsMerge) {
    const std::string out = dir.file("out.gds");
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        carvelle::merge::afterHead = [] { std::raise(SIGKILL); };
        ::_exit(carvelle::merge_exit_status(mergeInto(out).failure));
    }
    int status = -1;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(files(), std::vector<std::string>{"p.gds"});

    const std::string stale = out + ".merging-" + std::to_string(killed) + "-0";
    const std::string ours = out + ".merging-" + std::to_string(::getpid()) + "-7";
    std::ofstream(stale) << "left by a killed merge";
    std::ofstream(ours) << "a running merge's";
    ASSERT_EQ(mergeInto(out).failure, MergeFailure::None);
    EXPECT_EQ(files(), (std::vector<std::string>{"out.gds", "out.gds.merging-" + std::to_string(::getpid()) + "-7",
                                                 "p.gds"}));
}

// Where the temporary is named from the start (no O_TMPFILE): a name in use
// is passed over and left alone, a refused merge removes its file, and the
// file of a merge killed by SIGKILL is removed by the next one.
TEST_F(MergeOutput, NamedTemporariesArePassedOverRemovedAndCleanedUp) {
    carvelle::namedTemporaryOnly = true;
    const std::string out = dir.file("out.gds");
    outputPath = out;
    const std::string taken = out + ".merging-" + std::to_string(::getpid()) + "-0";
    std::ofstream(taken) << "another merge's";
    carvelle::merge::afterHead = [] { std::filesystem::resize_file(partOfTest, 20); };
    EXPECT_EQ(mergeInto(out).failure, MergeFailure::PartChanged);
    carvelle::merge::afterHead = nullptr;
    EXPECT_EQ(files(), (std::vector<std::string>{"out.gds.merging-" + std::to_string(::getpid()) + "-0", "p.gds"}));
    SetUp();  // the part, whole again

    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        carvelle::merge::afterHead = [] { std::raise(SIGKILL); };
        ::_exit(carvelle::merge_exit_status(mergeInto(out).failure));
    }
    int status = -1;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(files().size(), 3u);  // the killed merge's file is left

    const carvelle::MergeResult result = mergeInto(out);
    carvelle::namedTemporaryOnly = false;
    EXPECT_EQ(result.failure, MergeFailure::None) << result.message;
    EXPECT_EQ(readFile(taken), text("another merge's"));
    EXPECT_EQ(files(),
              (std::vector<std::string>{"out.gds", "out.gds.merging-" + std::to_string(::getpid()) + "-0", "p.gds"}));
}

// A folder put at OUT while the merge runs is not replaced: the merge fails
// and leaves neither its file nor a name of it.
TEST_F(MergeOutput, AFolderThatAppearsAtTheOutputIsNotReplaced) {
    outputPath = dir.file("out.gds");
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named);
        carvelle::namedTemporaryOnly = named;
        carvelle::merge::afterHead = [] { std::filesystem::create_directory(outputPath); };
        const carvelle::MergeResult result = mergeInto(outputPath);
        carvelle::merge::afterHead = nullptr;
        carvelle::namedTemporaryOnly = false;
        EXPECT_NE(result.failure, MergeFailure::None);
        EXPECT_NE(result.message.find("not a regular file"), std::string::npos) << result.message;
        EXPECT_TRUE(std::filesystem::is_directory(outputPath));
        EXPECT_EQ(files(), (std::vector<std::string>{"out.gds", "p.gds"}));
        std::filesystem::remove(outputPath);
    }
}

}  // namespace
