// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "merge/element_checker.h"

namespace carvelle::merge {

// Walks the records of one part as its bytes arrive, in pieces of any size,
// and checks that they make one library the merge can join: HEADER, BGNLIB,
// LIBNAME and UNITS, then structures (BGNSTR, STRNAME ... ENDSTR), then
// ENDLIB, then nothing but NUL padding. The records inside a structure must
// make elements as the format defines them (ElementChecker).
class PartScanner {
public:
    // False at the first fault; error() says what and at which byte.
    bool feed(const std::uint8_t* bytes, std::size_t size);
    // After the last byte: false unless the library has ended.
    bool finish();

    bool headRead() const { return expect_ >= Expect::Structure; }
    // The 16 payload bytes of UNITS, and the offset of the first byte after UNITS, once read.
    const std::string& units() const { return units_; }
    std::uint64_t bodyStart() const { return bodyStart_; }
    // Names of the structures defined since the last call, each up to its first NUL. The caller clears it.
    std::vector<std::string>& names() { return names_; }
    const std::string& error() const { return error_; }

private:
    enum class Expect : std::uint8_t {
        Header,
        BgnLib,
        LibName,
        Units,
        Structure,
        StrName,
        Element,
        Padding
    };

    bool fail(std::string reason);
    bool beginRecord();
    bool endRecord();
    // Skips the whole element records at the front of a piece.
    std::size_t skipElements(const std::uint8_t* bytes, std::size_t size);

    Expect expect_ = Expect::Header;
    std::uint64_t offset_ = 0;       // of the next byte to arrive
    std::uint64_t recordStart_ = 0;  // of the record in progress
    std::uint8_t header_[4] = {};
    std::size_t headerHave_ = 0;
    std::size_t payloadLeft_ = 0;
    bool keepPayload_ = false;
    std::string payload_;
    std::string units_;
    std::string structure_;  // the open structure's name, for messages
    std::uint64_t bodyStart_ = 0;
    std::vector<std::string> names_;
    std::string error_;
    ElementChecker elements_;
};

}  // namespace carvelle::merge
