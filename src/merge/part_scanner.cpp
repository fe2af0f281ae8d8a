// SPDX-License-Identifier: MIT
#include "merge/part_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "encoding/record_writer.h"

namespace carvelle::merge {
namespace {

// Record types 0 to 7 are the brackets of the library and its structures
// (HEADER ... ENDSTR): element records number above them.
constexpr std::uint8_t kLastBracket = tagOf(Record::EndStr).recordType;
constexpr std::size_t kUnitsPayload = 2 * sizeof(Real8);

// The records that other writers put between LIBNAME and UNITS, with their data types. The merge keeps them
// when every part has the same.
constexpr std::uint8_t kNoData = 0, kInt16 = 2, kText = 6;
constexpr RecordTag kHeadRecords[] = {
    {recordTypeNamed("REFLIBS"), kText},
    {recordTypeNamed("FONTS"), kText},
    {recordTypeNamed("GENERATIONS"), kInt16},
    {recordTypeNamed("ATTRTABLE"), kText},
    {recordTypeNamed("FORMAT"), kInt16},
    {recordTypeNamed("MASK"), kText},
    {recordTypeNamed("ENDMASKS"), kNoData},
};
// Those that the format puts between BGNLIB and LIBNAME; readers (KLayout) take them after LIBNAME as well.
constexpr RecordTag kNameRecords[] = {
    {recordTypeNamed("LIBDIRSIZE"), kInt16},
    {recordTypeNamed("SRFNAME"), kText},
};
constexpr std::uint8_t kSname = tagOf(Record::Sname).recordType;

// The record that varies between elements of one shape, by the record that opens them: a reference's name, a
// text's string, a shape's points.
std::uint8_t varyingIn(std::uint8_t opener) {
    if (opener == tagOf(Record::Sref).recordType || opener == tagOf(Record::Aref).recordType) return kSname;
    if (opener == tagOf(Record::Text).recordType) return tagOf(Record::String).recordType;
    return tagOf(Record::Xy).recordType;
}

bool is(const std::uint8_t* header, Record record) {
    const RecordTag tag = tagOf(record);
    return header[2] == tag.recordType && header[3] == tag.dataType;
}

template <std::size_t kCount>
bool isOneOf(const std::uint8_t* header, const RecordTag (&tags)[kCount]) {
    return std::any_of(std::begin(tags), std::end(tags),
                       [&](RecordTag tag) { return header[2] == tag.recordType && header[3] == tag.dataType; });
}

std::string nameOf(std::uint8_t type) {
    if (const char* name = recordName(type)) return name;
    char text[24];
    std::snprintf(text, sizeof text, "record type 0x%02X", type);
    return text;
}

std::string dataTypeOf(std::uint8_t type) {
    if (const char* name = dataTypeName(type)) return name;
    return "data type " + std::to_string(type);
}

// What was found where `wanted` should stand: its name, and its data type when the name is right.
std::string found(const std::uint8_t* header, Record wanted) {
    const RecordTag tag = tagOf(wanted);
    if (header[2] != tag.recordType) return nameOf(header[2]);
    return nameOf(header[2]) + " holding " + dataTypeOf(header[3]) + " where " + nameOf(header[2]) + " holds " +
           dataTypeOf(tag.dataType);
}

// Asks for the cache line at `at` ahead of the walk: bytes that no copy brought into a processor cache (a mapped
// file's) come from memory while the elements before them are checked.
void prefetch(const std::uint8_t* at) {
#if defined(__GNUC__)
    __builtin_prefetch(at);
#else
    (void)at;
#endif
}

}  // namespace

bool PartScanner::fail(std::uint64_t at, std::string reason) {
    error_ = std::move(reason);
    errorOffset_ = at;
    return false;
}

template <bool kVisit>
std::size_t PartScanner::skipElements(const std::uint8_t* bytes, std::size_t size) {
    // The elements that repeat the record headers of one that the element checker passed are just as good:
    // only the elements that differ go through the checker. A layout mostly repeats one kind of element, or
    // a few in turn (a box, a polygon, a path, a text, ...): the last few elements learned are kept, and an
    // element that none of them fits is learned in the place of the oldest.
    constexpr std::size_t kTemplates = 8;
    const std::uint8_t endEl = tagOf(Record::EndEl).recordType;
    LikeElements likes[kTemplates];
    // Each ready template's first record header, as it lies in memory (0 for none: no header is 0): an element
    // is held only against the templates of its own kind.
    std::uint32_t firsts[kTemplates] = {};
    std::size_t current = 0;  // the template of the run, or the one being learned
    std::size_t oldest = 0;   // where the next element to learn goes
    // The template each kind of element was last taken by, by the record type that opens it: the one tried first
    // for the next element of that kind, which often fits it, or fits it but for one length.
    std::size_t byKind[ElementChecker::kColumns];
    std::fill(std::begin(byKind), std::end(byKind), kTemplates);
    std::size_t elementStart = 0, at = 0;
    std::size_t run = 0;                    // like elements in a row up to at, for the visitor
    bool whole = elements_.afterElement();  // an element begun in an earlier piece makes no template
    bool learning = !whole;                 // the records of an element are going into likes[current]
    std::uint8_t varies = 0;                // the record type that may vary in the element being learned
    std::size_t lastVaried = 0;             // the size of the last element that fitted a template but for one length
    // The structure an element that fits a template references, kept. A reference's name is the record that
    // varies: in an element that fits but for its length, the name begins where the template's does.
    const auto keepName = [&](const LikeElements& like) {
        if (keepReferences_ && like.nameAt() != LikeElements::kNoName) {
            const std::uint8_t* name = bytes + at + like.nameAt();
            reference(reinterpret_cast<const char*>(name) + kRecordHeaderSize,
                      (std::size_t{name[0]} << 8 | name[1]) - kRecordHeaderSize);
        }
    };
    // An element that fits a template: the run one longer.
    const auto take = [&](const LikeElements& like) {
        keepName(like);
        at += like.size();
        ++run;
        prefetch(bytes + at + 2048);
    };
    // An element of `bytesLong` bytes that fits a template but for its varying record: handed on alone.
    const auto takeVaried = [&](const LikeElements& like, std::size_t bytesLong) {
        keepName(like);
        if (kVisit) visitor_->variedElement(bytes + at, bytesLong, offset_ + at, like);
        at += bytesLong;
        prefetch(bytes + at + 2048);
    };
    while (size - at >= kRecordHeaderSize) {
        if (!learning) {
            LikeElements* like = &likes[current];
            if (like->ready()) {
                // The run of elements like the last: the hot loop of a file of one kind.
                const LikeElements& same = *like;
                while (same.matches(bytes + at, size - at)) take(same);
                if (size - at < kRecordHeaderSize) break;
            }
            // Another kind: the template that fits it, or a new one learned from it.
            if (kVisit && run > 0) visitor_->likeElements(bytes + at - run * like->size(), run, *like);
            run = 0;
            const std::size_t kind = bytes[at + 2] & (ElementChecker::kColumns - 1);
            std::size_t other = byKind[kind];
            std::size_t varied = 0;  // the size of an element that fits `other` but for its varying record
            if (other == kTemplates || !likes[other].matchesAtOnce(bytes + at, size - at)) {
                // The kind's last template may fit it but for one length; else another may fit it whole.
                if (other < kTemplates) varied = likes[other].variedSize(bytes + at, size - at);
                if (varied == 0) {
                    std::uint32_t first;
                    std::memcpy(&first, bytes + at, sizeof first);
                    other = 0;
                    while (other < kTemplates && (firsts[other] != first || other == current ||
                                                  !likes[other].matchesAtOnce(bytes + at, size - at))) {
                        ++other;
                    }
                }
                // Two such elements of one size in a row may begin a run of them: that size is learned.
                if (varied != 0 && varied == lastVaried) {
                    other = kTemplates;
                    varied = 0;
                }
                lastVaried = varied;
            }
            if (other < kTemplates) {
                current = other;
            } else {
                current = oldest;
                oldest = (oldest + 1) % kTemplates;
                likes[current].restart();
                firsts[current] = 0;
                learning = true;
                elementStart = at;
            }
            byKind[kind] = current;
            if (varied != 0) {
                takeVaried(likes[current], varied);
                continue;
            }
            if (!learning) {
                take(likes[current]);
                continue;
            }
        }
        LikeElements& like = likes[current];
        const std::size_t length = std::size_t{bytes[at]} << 8 | bytes[at + 1];
        if (length < kRecordHeaderSize || (length & 1) || length > size - at || bytes[at + 2] <= kLastBracket ||
            !elements_.record(length, bytes[at + 2], bytes[at + 3])) {
            break;
        }
        if (kVisit) visitor_->record(bytes + at, length, offset_ + at);
        like.add(bytes + at, at - elementStart);
        if (at == elementStart) {
            varies = varyingIn(bytes[at + 2]);
        } else if (bytes[at + 2] == varies) {
            const ElementChecker::Lengths lengths = elements_.lastLengths();
            like.markVarying(length, lengths.shortest, lengths.longest, lengths.unitMask);
        }
        if (bytes[at + 2] == kSname) {
            like.markName();
            if (keepReferences_) reference(reinterpret_cast<const char*>(bytes + at) + kRecordHeaderSize, length - kRecordHeaderSize);
        }
        const bool endsElement = bytes[at + 2] == endEl;
        at += length;
        if (endsElement) {
            if (whole) {
                like.learned(at - elementStart, ++templatesLearned_);
                if (like.ready()) std::memcpy(&firsts[current], bytes + elementStart, sizeof firsts[current]);
            } else {
                like.restart();
            }
            whole = true;
            learning = false;
            elementStart = at;
        }
    }
    if (kVisit && run > 0) visitor_->likeElements(bytes + at - run * likes[current].size(), run, likes[current]);
    return at;
}

bool PartScanner::feed(const std::uint8_t* bytes, std::size_t size) {
    if (!error_.empty()) return false;
    const std::uint8_t* record = bytes;  // where the record in progress begins in this piece, or this piece's part of it
    while (size > 0) {
        if (expect_ == Expect::Padding) {
            const auto* nonzero = std::find_if(bytes, bytes + size, [](std::uint8_t b) { return b != 0; });
            if (nonzero != bytes + size) {
                const std::uint64_t at = offset_ + static_cast<std::size_t>(nonzero - bytes);
                return fail(at, "bytes after ENDLIB at byte " + std::to_string(at));
            }
            offset_ += size;
            return true;
        }
        if (headerHave_ == 0 && expect_ == Expect::Element) {
            const std::size_t skipped = visitor_ ? skipElements<true>(bytes, size) : skipElements<false>(bytes, size);
            bytes += skipped;
            size -= skipped;
            offset_ += skipped;
            if (size == 0) break;
        }
        if (headerHave_ < kRecordHeaderSize) {
            if (headerHave_ == 0) {
                recordStart_ = offset_;
                record = bytes;
            }
            const std::size_t take = std::min(kRecordHeaderSize - headerHave_, size);
            std::copy_n(bytes, take, header_ + headerHave_);
            headerHave_ += take;
            bytes += take;
            size -= take;
            offset_ += take;
            if (headerHave_ < kRecordHeaderSize) break;
            if (!beginRecord()) return false;
        } else {
            const std::size_t take = std::min(payloadLeft_, size);
            if (kept_ != Kept::Nothing) payload_.append(reinterpret_cast<const char*>(bytes), take);
            payloadLeft_ -= take;
            bytes += take;
            size -= take;
            offset_ += take;
        }
        if (payloadLeft_ == 0) {
            if (!endRecord()) return false;
            if (visitor_ != nullptr) visitWhole(record, bytes);
        }
    }
    // A record cut by the piece's end: the visitor gets it once whole.
    if (visitor_ != nullptr && headerHave_ > 0) {
        cut_.append(reinterpret_cast<const char*>(record), static_cast<std::size_t>(bytes - record));
    }
    return true;
}

void PartScanner::visitWhole(const std::uint8_t* from, const std::uint8_t* to) {
    const auto length = static_cast<std::size_t>(offset_ - recordStart_);
    if (cut_.empty()) {
        visitor_->record(from, length, recordStart_);
        return;
    }
    cut_.append(reinterpret_cast<const char*>(from), static_cast<std::size_t>(to - from));
    visitor_->record(reinterpret_cast<const std::uint8_t*>(cut_.data()), length, recordStart_);
    cut_.clear();
}

bool PartScanner::beginRecord() {
    const std::size_t length = std::size_t{header_[0]} << 8 | header_[1];
    if (expect_ == Expect::Header && (!is(header_, Record::Header) || length != kInt16RecordSize)) {
        return fail(recordStart_, "not a GDSII library: it does not begin with HEADER");
    }
    const std::string at = " at byte " + std::to_string(recordStart_);
    if (length < kRecordHeaderSize || (length & 1)) {
        return fail(recordStart_, "a record of length " + std::to_string(length) + at + " (records are 4 bytes or more, even)");
    }
    payloadLeft_ = length - kRecordHeaderSize;
    kept_ = Kept::Nothing;
    payload_.clear();
    const std::uint8_t type = header_[2];
    switch (expect_) {
        case Expect::Header:
            kept_ = Kept::Version;
            expect_ = Expect::BgnLib;
            return true;
        case Expect::BgnLib:
        case Expect::LibName:
        case Expect::Units: {
            if (expect_ != Expect::BgnLib && isOneOf(header_, kNameRecords)) {
                kept_ = Kept::NameRecord;
                return true;
            }
            if (expect_ == Expect::Units && isOneOf(header_, kHeadRecords)) {
                kept_ = Kept::HeadRecord;
                return true;
            }
            const Record wanted = expect_ == Expect::BgnLib    ? Record::BgnLib
                                  : expect_ == Expect::LibName ? Record::LibName
                                                               : Record::Units;
            if (!is(header_, wanted)) {
                return fail(recordStart_, "expected " + nameOf(tagOf(wanted).recordType) + at + ", found " +
                                              found(header_, wanted) +
                                              " (a part's head holds HEADER, BGNLIB, LIBDIRSIZE, SRFNAME, LIBNAME, then REFLIBS, "
                                              "FONTS, GENERATIONS, ATTRTABLE, FORMAT, MASK and ENDMASKS at most, then UNITS)");
            }
            if (wanted == Record::Units && payloadLeft_ != kUnitsPayload) {
                return fail(recordStart_, "UNITS" + at + " holds " + std::to_string(payloadLeft_) + " bytes, not 16");
            }
            if (wanted == Record::Units) kept_ = Kept::Units;
            expect_ = static_cast<Expect>(static_cast<int>(expect_) + 1);
            return true;
        }
        case Expect::Structure:
            if (is(header_, Record::BgnStr)) {
                structureBegin_ = recordStart_;
                structure_.clear();
                named_ = false;
                expect_ = Expect::StrName;
            } else if (is(header_, Record::EndLib) && length == kEmptyRecordSize) {
                expect_ = Expect::Padding;
            } else if (is(header_, Record::EndLib)) {
                return fail(recordStart_, "ENDLIB" + at + " is " + std::to_string(length) + " bytes long: ENDLIB holds no data");
            } else {
                return fail(recordStart_, "expected BGNSTR or ENDLIB" + at + ", found " + found(header_, Record::BgnStr));
            }
            return true;
        case Expect::StrName:
            if (!is(header_, Record::StrName)) return fail(recordStart_, "BGNSTR without STRNAME" + at + ", found " +
                                                                             found(header_, Record::StrName));
            elements_.beginStructure();
            kept_ = Kept::Name;
            expect_ = Expect::Element;
            return true;
        case Expect::Element:
            if (is(header_, Record::EndStr) && length == kEmptyRecordSize && elements_.betweenElements()) {
                structures_.push_back({structure_, structureBegin_, offset_, {}});
                if (!references_.empty()) {
                    std::vector<std::string>& names = structures_.back().references;
                    names.reserve(references_.size());
                    for (auto node = references_.begin(); node != references_.end();) {
                        names.push_back(std::move(references_.extract(node++).value()));
                    }
                    lastReference_.clear();
                }
                named_ = false;
                expect_ = Expect::Structure;
                return true;
            }
            if (is(header_, Record::EndStr) && elements_.betweenElements()) {
                return fail(recordStart_, "ENDSTR" + at + " is " + std::to_string(length) + " bytes long: ENDSTR holds no data");
            }
            if (type <= kLastBracket && elements_.betweenElements()) {
                return fail(recordStart_, nameOf(type) + at + " inside structure \"" + structure_ + "\", which has no ENDSTR");
            }
            if (!elements_.record(length, type, header_[3])) {
                return fail(recordStart_, elements_.describe(length, type, header_[3]) + "," + at + " in structure \"" + structure_ + "\"");
            }
            if (type == kSname && keepReferences_) kept_ = Kept::Reference;
            return true;
        case Expect::Padding:
            break;
    }
    return fail(recordStart_, "bytes after ENDLIB" + at);
}

bool PartScanner::endRecord() {
    headerHave_ = 0;
    switch (kept_) {
        case Kept::Nothing:
            break;
        case Kept::Version:
            version_ = static_cast<std::uint16_t>(std::uint8_t(payload_[0]) << 8 | std::uint8_t(payload_[1]));
            break;
        case Kept::HeadRecord:
            headRecords_.append(reinterpret_cast<const char*>(header_), kRecordHeaderSize).append(payload_);
            break;
        case Kept::NameRecord:
            nameRecords_.append(reinterpret_cast<const char*>(header_), kRecordHeaderSize).append(payload_);
            break;
        case Kept::Reference:
            reference(payload_.data(), payload_.size());
            break;
        case Kept::Units:
            units_ = payload_;
            bodyStart_ = offset_;
            break;
        case Kept::Name:
            structure_.assign(payload_.c_str());  // up to the first NUL: the pad byte, or where a reader stops
            named_ = true;
            break;
    }
    return true;
}

void PartScanner::reference(const char* name, std::size_t size) {
    size = static_cast<std::size_t>(std::find(name, name + size, '\0') - name);  // up to the first NUL, as names
    if (size == lastReference_.size() && std::memcmp(name, lastReference_.data(), size) == 0) return;
    lastReference_.assign(name, size);
    references_.insert(lastReference_);
}

bool PartScanner::finish() {
    if (!error_.empty()) return false;
    if (headerHave_ > 0) {
        const std::size_t length = headerHave_ < kRecordHeaderSize ? kRecordHeaderSize
                                                                   : (std::size_t{header_[0]} << 8 | header_[1]);
        return fail(recordStart_, "cut short: the record at byte " + std::to_string(recordStart_) + " needs " +
                                      std::to_string(length) + " bytes, the file ends at byte " + std::to_string(offset_));
    }
    switch (expect_) {
        case Expect::Padding:
            return true;
        case Expect::Header:
            return fail(0, offset_ == 0 ? "not a GDSII library: the file is empty"
                                        : "not a GDSII library: it does not begin with HEADER");
        case Expect::Element:
            return fail(offset_, "cut short: the file ends inside structure \"" + structure_ + "\" at byte " +
                                     std::to_string(offset_));
        default:
            return fail(offset_, "cut short: no ENDLIB (the file ends at byte " + std::to_string(offset_) + ")");
    }
}

}  // namespace carvelle::merge
