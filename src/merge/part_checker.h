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

// Checks every record of every part, in part order, and that a structure name defined twice has the same
// records both times. Runs beside the copy, ahead of it: the copy takes only what was checked, and a fault
// discards the output.
class PartChecker {
public:
    PartChecker(const std::vector<Part>& parts, Progress& progress) : parts_(parts), progress_(progress) {}

    // All of the parts; false, with outcome set, at the first fault.
    bool checkAll() noexcept;
    // One part on its own, for the message of a part whose end is wrong.
    bool check(std::size_t index);
    // Stops, without a failure of its own, once stopped is set (the copy failed).
    void stopWhen(const std::atomic<bool>& stopped) { stopped_ = &stopped; }

    std::size_t structures() const { return firstDefined_.size(); }
    Outcome outcome;

private:
    // Where a structure is defined, for the comparison with a later definition of its name.
    struct Definition {
        std::size_t part;
        std::uint64_t begin, end;
    };
    // A reader of a gzip part for the comparisons, kept, so that definitions met in order cost one
    // decompression of the part.
    struct KeptReader {
        std::size_t part = ~std::size_t{0};
        PartReader reader;
    };

    bool failRead(const PartReader& file, const std::string& error);
    bool takeStructures(PartScanner& scanner, std::size_t index, PartReader& file);
    bool sameDefinition(const std::string& name, const Definition& first, const Definition& again,
                        PartReader& current);
    PartReader* compareReader(std::size_t index, KeptReader& slot);

    const std::vector<Part>& parts_;
    Progress& progress_;
    KeptReader currentCompare_;
    std::array<KeptReader, 4> earlierCompare_;
    const std::atomic<bool>* stopped_ = nullptr;
    std::unordered_map<std::string, Definition> firstDefined_;
    std::unique_ptr<std::uint8_t[]> buffers_;
};

}  // namespace carvelle::merge
