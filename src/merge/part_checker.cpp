// SPDX-License-Identifier: MIT
#include "merge/part_checker.h"

#include <algorithm>

#include "encoding/record_writer.h"
#include "platform/files.h"

namespace carvelle::merge {

// Two definitions of one structure are compared in pieces of this size.
constexpr std::size_t kComparePiece = std::size_t{64} << 10;

bool PartChecker::checkAll() noexcept {
    try {
        for (std::size_t index = 0; index < parts_.size(); ++index) {
            if (!check(index)) break;
            progress_.allow(index + 1, 0);
        }
    } catch (...) {
        outcome.outOfMemory();
    }
    if (outcome.failure == MergeFailure::None) return true;
    progress_.stop();
    return false;
}

bool PartChecker::check(std::size_t index) {
    const Part& part = parts_[index];
    PartReader file;
    if (!reopen(file, part, outcome)) return false;
    PartScanner scanner;
    std::string error;
    std::uint64_t ended = part.bodyStart;  // the end of the last structure read
    for (;;) {
        if (SignalGuard::interrupted()) return outcome.fail(MergeFailure::Interrupted, "interrupted by a signal");
        if (stopped_ && stopped_->load(std::memory_order_relaxed)) return false;
        std::size_t size = 0;
        const std::uint8_t* bytes = file.next(size, error);
        if (bytes == nullptr) return failRead(file, error);
        if (size == 0 || !scanner.feed(bytes, size)) break;
        if (!scanner.structures().empty()) ended = scanner.structures().back().end;
        if (!takeStructures(scanner, index, file)) return false;
        // A structure whose name came before may yet prove a copy to leave out: the copy stops at its start.
        const bool mayRepeat =
            scanner.inStructure() && (!scanner.openNamed() || firstDefined_.count(scanner.openName()) > 0);
        // Outside a structure, no further than the last one's end: past it may lie ENDLIB.
        progress_.allow(index, !scanner.inStructure() ? ended
                               : mayRepeat            ? scanner.openBegin()
                                                      : scanner.offset());
    }
    if (!scanner.finish()) {
        return outcome.fail(MergeFailure::NotALibrary,
                            "part " + *part.path + " is not a complete library: " + scanner.error());
    }
    if (!unchanged(file, part, outcome)) return false;
    if (file.gzip()) progress_.end(index, ended);
    return true;
}

// A damaged gzip part is no complete library; a plain part that cannot be read changed under the merge.
bool PartChecker::failRead(const PartReader& file, const std::string& error) {
    return outcome.fail(file.damaged() ? MergeFailure::NotALibrary : MergeFailure::PartChanged, error);
}

bool PartChecker::takeStructures(PartScanner& scanner, std::size_t index, PartReader& file) {
    for (PartScanner::Structure& structure : scanner.structures()) {
        const Definition here{index, structure.begin, structure.end};
        const auto [at, added] = firstDefined_.emplace(std::move(structure.name), here);
        if (!added) {
            if (!sameDefinition(at->first, at->second, here, file)) return false;
            progress_.skip(index, here.begin, here.end);
        }
    }
    scanner.structures().clear();
    return true;
}

// Compares two definitions of one name, BGNSTR's timestamps aside, reading both again.
bool PartChecker::sameDefinition(const std::string& name, const Definition& first, const Definition& again,
                                 PartReader& current) {
    const std::string& firstPath = *parts_[first.part].path;
    PartReader other;
    std::string error;
    PartReader* earlier = &current;
    // The check's reader of a gzip part is past the definitions, and would start again from the part's first
    // byte for each: readers that move forward only, kept for the next comparison, read them.
    PartReader* file = current.gzip() ? compareReader(again.part, currentCompare_) : &current;
    if (file == nullptr) return false;
    if (first.part != again.part && parts_[first.part].gzip) {
        auto& kept = earlierCompare_[first.part % earlierCompare_.size()];
        if (!(earlier = compareReader(first.part, kept))) return false;
    } else if (first.part != again.part || current.gzip()) {
        if (!reopen(other, parts_[first.part], outcome)) return false;
        earlier = &other;
    }
    if (!buffers_) buffers_.reset(new std::uint8_t[2 * kComparePiece]);
    std::uint8_t* const a = buffers_.get();
    std::uint8_t* const b = a + kComparePiece;
    const std::uint64_t shorter = std::min(first.end - first.begin, again.end - again.begin);
    std::uint64_t differ = shorter;
    std::uint64_t skipFrom = 0, skipTo = 0;  // BGNSTR's payload, once its header is known to be the same
    for (std::uint64_t at = 0; at < shorter && differ == shorter; at += kComparePiece) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(shorter - at, kComparePiece));
        if (!earlier->readAt(first.begin + at, a, size, error)) return failRead(*earlier, error);
        if (!file->readAt(again.begin + at, b, size, error)) return failRead(*file, error);
        if (at == 0 && size >= kRecordHeaderSize && std::equal(a, a + kRecordHeaderSize, b)) {
            skipFrom = kRecordHeaderSize;
            skipTo = std::size_t{a[0]} << 8 | a[1];
        }
        for (std::size_t i = 0; i < size; ++i) {
            if (a[i] != b[i] && (at + i < skipFrom || at + i >= skipTo)) {
                differ = at + i;
                break;
            }
        }
    }
    if (differ == shorter && first.end - first.begin == again.end - again.begin) return true;
    const std::string where = first.part == again.part
                                  ? "twice in part " + firstPath
                                  : "in part " + firstPath + " and again in part " + *parts_[again.part].path;
    return outcome.fail(MergeFailure::DuplicateStructure,
                        "structure \"" + name + "\" is defined " + where + " with other records: they differ at byte " +
                            std::to_string(differ) + " of the structure (byte " + std::to_string(first.begin + differ) +
                            " of the first, byte " + std::to_string(again.begin + differ) + " of the second)");
}

PartReader* PartChecker::compareReader(std::size_t index, KeptReader& slot) {
    if (slot.part == index) return &slot.reader;
    slot.part = ~std::size_t{0};
    if (!reopen(slot.reader, parts_[index], outcome)) return nullptr;
    slot.part = index;
    return &slot.reader;
}

}  // namespace carvelle::merge
