// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace carvelle::merge {

// Checks the records between STRNAME and ENDSTR against the element grammar
// of the format, from their headers alone: each element opens with BOUNDARY,
// PATH, SREF, AREF, TEXT, NODE or BOX, takes its records in the order the
// format gives (optional ones only where they may stand), each with its data
// type and length (XY with the point count of its kind; a BOUNDARY's or a
// PATH's points may go on in further XY records), then PROPATTR and
// PROPVALUE pairs, then ENDEL. One table lookup per record, no allocation.
class ElementChecker {
public:
    // After STRNAME: STRCLASS may come, then elements.
    void beginStructure() { state_ = kStructureStart; }
    // True where ENDSTR may stand.
    bool betweenElements() const { return state_ <= kBetween; }
    // True right after an ENDEL: an element that starts here and repeats the headers of one that was checked
    // from here is as good as that one.
    bool afterElement() const { return state_ == kBetween; }

    // One record inside a structure. False at the first fault, leaving the
    // state as it was, so that describe() can say what was expected.
    bool record(std::size_t length, std::uint8_t type, std::uint8_t dataType) {
        if (type >= kColumns) return false;
        const std::uint8_t next = kTables.transitions[state_][type];
        const Rule& rule = kTables.rules[next];
        if (next == kFault || dataType != rule.dataType || length < rule.shortest || length > rule.longest ||
            ((length - kHeader) & rule.unitMask) != 0) {
            return false;
        }
        state_ = next;
        return true;
    }
    // The length bounds and unit of the record just taken: another element of the same records may hold it with
    // any length they allow.
    struct Lengths {
        std::size_t shortest, longest, unitMask;
    };
    Lengths lastLengths() const {
        const Rule& rule = kTables.rules[state_];
        return {rule.shortest, rule.longest, rule.unitMask};
    }
    // Why the record just refused was refused, and where it stands.
    std::string describe(std::size_t length, std::uint8_t type, std::uint8_t dataType) const;

    // The record header, the state count and the width of a table row.
    static constexpr std::size_t kHeader = 4;
    static constexpr std::size_t kStates = 72;
    static constexpr std::size_t kColumns = 64;
    // Fixed states; those of the elements follow.
    static constexpr std::uint8_t kFault = 0, kStructureStart = 1, kAfterClass = 2, kBetween = 3,
                                  kAfterAttribute = 4, kAfterValue = 5, kFirstElementState = 6;

    // What a record must be to enter a state: its data type, its total
    // length's bounds, and the unit its payload counts in (mask of 2 or 8).
    struct Rule {
        std::uint8_t dataType = 0xFF;
        std::uint16_t shortest = 0, longest = 0, unitMask = 0;
        std::uint8_t record = 0;   // the record type that enters the state
        std::uint8_t element = 0;  // the opening record of the element it lies in
    };
    // The next state by state and record type (kFault where the record may not stand), and the rule of
    // each state. Built at compile time from the grammar, so constant before any thread runs.
    struct Tables {
        std::uint8_t transitions[kStates][kColumns] = {};
        Rule rules[kStates] = {};
        std::size_t states = kFirstElementState;
    };
    static const Tables kTables;

private:
    std::uint8_t state_ = kStructureStart;
};

}  // namespace carvelle::merge
