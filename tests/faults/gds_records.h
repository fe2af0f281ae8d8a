#pragma once

// Splits a written GDSII file into its records, independently of the
// library's encoder: a record is a big-endian 16-bit total length (header
// included), a record type byte and a data type byte, then the payload.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gdstest {

// Record types used by these tests, by their numbers in the format.
enum : std::uint8_t {
    kHeader = 0x00, kBgnLib = 0x01, kLibName = 0x02, kUnits = 0x03, kEndLib = 0x04,
    kBgnStr = 0x05, kStrName = 0x06, kEndStr = 0x07, kBoundary = 0x08, kPath = 0x09,
    kSref = 0x0A, kAref = 0x0B, kText = 0x0C, kXy = 0x10, kEndEl = 0x11, kNode = 0x15,
    kBox = 0x2D, kLayer = 0x0D, kDatatype = 0x0E
};

struct Record {
    std::size_t offset;  // of the header in the file
    std::uint16_t length;
    std::uint8_t type;
    std::uint8_t dataType;
};

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records in file order. tiled is false when a length is odd or below 4, or
// when the last record runs past the end (the records stop there).
inline std::vector<Record> splitRecords(const std::vector<std::uint8_t>& bytes, bool& tiled) {
    std::vector<Record> records;
    std::size_t at = 0;
    tiled = true;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) { tiled = false; break; }
        const auto length = static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
        if (length < 4 || (length & 1) != 0 || length > bytes.size() - at) { tiled = false; break; }
        records.push_back({at, length, bytes[at + 2], bytes[at + 3]});
        at += length;
    }
    return records;
}

// The file with the 24-byte timestamps of BGNLIB and BGNSTR zeroed, so that
// two writes of the same library compare equal byte for byte.
inline std::vector<std::uint8_t> maskTimestamps(std::vector<std::uint8_t> bytes) {
    bool tiled = false;
    for (const Record& r : splitRecords(bytes, tiled)) {
        if ((r.type == kBgnLib || r.type == kBgnStr) && r.length == 28) {
            for (std::size_t i = 4; i < 28; ++i) bytes[r.offset + i] = 0;
        }
    }
    return bytes;
}

}  // namespace gdstest
