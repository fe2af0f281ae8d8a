// SPDX-License-Identifier: MIT
// Test-only helpers: expected bytes spelled out, a record splitter for written
// files, timestamp masking and a temporary directory. Independent of the
// library's own encoders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace gdstest {

using Bytes = std::vector<std::uint8_t>;
using Point = std::pair<std::int32_t, std::int32_t>;

// Record types of the stream format, as numbered by the format itself.
enum RecordType : std::uint8_t {
    HEADER = 0x00, BGNLIB = 0x01, LIBNAME = 0x02, UNITS = 0x03, ENDLIB = 0x04, BGNSTR = 0x05,
    STRNAME = 0x06, ENDSTR = 0x07, BOUNDARY = 0x08, PATH = 0x09, SREF = 0x0A, AREF = 0x0B,
    TEXT = 0x0C, LAYER = 0x0D, DATATYPE = 0x0E, WIDTH = 0x0F, XY = 0x10, ENDEL = 0x11, SNAME = 0x12,
    COLROW = 0x13, NODE = 0x15, TEXTTYPE = 0x16, PRESENTATION = 0x17, STRING = 0x19, STRANS = 0x1A,
    MAG = 0x1B, ANGLE = 0x1C, PATHTYPE = 0x21, ELFLAGS = 0x26, NODETYPE = 0x2A, BOX = 0x2D,
    BOXTYPE = 0x2E, PLEX = 0x2F, PROPATTR = 0x2B, PROPVALUE = 0x2C
};

// "00 04 2D 00" -> {0x00, 0x04, 0x2D, 0x00}; anything but hex digits separates.
inline Bytes hex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (v < 0) continue;
        if (high < 0) { high = v; } else { out.push_back(static_cast<std::uint8_t>(high << 4 | v)); high = -1; }
    }
    return out;
}

inline Bytes be16(std::int64_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    return {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u & 0xFF)};
}
inline Bytes be32(std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16 & 0xFF),
            static_cast<std::uint8_t>(u >> 8 & 0xFF), static_cast<std::uint8_t>(u & 0xFF)};
}
inline Bytes operator+(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }
inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes padded(const std::string& s) { Bytes b = text(s); if (b.size() % 2) b.push_back(0); return b; }
inline Bytes points(const std::vector<Point>& pts) {
    Bytes out;
    for (const auto& [x, y] : pts) out = out + be32(x) + be32(y);
    return out;
}
// One whole record: its length is counted from the payload given here.
inline Bytes record(std::uint8_t type, std::uint8_t dataType, const Bytes& payload = {}) {
    return be16(static_cast<std::int64_t>(payload.size() + 4)) + Bytes{type, dataType} + payload;
}

inline std::int32_t be32At(const Bytes& b, std::size_t at) {
    return static_cast<std::int32_t>(std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
                                     std::uint32_t{b[at + 2]} << 8 | std::uint32_t{b[at + 3]});
}

struct Record {
    std::size_t offset;  // of the header in the file
    std::uint16_t length;
    std::uint8_t type;
    std::uint8_t dataType;
    Bytes payload;
    Bytes bytes() const { return be16(length) + Bytes{type, dataType} + payload; }
    std::vector<Point> xy() const {
        std::vector<Point> out;
        for (std::size_t i = 0; i + 8 <= payload.size(); i += 8) out.emplace_back(be32At(payload, i), be32At(payload, i + 4));
        return out;
    }
};

// Splits a file into records, each at least 4 bytes long and of even
// length, up to the first that does not fit; tiled tells whether they cover
// the file exactly (a file cut by a failing disk does not).
inline std::vector<Record> splitRecords(const Bytes& file, bool& tiled) {
    std::vector<Record> out;
    std::size_t at = 0;
    tiled = true;
    while (at < file.size()) {
        const std::size_t left = file.size() - at;
        const std::uint16_t length = left < 4 ? 0 : static_cast<std::uint16_t>(file[at] << 8 | file[at + 1]);
        if (length < 4 || length % 2 || length > left) { tiled = false; break; }
        out.push_back({at, length, file[at + 2], file[at + 3],
                       Bytes(file.begin() + static_cast<long>(at) + 4, file.begin() + static_cast<long>(at + length))});
        at += length;
    }
    return out;
}

// The same, for files that must tile exactly: anything else fails the test.
inline std::vector<Record> splitRecords(const Bytes& file) {
    bool tiled = false;
    std::vector<Record> out = splitRecords(file, tiled);
    if (!tiled) {
        const std::size_t end = out.empty() ? 0 : out.back().offset + out.back().length;
        ADD_FAILURE() << "records stop at byte " << end << " of " << file.size();
    }
    return out;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file with the 24 timestamp bytes of every BGNLIB and BGNSTR zeroed,
// so that two writes of the same library compare equal byte for byte.
inline Bytes maskTimestamps(Bytes file) {
    bool tiled = false;
    for (const Record& r : splitRecords(file, tiled)) {
        if ((r.type == BGNLIB || r.type == BGNSTR) && r.payload.size() == 24) {
            std::fill_n(file.begin() + static_cast<long>(r.offset) + 4, 24, std::uint8_t{0});
        }
    }
    return file;
}

// A fresh directory under the system's temp folder, removed with its files.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "carvelle-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace gdstest
