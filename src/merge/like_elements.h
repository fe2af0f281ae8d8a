// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace carvelle::merge {

// The record headers of one element (up to its ENDEL), held against the elements that follow it. Walking
// record by record is a chain of loads, each waiting for the length before it; but a layout is mostly one kind
// of element over and over, and an element that repeats every record header of the last one is recognised with
// loads that need not wait. The headers are whole (length, record type, data type): an element that has them
// has its payloads at the same places and of the same sizes as the element they were learned from.
//
// To find which template an element of another kind fits, the headers within its first kPrefix bytes are
// compared all at once, as words under a mask that hides the payload bytes: a fixed count of loads and no branch
// per record, where kinds in turn would pay a mispredicted branch per record.
//
// Elements of one kind often differ in one record's length alone: a polygon's or a path's points, a text's
// string, a reference's name. A template may mark that record as the one that varies: an element with every
// other header the same, and that record of the same type and of a length its place allows, is of the same
// shape but for where the records after it begin.
class LikeElements {
public:
    static constexpr std::size_t kMostRecords = 16;
    static constexpr std::size_t kPrefix = 64;

    // Forgets the element learned, and starts learning the one that begins here.
    void restart() {
        records_ = size_ = beyond_ = 0;
        nameAt_ = kNoName;
        varying_ = kNoVarying;
        std::memset(prefix_, 0, sizeof prefix_);
        std::memset(mask_, 0, sizeof mask_);
    }
    // The next record of the element being learned, at offset `from` in it.
    void add(const std::uint8_t* record, std::size_t from) {
        if (records_ < kMostRecords) {
            headers_[records_] = headerAt(record);
            starts_[records_] = static_cast<std::uint32_t>(from);
        }
        // A header within the prefix is compared under the mask; the records' offsets only grow, so those are
        // the first `beyond_`.
        if (from + kHeader <= kPrefix) {
            constexpr std::uint32_t kKept = ~std::uint32_t{0};
            std::memcpy(reinterpret_cast<unsigned char*>(prefix_) + from, record, kHeader);
            std::memcpy(reinterpret_cast<unsigned char*>(mask_) + from, &kKept, kHeader);
            ++beyond_;
        }
        ++records_;
    }
    // The record just added is the element's SNAME: each like element names the structure it references there.
    void markName() {
        if (records_ <= kMostRecords) nameAt_ = starts_[records_ - 1];
    }
    // The record just added, `length` bytes long, is the one that varies in the elements of this shape: they may
    // hold it with any length from shortest to longest whose payload is a whole number of units (unitMask + 1
    // bytes). The first record marked is the one.
    void markVarying(std::size_t length, std::size_t shortest, std::size_t longest, std::size_t unitMask) {
        if (varying_ != kNoVarying || records_ > kMostRecords) return;
        varying_ = records_ - 1;
        varyingLength_ = length;
        shortest_ = shortest;
        longest_ = longest;
        unitMask_ = unitMask;
    }
    // The element learned ends at offset `size`: the elements after it are held against it, unless it has more
    // records than a template holds. `id` tells this template from every other its scanner learns, so that a
    // visitor may keep what it made of it.
    void learned(std::size_t size, std::uint64_t id) {
        if (records_ <= kMostRecords) {
            size_ = size;
            id_ = id;
        } else {
            restart();
        }
    }
    bool ready() const { return size_ > 0; }
    std::uint64_t id() const { return id_; }

    // The bytes of one element, its record count, and where its record `index` begins.
    std::size_t size() const { return size_; }
    std::size_t records() const { return records_; }
    std::size_t start(std::size_t index) const { return starts_[index]; }
    // The length and the record type of the learned element's record `index`.
    std::size_t length(std::size_t index) const { return std::size_t{byteOf(index, 0)} << 8 | byteOf(index, 1); }
    std::uint8_t type(std::size_t index) const { return byteOf(index, 2); }
    // Where the learned element's SNAME record begins; kNoName for an element that references nothing.
    static constexpr std::size_t kNoName = ~std::size_t{0};
    std::size_t nameAt() const { return nameAt_; }

    // The record that varies, kNoVarying for none; and where record `index` begins in an element of this shape
    // that is `size` bytes long (the records after the varying one move with its length).
    static constexpr std::size_t kNoVarying = ~std::size_t{0};
    std::size_t varying() const { return varying_; }
    std::size_t start(std::size_t index, std::size_t size) const {
        return index > varying_ ? starts_[index] + size - size_ : starts_[index];
    }

    // The element at bytes (of which size are at hand) has the headers learned.
    // Header by header: in a run of one kind every branch is foreseen, and this is the cheaper compare.
    bool matches(const std::uint8_t* bytes, std::size_t size) const {
        if (size_ == 0 || size < size_) return false;
        for (std::size_t i = 0; i < records_; ++i) {
            if (headerAt(bytes + starts_[i]) != headers_[i]) return false;
        }
        return true;
    }
    // The same answer with the headers in the first kPrefix bytes compared at once: where kinds change at every
    // element, a template is tried against elements of other sizes and the branch per header is not foreseen.
    bool matchesAtOnce(const std::uint8_t* bytes, std::size_t size) const {
        // Nothing matches a template not learned. Another kind of element differs in its first header: that is
        // seen before the words are loaded.
        if (size_ == 0 || size < size_ || headerAt(bytes) != headers_[0]) return false;
        std::size_t i = 0;
        // Near the end of the bytes at hand the prefix may reach past them: there every header is compared alone.
        // (The mask hides whatever follows an element shorter than the prefix.)
        if (size >= kPrefix) {
            std::uint64_t differ = 0;
            for (std::size_t w = 0; w < kPrefix / kWord; ++w) {
                std::uint64_t word;
                std::memcpy(&word, bytes + w * kWord, kWord);
                differ |= (word ^ prefix_[w]) & mask_[w];
            }
            if (differ != 0) return false;
            i = beyond_;
        }
        for (; i < records_; ++i) {
            if (headerAt(bytes + starts_[i]) != headers_[i]) return false;
        }
        return true;
    }

    // The size of the element at bytes (of which size are at hand) when it has the headers learned but for the
    // length of the varying record, which its place allows; 0 when it has not.
    std::size_t variedSize(const std::uint8_t* bytes, std::size_t size) const {
        if (size_ == 0 || varying_ == kNoVarying) return 0;
        const std::size_t at = starts_[varying_];
        if (size < at + kHeader) return 0;
        for (std::size_t i = 0; i < varying_; ++i) {
            if (headerAt(bytes + starts_[i]) != headers_[i]) return 0;
        }
        const std::uint8_t* varied = bytes + at;
        const std::size_t span = std::size_t{varied[0]} << 8 | varied[1];
        std::uint16_t tag;
        std::memcpy(&tag, varied + 2, sizeof tag);
        std::uint16_t learnedType;
        std::memcpy(&learnedType, reinterpret_cast<const std::uint8_t*>(&headers_[varying_]) + 2, sizeof learnedType);
        if (tag != learnedType || span < shortest_ || span > longest_ || ((span - kHeader) & unitMask_) != 0) {
            return 0;
        }
        const std::size_t whole = size_ - varyingLength_ + span;
        if (whole > size) return 0;
        for (std::size_t i = varying_ + 1; i < records_; ++i) {
            if (headerAt(bytes + starts_[i] - varyingLength_ + span) != headers_[i]) return 0;
        }
        return whole;
    }

private:
    static constexpr std::size_t kWord = sizeof(std::uint64_t), kHeader = sizeof(std::uint32_t);
    std::uint8_t byteOf(std::size_t index, std::size_t at) const {
        return reinterpret_cast<const std::uint8_t*>(&headers_[index])[at];
    }
    static std::uint32_t headerAt(const std::uint8_t* record) {
        std::uint32_t header;
        std::memcpy(&header, record, sizeof header);
        return header;
    }

    std::uint32_t headers_[kMostRecords] = {};  // as they lie in memory: compared, never read as numbers
    std::uint32_t starts_[kMostRecords] = {};
    // The first kPrefix bytes of the element learned with only its headers' bytes kept, the mask that keeps them,
    // and the first record whose header lies beyond them.
    std::uint64_t prefix_[kPrefix / kWord] = {}, mask_[kPrefix / kWord] = {};
    std::size_t beyond_ = 0;
    std::size_t records_ = 0, size_ = 0;
    std::size_t nameAt_ = kNoName;
    std::size_t varying_ = kNoVarying, varyingLength_ = 0, shortest_ = 0, longest_ = 0, unitMask_ = 0;
    std::uint64_t id_ = 0;
};

}  // namespace carvelle::merge
