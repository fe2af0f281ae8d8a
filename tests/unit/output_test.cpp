// SPDX-License-Identifier: MIT
// The output file written beside its name, as the merge writes it: the name
// appears only once the file is closed, bytes are counted, and a file that
// cannot be made says which temporary name it tried. The library's buffer
// reports a failed write itself.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "encoding/byte_sink.h"
#include "gds_test_support.h"
#include "platform/files.h"

namespace {

TEST(OutputFile, AFileWrittenBesideItsNameTakesItOnlyWhenClosed) {
    gdstest::TempDir dir;
    const std::string path = dir.file("out.gds");
    carvelle::OutputFile file;
    ASSERT_TRUE(file.openBeside(path));
    ASSERT_TRUE(file.write("abc", 3));
    ASSERT_TRUE(file.write("de", 2));
    EXPECT_EQ(file.written(), 5u);
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_TRUE(file.close());
    EXPECT_EQ(gdstest::readFile(path), gdstest::text("abcde"));
    EXPECT_TRUE(file.failure().empty());
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u) << "the temporary name is left";
}

TEST(OutputFile, AFileThatCannotBeMadeSaysWhichNameItTried) {
    gdstest::TempDir dir;
    const std::string path = dir.file("missing") + "/out.gds";
    carvelle::OutputFile file;
    EXPECT_FALSE(file.openBeside(path));
    EXPECT_TRUE(file.failed());
    EXPECT_EQ(file.failure().rfind("cannot create " + path + ".merging-", 0), 0u) << file.failure();
    EXPECT_FALSE(file.write("a", 1));
    EXPECT_FALSE(file.close());
}

// The library's buffer over an output that takes nothing: the failure is the
// sink's to report, from the flush on.
TEST(ByteSink, AFailedWriteIsReportedByFlush) {
    carvelle::Output output;
    carvelle::ByteSink sink(output);
    carvelle::RecordWriter records = sink.reserve(4);
    records.emptyRecord(carvelle::Record::EndLib);
    sink.commit(records);
    EXPECT_FALSE(sink.failed());
    EXPECT_FALSE(sink.flush());
    EXPECT_TRUE(sink.failed());
    EXPECT_FALSE(sink.flush());
}

}  // namespace
