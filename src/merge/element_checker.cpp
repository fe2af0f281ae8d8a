// SPDX-License-Identifier: MIT
#include "merge/element_checker.h"

#include <cstdio>

#include "encoding/record_tags.h"

namespace carvelle::merge {
namespace {

// The element records that other writers use and the library does not write.
constexpr RecordTag kPropAttr{recordTypeNamed("PROPATTR"), 0x02}, kPropValue{recordTypeNamed("PROPVALUE"), 0x06},
    kBgnExtn{recordTypeNamed("BGNEXTN"), 0x03}, kEndExtn{recordTypeNamed("ENDEXTN"), 0x03},
    kStrClass{recordTypeNamed("STRCLASS"), 0x01};

using Rule = ElementChecker::Rule;
constexpr std::uint16_t kLongest = 65534;  // the longest even record
constexpr std::uint16_t kPointSize = 8;

constexpr Rule fixed(RecordTag tag, std::size_t payload) {
    Rule rule;
    rule.record = tag.recordType;
    rule.dataType = tag.dataType;
    rule.shortest = rule.longest = static_cast<std::uint16_t>(ElementChecker::kHeader + payload);
    return rule;
}
constexpr Rule fixed(Record record, std::size_t payload) { return fixed(tagOf(record), payload); }
constexpr Rule text(RecordTag tag, std::size_t shortestPayload) {
    Rule rule = fixed(tag, shortestPayload);
    rule.longest = kLongest;
    rule.unitMask = 1;
    return rule;
}
constexpr Rule text(Record record, std::size_t shortestPayload) { return text(tagOf(record), shortestPayload); }
// An XY record of fewest to most points.
constexpr Rule points(std::size_t fewest, std::size_t most = (kLongest - ElementChecker::kHeader) / kPointSize) {
    Rule rule = fixed(Record::Xy, fewest * kPointSize);
    rule.longest = static_cast<std::uint16_t>(ElementChecker::kHeader + most * kPointSize);
    rule.unitMask = kPointSize - 1;
    return rule;
}

// One record of an element's grammar: what it must be, whether it may be
// left out, whether it belongs to STRANS (MAG and ANGLE stand only after it),
// and whether more records of its kind may follow it.
struct Slot {
    Rule rule;
    bool optional = false;
    bool afterStrans = false;
    bool repeats = false;
};
constexpr Slot must(Rule rule) { return {rule, false, false, false}; }
constexpr Slot may(Rule rule) { return {rule, true, false, false}; }
constexpr Slot transform(Record record, std::size_t payload) {
    return {fixed(record, payload), true, record != Record::Strans, false};
}
// Points beyond the 8,191 of one XY record: KLayout writes a large polygon or path as several XY records in one
// element (its multi-XY form), and reads them back so.
constexpr Slot morePoints(Slot slot) {
    slot.repeats = true;
    return slot;
}

constexpr std::size_t kMostSlots = 12;
struct Grammar {
    Record opening;
    std::size_t size;
    Slot slots[kMostSlots];
};

constexpr Slot kElFlags = may(fixed(Record::ElFlags, 2)), kPlex = may(fixed(Record::Plex, 4));
constexpr Slot kLayer = must(fixed(Record::Layer, 2));
constexpr Slot kStrans = transform(Record::Strans, 2), kMag = transform(Record::Mag, 8),
               kAngle = transform(Record::Angle, 8);
constexpr Slot kSname = must(text(Record::Sname, 2));

// The format's element grammar. A BOUNDARY is closed, so 4 points at least;
// a PATH takes 1 point or more (a single point is a square dot to KLayout).
constexpr Grammar kGrammars[] = {
    {Record::Boundary, 5, {kElFlags, kPlex, kLayer, must(fixed(Record::Datatype, 2)), morePoints(must(points(4)))}},
    {Record::Path,
     9,
     {kElFlags, kPlex, kLayer, must(fixed(Record::Datatype, 2)), may(fixed(Record::PathType, 2)),
      may(fixed(Record::Width, 4)), may(fixed(kBgnExtn, 4)), may(fixed(kEndExtn, 4)), morePoints(must(points(1)))}},
    {Record::Sref, 7, {kElFlags, kPlex, kSname, kStrans, kMag, kAngle, must(points(1, 1))}},
    {Record::Aref,
     8,
     {kElFlags, kPlex, kSname, kStrans, kMag, kAngle, must(fixed(Record::ColRow, 4)), must(points(3, 3))}},
    {Record::Text,
     12,
     {kElFlags, kPlex, kLayer, must(fixed(Record::TextType, 2)), may(fixed(Record::Presentation, 2)),
      may(fixed(Record::PathType, 2)), may(fixed(Record::Width, 4)), kStrans, kMag, kAngle, must(points(1, 1)),
      must(text(Record::String, 0))}},
    {Record::Node, 5, {kElFlags, kPlex, kLayer, must(fixed(Record::NodeType, 2)), must(points(1, 50))}},
    {Record::Box, 5, {kElFlags, kPlex, kLayer, must(fixed(Record::BoxType, 2)), must(points(5, 5))}},
};

using Tables = ElementChecker::Tables;

constexpr Tables build() {
    Tables t;
    t.rules[ElementChecker::kAfterClass] = fixed(kStrClass, 2);
    t.rules[ElementChecker::kBetween] = fixed(Record::EndEl, 0);
    t.rules[ElementChecker::kAfterAttribute] = fixed(kPropAttr, 2);
    t.rules[ElementChecker::kAfterValue] = text(kPropValue, 0);
    t.transitions[ElementChecker::kStructureStart][kStrClass.recordType] = ElementChecker::kAfterClass;
    t.transitions[ElementChecker::kAfterAttribute][kPropValue.recordType] = ElementChecker::kAfterValue;
    t.transitions[ElementChecker::kAfterValue][kPropAttr.recordType] = ElementChecker::kAfterAttribute;
    t.transitions[ElementChecker::kAfterValue][tagOf(Record::EndEl).recordType] = ElementChecker::kBetween;

    for (const Grammar& grammar : kGrammars) {
        // State base + i: the element's first i slots are behind (taken or left out).
        const std::size_t base = t.states;
        t.states += grammar.size + 1;
        const std::uint8_t opening = tagOf(grammar.opening).recordType;
        for (std::uint8_t from : {ElementChecker::kStructureStart, ElementChecker::kAfterClass, ElementChecker::kBetween}) {
            t.transitions[from][opening] = static_cast<std::uint8_t>(base);
        }
        t.rules[base] = fixed(grammar.opening, 0);
        for (std::size_t i = 0; i < grammar.size; ++i) {
            t.rules[base + i + 1] = grammar.slots[i].rule;
        }
        for (std::size_t i = 0; i <= grammar.size; ++i) {
            t.rules[base + i].element = opening;
            // The records that may come next: each slot up to the first one that must be there. MAG and
            // ANGLE may come only once STRANS is behind.
            bool stransTaken = true, rest = true;
            for (std::size_t next = i; next < grammar.size && rest; ++next) {
                const Slot& slot = grammar.slots[next];
                if (slot.afterStrans && !stransTaken) continue;
                t.transitions[base + i][slot.rule.record] = static_cast<std::uint8_t>(base + next + 1);
                if (slot.rule.record == tagOf(Record::Strans).recordType) stransTaken = false;
                rest = slot.optional;
            }
            if (rest) {
                t.transitions[base + i][kPropAttr.recordType] = ElementChecker::kAfterAttribute;
                t.transitions[base + i][tagOf(Record::EndEl).recordType] = ElementChecker::kBetween;
            }
        }
        // A slot that repeats: one more state, entered by a record of its kind of any count (the first one
        // holds what the element needs), that leads on as the slot's own state does.
        for (std::size_t i = 0; i < grammar.size; ++i) {
            if (!grammar.slots[i].repeats) continue;
            const std::size_t slot = base + i + 1, again = t.states++;
            Rule more = grammar.slots[i].rule;
            more.shortest = static_cast<std::uint16_t>(ElementChecker::kHeader + (more.unitMask + 1));
            more.element = opening;
            t.rules[again] = more;
            for (std::size_t column = 0; column < ElementChecker::kColumns; ++column) {
                t.transitions[again][column] = t.transitions[slot][column];
            }
            t.transitions[slot][more.record] = t.transitions[again][more.record] = static_cast<std::uint8_t>(again);
        }
    }
    return t;
}

static_assert(build().states <= ElementChecker::kStates, "room for every state");

// "LAYER", or "record type 0x4A" for a type the format does not define.
std::string nameOf(std::uint8_t type) {
    if (const char* name = carvelle::recordName(type)) return name;
    char unnamed[24];
    std::snprintf(unnamed, sizeof unnamed, "record type 0x%02X", type);
    return unnamed;
}

std::string dataTypeOf(std::uint8_t dataType) {
    if (const char* name = dataTypeName(dataType)) return name;
    return "data type " + std::to_string(dataType);
}

}  // namespace

const ElementChecker::Tables ElementChecker::kTables = build();

std::string ElementChecker::describe(std::size_t length, std::uint8_t type, std::uint8_t dataType) const {
    const std::uint8_t next = type < kColumns ? kTables.transitions[state_][type] : kFault;
    const Rule& here = kTables.rules[state_];
    std::string where = " after " + nameOf(here.record);
    if (here.element != 0) {
        where = " in " + nameOf(here.element) + (here.record == here.element ? "" : where);
    } else if (state_ == kBetween) {
        where = " between elements";
    } else if (state_ == kStructureStart) {
        where = " at the start of the structure";
    }
    if (next == kFault) {
        std::string allowed;
        std::size_t count = 0, last = 0;
        for (std::size_t column = 0; column < kColumns; ++column) {
            if (kTables.transitions[state_][column] != kFault) ++count, last = column;
        }
        if (betweenElements()) ++count;
        std::size_t listed = 0;
        for (std::size_t column = 0; column < kColumns; ++column) {
            if (kTables.transitions[state_][column] == kFault) continue;
            ++listed;
            if (listed > 1) allowed += (listed == count && column == last) ? " or " : ", ";
            allowed += nameOf(static_cast<std::uint8_t>(column));
        }
        if (betweenElements()) allowed += " or ENDSTR";
        return nameOf(type) + where + ", where only " + allowed + " may stand";
    }
    const Rule& rule = kTables.rules[next];
    const std::string name = nameOf(type) + where;
    if (dataType != rule.dataType) {
        return name + " is of data type " + dataTypeOf(dataType) + ", not " + dataTypeOf(rule.dataType);
    }
    if (rule.unitMask == kPointSize - 1) {
        const std::size_t payload = length - kHeader;
        if (payload % kPointSize != 0) return name + " holds " + std::to_string(payload) + " bytes, not whole points";
        const std::size_t fewest = (rule.shortest - kHeader) / kPointSize, most = (rule.longest - kHeader) / kPointSize;
        return name + " holds " + std::to_string(payload / kPointSize) + " points; a " + nameOf(rule.element) +
               " takes " + (fewest == most ? std::to_string(fewest) : std::to_string(fewest) + " to " + std::to_string(most));
    }
    if (rule.shortest == rule.longest) {
        return name + " is " + std::to_string(length) + " bytes long, not " + std::to_string(rule.shortest);
    }
    return name + " is " + std::to_string(length) + " bytes long (an empty name)";
}

}  // namespace carvelle::merge
