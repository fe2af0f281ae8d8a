// SPDX-License-Identifier: MIT
#include "merge/part_checker.h"

#include <algorithm>
#include <utility>

#include "encoding/record_writer.h"
#include "merge/klayout_context.h"
#include "platform/files.h"

namespace carvelle::merge {

// Two definitions of one structure are compared in pieces of this size.
constexpr std::size_t kComparePiece = std::size_t{64} << 10;

bool PartChecker::checkAll() noexcept {
    try {
        for (std::size_t index = 0; index < parts_.size(); ++index) {
            if (!check(index)) break;
            // The last part's end waits for the references of all: a cycle discards the output.
            if (index + 1 == parts_.size() && !acyclic()) break;
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
    if (beforeCheck) beforeCheck(index);
    PartScanner scanner;
    scanner.keepReferences(true);
    std::string error;
    std::uint64_t ended = part.bodyStart;  // the end of the last structure read
    for (;;) {
        if (SignalGuard::interrupted()) return outcome.fail(MergeFailure::Interrupted, "interrupted by a signal");
        if (stopped_ && stopped_->load(std::memory_order_relaxed)) return false;
        std::size_t size = 0;
        const std::uint8_t* bytes = file.next(size, error);
        if (bytes == nullptr) return failRead(file, index, error);
        if (size == 0 || !scanner.feed(bytes, size)) break;
        if (!scanner.structures().empty()) ended = scanner.structures().back().end;
        if (!takeStructures(scanner, index, file)) return false;
        // A structure whose name came before may yet prove a copy to leave out: the copy stops at its start.
        bool mayRepeat = scanner.inStructure() && !scanner.openNamed();
        if (scanner.inStructure() && scanner.openNamed()) {
            const auto known = ids_.find(scanner.openName());
            mayRepeat = known != ids_.end() && structures_[known->second].defined;
        }
        // Outside a structure, no further than the last one's end: past it may lie ENDLIB.
        progress_.allow(index, !scanner.inStructure() ? ended
                               : mayRepeat            ? scanner.openBegin()
                                                      : scanner.offset());
    }
    if (!scanner.finish()) {
        // A part cut or rewritten under the merge reads as damage: that is not the part's fault.
        if (!unchanged(file, part, outcome)) return false;
        return outcome.fail(MergeFailure::NotALibrary,
                            "part " + *part.path + " is not a complete library: " + scanner.error());
    }
    if (!unchanged(file, part, outcome)) return false;
    if (file.gzip()) progress_.end(index, ended);
    return true;
}

// A part cut or rewritten meanwhile reads short or as damage; else a damaged gzip part is no complete library,
// and a plain part that cannot be read failed its reader.
bool PartChecker::failRead(PartReader& file, std::size_t index, const std::string& error) {
    if (!unchanged(file, parts_[index], outcome)) return false;
    return outcome.fail(file.damaged() ? MergeFailure::NotALibrary : MergeFailure::Open, error);
}

std::uint32_t PartChecker::idOf(std::string name) {
    const auto [at, added] = ids_.emplace(std::move(name), static_cast<std::uint32_t>(structures_.size()));
    if (added) structures_.push_back({&at->first, {}, false, {}});
    return at->second;
}

bool PartChecker::takeStructures(PartScanner& scanner, std::size_t index, PartReader& file) {
    const Part& part = parts_[index];
    for (PartScanner::Structure& structure : scanner.structures()) {
        // The part's context, written joined ahead of every part, and no cell of the hierarchy.
        if (part.hasContext() && structure.begin == part.contextBegin) continue;
        if (contextWritten_ && structure.name == kContextCell) {
            return outcome.fail(MergeFailure::DuplicateStructure,
                                "structure \"" + structure.name + "\" at byte " + std::to_string(structure.begin) +
                                    " of part " + *part.path +
                                    " is not the part's first: the merged library begins with the parts' "
                                    "contexts joined, and KLayout reads a context only there");
        }
        const Definition here{index, structure.begin, structure.end};
        const std::uint32_t id = idOf(std::move(structure.name));
        if (structures_[id].defined) {
            if (!sameDefinition(*structures_[id].name, structures_[id].definition, here, file)) return false;
            progress_.skip(index, here.begin, here.end);
            continue;
        }
        structures_[id].definition = here;
        structures_[id].defined = true;
        ++defined_;
        std::vector<std::uint32_t> references(structure.references.size());
        std::transform(structure.references.begin(), structure.references.end(), references.begin(),
                       [&](std::string& name) { return idOf(std::move(name)); });
        structures_[id].references = std::move(references);
    }
    scanner.structures().clear();
    return true;
}

// A depth-first walk from each structure in turn; a reference back to a structure on the walk's path closes a
// cycle. Iterative, so that a deep hierarchy cannot overflow the stack.
bool PartChecker::acyclic() {
    enum : std::uint8_t { kUnseen,
                          kOnPath,
                          kDone };
    std::vector<std::uint8_t> state(structures_.size(), kUnseen);
    std::vector<std::pair<std::uint32_t, std::size_t>> path;  // a structure, and its next reference to follow
    for (std::uint32_t root = 0; root < structures_.size(); ++root) {
        if (state[root] != kUnseen) continue;
        path.emplace_back(root, 0);
        state[root] = kOnPath;
        while (!path.empty()) {
            auto& [at, next] = path.back();
            const std::vector<std::uint32_t>& references = structures_[at].references;
            if (next == references.size()) {
                state[at] = kDone;
                path.pop_back();
                continue;
            }
            const std::uint32_t to = references[next++];
            if (state[to] == kUnseen) {
                state[to] = kOnPath;
                path.emplace_back(to, 0);
            } else if (state[to] == kOnPath) {
                // The cycle is the path from `to` on, back to `to`.
                std::size_t from = path.size();
                while (path[from - 1].first != to) --from;
                --from;
                constexpr std::size_t kMostNamed = 12;
                std::string cycle, where;
                for (std::size_t i = from; i < path.size(); ++i) {
                    const Structure& structure = structures_[path[i].first];
                    if (i - from == kMostNamed) {
                        cycle += " -> ... (" + std::to_string(path.size() - i) + " more)";
                        break;
                    }
                    cycle += (i == from ? "" : " -> ") + *structure.name;
                    if (i - from < 4) {
                        where += (i == from ? "" : ", ") + *structure.name + " in part " +
                                 *parts_[structure.definition.part].path;
                    }
                }
                std::string message = "the structures' references make a cycle, ";
                message.append(cycle).append(" -> ").append(*structures_[to].name).append(" (").append(where);
                message.append("): a structure would contain itself, which readers refuse");
                return outcome.fail(MergeFailure::Cycle, std::move(message));
            }
        }
    }
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
        if (!earlier->readAt(first.begin + at, a, size, error)) return failRead(*earlier, first.part, error);
        if (!file->readAt(again.begin + at, b, size, error)) return failRead(*file, again.part, error);
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
