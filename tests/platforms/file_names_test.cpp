// SPDX-License-Identifier: MIT
// File names reach the file system as the host meant them: UTF-8 names in any
// script, names in the ANSI code page, and paths beyond Windows' limit of 259
// characters, absolute with either slash or relative. Each file is looked up
// in a listing of its folder made by the test's own means, and its LIBNAME
// holds the name's bytes as given. Under Wine these exercise the DLL as a host
// sees it; on Linux names are bytes and the same cases hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gds_api.h"
#include "gds_test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using gdstest::Bytes;

// UTF-8 spelled out byte by byte.
const std::string kJapanese = "\xE5\x9B\x9E\xE8\xB7\xAF\xE5\x9B\xB3.gds";  // kairozu (circuit diagram)
const std::string kEmoji = "chip-\xF0\x9F\x9A\x80.gds";                      // U+1F680, two UTF-16 units

// The path of a UTF-8 name for the test's own file calls. On Windows the
// verbatim form, to which no length limit applies, after libstdc++'s own
// UTF-8 conversion.
fs::path systemPath(const std::string& utf8) {
#ifdef _WIN32
    return fs::path(L"\\\\?\\" + fs::u8path(utf8).make_preferred().wstring());
#else
    return fs::path(utf8);
#endif
}

// The names in folder, in UTF-8. MinGW's directory_iterator cannot take a
// verbatim path, so Windows lists through FindFirstFileW.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((systemPath(folder).wstring() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(fs::path(name).u8string());
    } while (FindNextFileW(search, &found));
    FindClose(search);
#else
    for (const auto& entry : fs::directory_iterator(systemPath(folder))) {
        names.push_back(entry.path().filename().u8string());
    }
#endif
    return names;
}

Bytes libName(const std::string& utf8Path) {
    std::ifstream in(systemPath(utf8Path), std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const auto& record : gdstest::splitRecords(file)) {
        if (record.type == gdstest::LIBNAME) return record.payload;
    }
    return {};
}

class FileNameTest : public ::testing::Test {
protected:
    // TempDir's remove_all cannot take verbatim paths on MinGW: what the
    // test made goes first, deepest first.
    void TearDown() override {
        std::error_code ignored;
        for (auto made = made_.rbegin(); made != made_.rend(); ++made) fs::remove(systemPath(*made), ignored);
    }

    // Writes a library under name (in the current folder when relative) and
    // checks that folder holds it as expected, in UTF-8, with LIBNAME as given.
    void writeAndFind(const std::string& name, const std::string& folder, const std::string& expected) {
        SCOPED_TRACE(name);
        GdsHandle lib = nullptr;
        ASSERT_EQ(GDS_BeginLib(name.c_str(), 0.001, 1e-9, &lib), GDS_OK);
        ASSERT_EQ(GDS_EndLib(lib), GDS_OK);
        made_.push_back(folder + "/" + expected);
        const std::vector<std::string> names = namesIn(folder);
        std::string listing;
        for (const std::string& found : names) listing += "\n  " + found;
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << folder << " holds:" << listing;
        EXPECT_EQ(libName(folder + "/" + expected), gdstest::padded(name));
    }

    // A chain of folders, each name 50 characters, below base.
    std::string deepFolder(int depth) {
        std::string path = base;
        for (int i = 0; i < depth; ++i) {
            path += "/" + std::string(49, static_cast<char>('a' + i)) + std::to_string(i);
            fs::create_directory(systemPath(path));
            made_.push_back(path);
        }
        return path;
    }

    gdstest::TempDir dir;
    const std::string base = dir.path().string();

private:
    std::vector<std::string> made_;
};

TEST_F(FileNameTest, Utf8NamesInJapaneseAndWithAnEmojiGetThoseNames) {
    for (const std::string& name : {kJapanese, kEmoji}) writeAndFind(base + "/" + name, base, name);
    EXPECT_EQ(namesIn(base).size(), 2u);
}

#ifdef _WIN32
// Bytes that are not UTF-8 still go to CreateFileA, read in the ANSI code page.
TEST_F(FileNameTest, AnsiNamesAreReadInTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
    writeAndFind(base + "\\caf\xE9 \xA9 1252.gds", base, "caf\xC3\xA9 \xC2\xA9 1252.gds");
}
#endif

TEST_F(FileNameTest, PathsBeyond259CharactersAbsoluteOrRelative) {
    const std::string deep = deepFolder(5);
    ASSERT_GT(deep.size(), 259u);
    writeAndFind(deep + "/forward slashes.gds", deep, "forward slashes.gds");
    writeAndFind(deep + "/" + kJapanese, deep, kJapanese);

    const fs::path previous = fs::current_path();
    fs::current_path(base);
    const std::string relative = deep.substr(base.size() + 1) + "/relative.gds";
    writeAndFind(relative, deep, "relative.gds");
    fs::current_path(previous);
}

}  // namespace
