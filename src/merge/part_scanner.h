// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "merge/element_checker.h"
#include "merge/like_elements.h"

namespace carvelle::merge {

// What the scanner hands on of the records it has checked, in file order, as it walks them: a reader that
// gathers figures does so in the scanner's walk instead of a second one.
class RecordVisitor {
public:
    // One whole record (header and payload), and the offset of its first byte. A record cut by the end of a
    // piece comes whole once its last byte has arrived.
    virtual void record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) = 0;
    // `count` elements in a row from `first`, each with the record headers of `like` (like.size() bytes each).
    virtual void likeElements(const std::uint8_t* first, std::size_t count, const LikeElements& like) = 0;
    // One element of `size` bytes at `offset` with the record headers of `like` but for the length of its
    // varying record: its record r begins at like.start(r, size). By default, its records one by one.
    virtual void variedElement(const std::uint8_t* element, std::size_t size, std::uint64_t offset, const LikeElements& like) {
        eachRecord(*this, element, size, offset, like);
    }

    // Hands each record of such an element to visitor.record(): a visitor of a final class gets direct calls.
    template <class Visitor>
    static void eachRecord(Visitor& visitor, const std::uint8_t* element, std::size_t size, std::uint64_t offset,
                           const LikeElements& like) {
        for (std::size_t r = 0; r < like.records(); ++r) {
            const std::size_t start = like.start(r, size);
            const std::uint8_t* at = element + start;
            visitor.record(at, std::size_t{at[0]} << 8 | at[1], offset + start);
        }
    }

protected:
    ~RecordVisitor() = default;
};

// Walks the records of one part as its bytes arrive, in pieces of any size,
// and checks that they make one library the merge can join: HEADER, BGNLIB,
// LIBNAME, the optional head records of other writers (LIBDIRSIZE and
// SRFNAME, before or after LIBNAME as readers take them; REFLIBS, FONTS,
// GENERATIONS, ATTRTABLE, FORMAT, MASK, ENDMASKS after it) and UNITS, then
// structures (BGNSTR, STRNAME ... ENDSTR), then ENDLIB, then nothing but NUL
// padding. The records inside a structure must make elements as the format
// defines them (ElementChecker).
class PartScanner {
public:
    // A structure read to its ENDSTR: its name up to the first NUL, where its BGNSTR begins and its ENDSTR ends,
    // and (when kept) the names its SREFs and AREFs reference, each once, in no particular order.
    struct Structure {
        std::string name;
        std::uint64_t begin, end;
        std::vector<std::string> references;
    };

    // Hands each record checked to visitor from now on (none by default).
    void visit(RecordVisitor* visitor) { visitor_ = visitor; }
    // Gathers the names each structure references into its Structure (off by default): memory grows with the
    // distinct names of one structure, not with its elements.
    void keepReferences(bool keep) { keepReferences_ = keep; }
    // False at the first fault; error() says what and at which byte, errorOffset() the byte (0 for a file that
    // is no GDSII library).
    bool feed(const std::uint8_t* bytes, std::size_t size);
    // After the last byte: false unless the library has ended.
    bool finish();

    bool headRead() const { return expect_ >= Expect::Structure; }
    // Once the head is read: HEADER's version, the 16 payload bytes of UNITS, the whole records that stand
    // before LIBNAME in the format's order (LIBDIRSIZE, SRFNAME, wherever the part had them), those between
    // LIBNAME and UNITS, and the offset of the first byte after UNITS.
    std::uint16_t version() const { return version_; }
    const std::string& units() const { return units_; }
    const std::string& nameRecords() const { return nameRecords_; }
    const std::string& headRecords() const { return headRecords_; }
    std::uint64_t bodyStart() const { return bodyStart_; }
    // The structures ended since the caller last cleared it.
    std::vector<Structure>& structures() { return structures_; }
    // The structure whose ENDSTR has not come yet, if any: its name (once STRNAME is read) and its BGNSTR's offset.
    bool inStructure() const { return expect_ == Expect::StrName || expect_ == Expect::Element; }
    bool openNamed() const { return named_; }
    const std::string& openName() const { return structure_; }
    std::uint64_t openBegin() const { return structureBegin_; }
    // Bytes fed so far.
    std::uint64_t offset() const { return offset_; }
    const std::string& error() const { return error_; }
    std::uint64_t errorOffset() const { return errorOffset_; }

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

    bool fail(std::uint64_t at, std::string reason);
    bool beginRecord();
    bool endRecord();
    // Skips the whole element records at the front of a piece; handed on to visitor_ when kVisit (a loop of its
    // own, so that the merge's walk pays nothing for the visitor).
    template <bool kVisit>
    std::size_t skipElements(const std::uint8_t* bytes, std::size_t size);
    // Hands the record just ended to the visitor: [from, to) is its part in this piece.
    void visitWhole(const std::uint8_t* from, const std::uint8_t* to);
    // An SREF's or AREF's SNAME payload, for the open structure's references.
    void reference(const char* name, std::size_t size);

    Expect expect_ = Expect::Header;
    std::uint64_t offset_ = 0;       // of the next byte to arrive
    std::uint64_t recordStart_ = 0;  // of the record in progress
    std::uint8_t header_[4] = {};
    std::size_t headerHave_ = 0;
    std::size_t payloadLeft_ = 0;
    // What the record in progress is kept for.
    enum class Kept : std::uint8_t {
        Nothing,
        Version,
        HeadRecord,
        NameRecord,
        Units,
        Name,
        Reference
    };
    Kept kept_ = Kept::Nothing;
    std::string payload_;
    std::uint16_t version_ = 0;
    std::string units_, nameRecords_, headRecords_;
    std::string structure_;  // the open structure's name
    std::uint64_t structureBegin_ = 0;
    std::uint64_t templatesLearned_ = 0;  // the id of the last element template learned
    bool named_ = false;                  // the open structure's STRNAME is read
    bool keepReferences_ = false;
    ElementChecker elements_;
    std::uint64_t bodyStart_ = 0;
    std::vector<Structure> structures_;
    std::string error_;
    std::uint64_t errorOffset_ = 0;
    RecordVisitor* visitor_ = nullptr;
    std::string cut_;                             // for the visitor: the bytes so far of a record that began in an earlier piece
    std::unordered_set<std::string> references_;  // of the open structure
    std::string lastReference_;                   // the last one added, which the next most often repeats
};

}  // namespace carvelle::merge
