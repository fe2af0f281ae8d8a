// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "merge/part_scanner.h"

namespace info {

// carvelle-info --properties: prints each PROPATTR/PROPVALUE pair as the scanner meets it, one line each, with
// its structure, its element's kind and the element's number in the structure (from 1), then hands every record
// on to the next visitor. Nothing is kept but the open structure's name, so memory stays constant.
class PropertyLister final : public carvelle::merge::RecordVisitor {
public:
    PropertyLister(carvelle::merge::RecordVisitor& next, std::FILE* out) : next_(next), out_(out) {}

    void record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) override;
    void likeElements(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like) override;

private:
    void take(const std::uint8_t* record, std::size_t length);

    carvelle::merge::RecordVisitor& next_;
    std::FILE* out_;
    std::string structure_;
    const char* kind_ = "";
    std::uint64_t element_ = 0;
    int attribute_ = 0;
};

}  // namespace info
