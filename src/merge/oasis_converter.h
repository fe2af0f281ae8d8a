// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "library/library_writer.h"

namespace carvelle::merge {

// Replays the structures of checked GDSII parts through the library's own
// writer into one OASIS file, so that every mapping and refusal of the
// OASIS writer applies to the merge as to the calls. Only the element being
// read is held (its points, strings and properties): memory does not grow
// with the parts, only with the distinct names the writer keeps.
//
// The bytes fed are whole structures of a part the check has vetted: no
// record is checked again here, but a record cut by the end of a piece is
// joined with the rest.
class OasisConverter {
public:
    OasisConverter();
    // Opens a temporary file beside output; false with error() set.
    bool open(const std::string& output, double meterUnit);
    // The bytes of one part from where its structures begin; a new part
    // starts with a new feed after startPart. False at the first element
    // the writer refuses, with error() naming part, structure and element.
    void startPart(const std::string& path, std::uint64_t at);
    bool feed(const std::uint8_t* bytes, std::size_t size);
    // Jumps over a structure left out (a repeated one): the next byte fed is
    // at offset.
    void skipTo(std::uint64_t offset) {
        offset_ = offset;
        cut_.clear();
    }
    // Ends the file and gives it its name; false with error() set.
    bool finish();
    // Removes what was written.
    void abandon();

    const std::string& error() const { return error_; }
    // True when the error is the file's (a failed write), not an element.
    bool writeFailed() const { return writeFailed_; }
    // Properties the writer took no part of (it attaches none to OASIS
    // elements yet), counted for the report.
    std::uint64_t droppedProperties() const { return droppedProperties_; }

private:
    bool record(const std::uint8_t* bytes, std::size_t size);
    bool element();
    bool fail(std::int32_t code, const char* what);

    // Heap-held: the writer's buffer is a megabyte.
    std::unique_ptr<LibraryWriter> writer_;
    std::string part_;
    std::uint64_t offset_ = 0;  // of the next byte fed, in the part
    std::string cut_;           // a record begun in an earlier piece
    std::uint64_t cutAt_ = 0;   // and its offset
    std::string structure_;
    std::string error_;
    bool writeFailed_ = false;
    std::uint64_t droppedProperties_ = 0;

    // The element being read.
    struct Element {
        std::uint8_t kind = 0;  // its record type, 0 outside an element
        std::uint64_t at = 0;   // its first record's offset
        std::int16_t layer = 0, datatype = 0, pathtype = 0, presentation = 0, strans = 0, cols = 0, rows = 0;
        std::int32_t width = 0, beginExtension = 0, endExtension = 0;
        double mag = 1.0, angle = 0.0;
        std::string name;  // SNAME or STRING
        std::vector<std::int32_t> xs, ys;
        std::vector<std::pair<std::int16_t, std::string>> properties;
    } element_;
};

}  // namespace carvelle::merge
