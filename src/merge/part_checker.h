// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "merge/merge_outcome.h"
#include "merge/merge_part.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"
#include "merge/progress.h"

namespace carvelle::merge {

// Checks every record of every part, in part order, that a structure name defined twice has the same
// records both times, and, once all are read, that no structure references itself through others (readers
// refuse such a library). Runs beside the copy, ahead of it: the copy takes only what was checked, and a fault
// discards the output. Memory grows with the structure names and the distinct names each references, never
// with elements.
class PartChecker {
public:
    PartChecker(const std::vector<Part>& parts, Progress& progress) : parts_(parts), progress_(progress) {}

    // All of the parts; false, with outcome set, at the first fault.
    bool checkAll() noexcept;
    // One part on its own, for the message of a part whose end is wrong.
    bool check(std::size_t index);
    // Stops, without a failure of its own, once stopped is set (the copy failed).
    void stopWhen(const std::atomic<bool>& stopped) { stopped_ = &stopped; }
    // The output opens with the parts' contexts joined: a context structure elsewhere than first in a part
    // would be a second of that name.
    void contextWritten(bool written) { contextWritten_ = written; }

    std::size_t structures() const { return defined_; }
    Outcome outcome;

private:
    // Where a structure is defined, for the comparison with a later definition of its name.
    struct Definition {
        std::size_t part;
        std::uint64_t begin, end;
    };
    // A name, defined or so far only referenced, and the names its definition references.
    struct Structure {
        const std::string* name;
        Definition definition;
        bool defined;
        std::vector<std::uint32_t> references;
    };
    // A reader of a gzip part for the comparisons, kept, so that definitions met in order cost one
    // decompression of the part.
    struct KeptReader {
        std::size_t part = ~std::size_t{0};
        PartReader reader;
    };

    bool failRead(PartReader& file, std::size_t index, const std::string& error);
    std::uint32_t idOf(std::string name);
    // False, with outcome set, when the references make a cycle.
    bool acyclic();
    bool takeStructures(PartScanner& scanner, std::size_t index, PartReader& file);
    bool sameDefinition(const std::string& name, const Definition& first, const Definition& again,
                        PartReader& current);
    PartReader* compareReader(std::size_t index, KeptReader& slot);

    const std::vector<Part>& parts_;
    Progress& progress_;
    KeptReader currentCompare_;
    std::array<KeptReader, 4> earlierCompare_;
    const std::atomic<bool>* stopped_ = nullptr;
    std::unordered_map<std::string, std::uint32_t> ids_;
    std::vector<Structure> structures_;
    std::size_t defined_ = 0;
    bool contextWritten_ = false;
    std::unique_ptr<std::uint8_t[]> buffers_;
};

}  // namespace carvelle::merge
