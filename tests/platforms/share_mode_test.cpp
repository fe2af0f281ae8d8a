// SPDX-License-Identifier: MIT
// The output file is opened without denying others: while a library is being
// written, another handle can open the same file for reading or for writing.
// The cases run on every platform; on Windows they also open the file through
// CreateFileA with explicit share modes, the way other Windows programs do.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gds_api.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

std::vector<unsigned char> readWhole(std::FILE* file) {
    std::vector<unsigned char> bytes;
    unsigned char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

std::vector<unsigned char> readFile(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return {};
    std::vector<unsigned char> bytes = readWhole(file);
    std::fclose(file);
    return bytes;
}

// Size of a library with no structure, written to a file named name:
// HEADER 6, BGNLIB 28, LIBNAME 4 + the name padded to an even length,
// UNITS 20, ENDLIB 4.
std::size_t emptyLibrarySize(const char* name) {
    const std::size_t length = std::strlen(name);
    return 6 + 28 + 4 + length + (length % 2) + 20 + 4;
}

class ShareModeTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (handle_ != nullptr) GDS_EndLib(handle_);
        std::remove(name_);
    }
    void begin() { ASSERT_EQ(GDS_BeginLib(name_, 0.001, 1e-9, &handle_), GDS_OK); }
    int32_t end() {
        const int32_t code = GDS_EndLib(handle_);
        handle_ = nullptr;
        return code;
    }

    const char* name_ = "share mode test.gds";
    GdsHandle handle_ = nullptr;
};

TEST_F(ShareModeTest, AnotherHandleReadsWhileTheLibraryWrites) {
    begin();
    std::FILE* reader = std::fopen(name_, "rb");
    ASSERT_NE(reader, nullptr) << "the library denies reading its file";
    ASSERT_EQ(GDS_BeginStructure(handle_, "TOP"), GDS_OK);
    ASSERT_EQ(GDS_Box(handle_, 0, 0, 10, 10, 1, 0, 0, 0), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(handle_), GDS_OK);
    // A second reader, opened after the first records.
    std::FILE* second = std::fopen(name_, "rb");
    EXPECT_NE(second, nullptr);
    if (second != nullptr) std::fclose(second);
    ASSERT_EQ(end(), GDS_OK);

    // The reader opened during the writing sees the finished file: the same
    // file, not one that the library replaced.
    const std::vector<unsigned char> seen = readWhole(reader);
    std::fclose(reader);
    const std::vector<unsigned char> header = {0x00, 0x06, 0x00, 0x02, 0x00, 0x03};
    ASSERT_GE(seen.size(), header.size());
    EXPECT_TRUE(std::equal(header.begin(), header.end(), seen.begin()));
    const std::vector<unsigned char> endlib = {0x00, 0x04, 0x04, 0x00};
    EXPECT_TRUE(std::equal(endlib.begin(), endlib.end(), seen.end() - 4));
    EXPECT_EQ(seen, readFile(name_));
}

TEST_F(ShareModeTest, AnotherHandleOpensForWritingWhileTheLibraryWrites) {
    begin();
    // "r+b" opens an existing file for reading and writing without cutting it.
    std::FILE* other = std::fopen(name_, "r+b");
    ASSERT_NE(other, nullptr) << "the library denies writing its file";
    std::fclose(other);
    ASSERT_EQ(end(), GDS_OK);
    EXPECT_EQ(readFile(name_).size(), emptyLibrarySize(name_));
}

TEST_F(ShareModeTest, AnExistingFileIsCutToWhatTheLibraryWrites) {
    {
        std::FILE* old = std::fopen(name_, "wb");
        ASSERT_NE(old, nullptr);
        const std::vector<unsigned char> junk(5000, 0xAB);
        ASSERT_EQ(std::fwrite(junk.data(), 1, junk.size(), old), junk.size());
        std::fclose(old);
    }
    begin();
    ASSERT_EQ(end(), GDS_OK);
    const std::vector<unsigned char> bytes = readFile(name_);
    ASSERT_EQ(bytes.size(), emptyLibrarySize(name_));
    // LIBNAME holds the name exactly as it was passed, spaces included.
    const std::size_t libname = 6 + 28;
    const std::size_t length = std::strlen(name_);
    EXPECT_EQ(bytes[libname + 2], 0x02);
    EXPECT_EQ(bytes[libname + 3], 0x06);
    EXPECT_EQ(std::string(bytes.begin() + libname + 4, bytes.begin() + libname + 4 + length), name_);
}

TEST_F(ShareModeTest, TwoLibrariesOnTheSameNameBothOpen) {
    // Nothing stops a second library on the same name: neither open denies
    // the other. The file then holds the second library's bytes over the
    // first's; only that both calls succeed is tested here.
    begin();
    GdsHandle second = nullptr;
    EXPECT_EQ(GDS_BeginLib(name_, 0.001, 1e-9, &second), GDS_OK);
    EXPECT_EQ(GDS_EndLib(second), GDS_OK);
    EXPECT_EQ(end(), GDS_OK);
}

#ifdef _WIN32

// Opens name through CreateFileA with the given access and share mode, as a
// Windows program would, and reports whether the open succeeded.
bool canOpen(const char* name, DWORD access, DWORD share) {
    const HANDLE file = CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

TEST_F(ShareModeTest, CreateFileForReadingSucceedsBetweenBeginAndEnd) {
    begin();
    // The library holds the file open for writing, so a reader must let
    // others write (FILE_SHARE_WRITE); the library's own share mode decides
    // whether the reader's GENERIC_READ is allowed.
    EXPECT_TRUE(canOpen(name_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_TRUE(canOpen(name_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    EXPECT_TRUE(canOpen(name_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_TRUE(canOpen(name_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    // A reader that denies writing conflicts with the library's open write
    // access and must fail: this proves the file is really held open.
    EXPECT_FALSE(canOpen(name_, GENERIC_READ, FILE_SHARE_READ));
    ASSERT_EQ(end(), GDS_OK);
    // Once the library has ended, nothing holds the file.
    EXPECT_TRUE(canOpen(name_, GENERIC_READ, FILE_SHARE_READ));
}

TEST_F(ShareModeTest, CreateFileReaderSeesTheRecordsAfterTheEnd) {
    begin();
    const HANDLE reader = CreateFileA(name_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_EQ(end(), GDS_OK);
    unsigned char bytes[256] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(reader, bytes, sizeof bytes, &got, nullptr));
    CloseHandle(reader);
    EXPECT_EQ(got, emptyLibrarySize(name_));
    const unsigned char header[] = {0x00, 0x06, 0x00, 0x02, 0x00, 0x03, 0x00, 0x1C, 0x01, 0x02};
    EXPECT_EQ(std::memcmp(bytes, header, sizeof header), 0);
}

TEST_F(ShareModeTest, TheFileCanBeRenamedWhileTheLibraryWrites) {
    // FILE_SHARE_DELETE: the share mode denies nothing, renaming included.
    begin();
    const char* moved = "share mode test moved.gds";
    std::remove(moved);
    EXPECT_TRUE(MoveFileExA(name_, moved, MOVEFILE_REPLACE_EXISTING));
    ASSERT_EQ(end(), GDS_OK);
    EXPECT_EQ(readFile(moved).size(), emptyLibrarySize(name_));
    std::remove(moved);
}

#endif  // _WIN32

}  // namespace
