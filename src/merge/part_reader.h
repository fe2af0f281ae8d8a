// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "encoding/gzip_reader.h"
#include "platform/files.h"

namespace carvelle::merge {

// A part's library bytes, read in order: a plain part straight from its file, a part named *.gz (any case)
// decompressed on the way, so that the scanner and the copy see the same bytes either way. Offsets count
// decompressed bytes.
class PartReader {
public:
    // False with why in error; a name ending in .gz in a build without gzip is refused here.
    bool open(const std::string& path, std::string& error);
    bool gzip() const { return inflater_ != nullptr; }
    PartFile& file() { return file_; }
    const FileIdentity& identity() const { return file_.identity(); }
    bool unchanged(std::string& error) { return file_.unchanged(error); }

    // Reads up to capacity bytes from the start onward; 0 at the end or on failure (error set). Not mixed with
    // next or readAt on one reader.
    std::size_t read(std::uint8_t* buffer, std::size_t capacity, std::string& error) {
        return inflater_ ? inflate(buffer, capacity, error) : file_.read(buffer, capacity, error);
    }
    // The next piece from the reading position, at most PartFile::kViewSize bytes, valid until the next call;
    // size 0 at the end. Null on failure, with error set.
    const std::uint8_t* next(std::size_t& size, std::string& error);
    // Exactly size bytes from offset. A gzip part moves forward by decompressing, and backward by starting
    // again from its first byte.
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::string& error);
    // The gzip data failed its checks or ended inside a member: the part is damaged, not unreadable.
    bool damaged() const { return damaged_; }
    // Library bytes read so far; for damaged gzip data, those decompressed before the fault.
    std::uint64_t position() const { return position_; }

private:
    // Decompresses up to room bytes at position_; 0 at the end of the data or on failure (error set).
    std::size_t inflate(std::uint8_t* out, std::size_t room, std::string& error);
    bool restart(std::string& error);

    PartFile file_;
    std::string path_;
    std::uint64_t position_ = 0;  // of the next byte next() returns
    // A gzip part: its inflater, and the compressed bytes read but not yet used.
    std::unique_ptr<GzipInflater> inflater_;
    std::unique_ptr<std::uint8_t[]> input_, piece_;
    std::uint64_t inputAt_ = 0;  // compressed bytes read from the file
    const std::uint8_t* pending_ = nullptr;
    std::size_t pendingSize_ = 0;
    bool damaged_ = false;
};

// Called, when set, once the parts' heads are read and the output's head is written: a test changes a part, or
// sends a signal, there.
extern void (*afterHead)();
// Called, when set, as the copy opens each part again (with the part's index), once the check is through with
// that part: a test changes a part there.
extern void (*beforeCopy)(std::size_t part);
// Called, when set, as the check opens each part again (with the part's index): a test changes a part there.
extern void (*beforeCheck)(std::size_t part);

}  // namespace carvelle::merge
