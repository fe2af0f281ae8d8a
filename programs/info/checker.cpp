// SPDX-License-Identifier: MIT
#include "info/checker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "encoding/record_tags.h"
#include "info/hierarchy.h"

namespace info {
namespace {

using carvelle::Record;
using carvelle::tagOf;

constexpr std::uint8_t type(Record record) { return tagOf(record).recordType; }
constexpr std::uint8_t kBoundary = type(Record::Boundary), kPath = type(Record::Path), kSrefRecord = type(Record::Sref),
                       kArefRecord = type(Record::Aref);

std::size_t lengthOf(const std::uint8_t* record) { return std::size_t{record[0]} << 8 | record[1]; }
std::uint16_t u16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }
// A string payload's length up to its first NUL.
std::size_t textLength(const std::uint8_t* payload, std::size_t size) {
    return static_cast<std::size_t>(std::find(payload, payload + size, std::uint8_t{0}) - payload);
}
// What the checker does with each record type.
enum class Role : std::uint8_t { Other,
                                 Element,
                                 Layer,
                                 Type,
                                 Xy,
                                 EndEl,
                                 Sname,
                                 ColRow,
                                 String,
                                 BgnStr,
                                 StrName,
                                 EndStr };
struct Roles {
    Role of[256];
    Roles() : of() {
        for (const Record r : {Record::Boundary, Record::Path, Record::Sref, Record::Aref, Record::Text, Record::Node, Record::Box}) {
            of[type(r)] = Role::Element;
        }
        for (const Record r : {Record::Datatype, Record::TextType, Record::NodeType, Record::BoxType}) of[type(r)] = Role::Type;
        const std::pair<Record, Role> single[] = {
            {Record::Layer, Role::Layer},
            {Record::Xy, Role::Xy},
            {Record::EndEl, Role::EndEl},
            {Record::Sname, Role::Sname},
            {Record::ColRow, Role::ColRow},
            {Record::String, Role::String},
            {Record::BgnStr, Role::BgnStr},
            {Record::StrName, Role::StrName},
            {Record::EndStr, Role::EndStr},
        };
        for (const auto& [r, role] : single) of[type(r)] = role;
    }
};
const Roles kRoles;

// A limit as an unsigned 16-bit value is compared with it: an unset rule is one no such value breaks.
std::uint32_t limit16(const rules::Limits& limits, rules::Rule rule) {
    return limits.on(rule) ? static_cast<std::uint32_t>(std::min<std::int64_t>(limits.value[rule], 0xFFFFF))
                           : std::numeric_limits<std::uint32_t>::max();
}

}  // namespace

Checker::Checker(Check& check)
    : check_(check),
      layer_(limit16(check.limits, rules::MaxLayer)),
      datatype_(limit16(check.limits, rules::MaxDatatype)),
      record_(limit16(check.limits, rules::MaxRecordLength)) {}

void Checker::add(rules::Rule rule, std::uint64_t offset, const std::string& what) {
    RuleFindings& found = check_.found[rule];
    if (found.count++ < check_.keep) found.first.push_back({structure_, offset, what});
}

void Checker::add(rules::Rule rule, std::uint64_t offset, const char* what, std::int64_t amount) {
    // Only the kept findings pay for their text.
    if (check_.found[rule].count >= check_.keep) {
        ++check_.found[rule].count;
        return;
    }
    add(rule, offset, std::string(what) + " " + std::to_string(amount));
}

void Checker::record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) {
    next_ = offset + length;
    if (length > record_) add(rules::MaxRecordLength, offset, "record length", static_cast<std::int64_t>(length));
    const std::uint8_t* payload = bytes + 4;
    const std::size_t size = length - 4;
    switch (kRoles.of[bytes[2]]) {
        case Role::Layer:
            if (u16(payload) > layer_) add(rules::MaxLayer, offset, "layer", u16(payload));
            break;
        case Role::Type:
            if (u16(payload) > datatype_) add(rules::MaxDatatype, offset, "type", u16(payload));
            break;
        case Role::Xy:
            points_ += size / 8;
            break;
        case Role::EndEl:
            endElement();
            break;
        case Role::Sname:
            reference(payload, size);
            break;
        case Role::ColRow:
            colRow(payload, offset);
            break;
        case Role::String:
            text(payload, size, offset);
            break;
        case Role::BgnStr:
            structureOffset_ = offset;
            break;
        case Role::StrName:
            beginStructure(payload, size, offset);
            break;
        case Role::EndStr:
            structure_.clear();
            break;
        case Role::Element:
            element_ = bytes[2];
            elementOffset_ = offset;
            points_ = 0;
            break;
        case Role::Other:
            break;
    }
}

const Checker::Shape& Checker::sizeUp(Shape& shape, const carvelle::merge::LikeElements& like) {
    shape = Shape{};
    shape.id = like.id();
    std::uint64_t points = 0;
    for (std::size_t r = 0; r < like.records(); ++r) {
        const std::size_t length = like.length(r);
        shape.longRecords = shape.longRecords || length > record_;
        const bool varies = r == like.varying();
        shape.otherLongRecords = shape.otherLongRecords || (!varies && length > record_);
        if (!varies && kRoles.of[like.type(r)] == Role::Xy) shape.otherPoints += (length - 4) / 8;
        const std::size_t payload = like.start(r) + 4;
        switch (kRoles.of[like.type(r)]) {
            case Role::Layer:
                shape.layer = payload;
                break;
            case Role::Type:
                shape.type = payload;
                break;
            case Role::Xy:
                points += (length - 4) / 8;
                break;
            case Role::ColRow:
                shape.colRow = payload;
                break;
            case Role::String:
                shape.string = payload;
                shape.stringSize = length - 4;
                break;
            default:
                break;
        }
    }
    const std::uint8_t kind = like.type(0);
    shape.reference = kind == kSrefRecord || kind == kArefRecord;
    shape.longText = shape.string != 0 && check_.limits.on(rules::MaxTextLength) &&
                     shape.stringSize > static_cast<std::uint64_t>(check_.limits.value[rules::MaxTextLength]);
    shape.tooManyPoints =
        (kind == kBoundary && points > 0 && check_.limits.over(rules::MaxVertices, static_cast<std::int64_t>(points) - 1)) ||
        (kind == kPath && check_.limits.over(rules::MaxPathPoints, static_cast<std::int64_t>(points)));
    shape.points = points;
    return shape;
}

void Checker::likeElements(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like) {
    // What lies at the same place in each element and has the same length (the record lengths, the points) is
    // judged once per template; only the layer, the type, a text's length and a reference's name and counts
    // are read from each.
    const std::uint64_t start = next_;
    const std::size_t size = like.size();
    next_ += count * size;
    const Shape& shape = shapeOf(like);
    if (shape.reference || shape.longRecords || shape.longText || shape.tooManyPoints) {
        judgeEach(first, count, like, shape, start);
        return;
    }
    // The common case, kept short: a shape's layer and type against their limits.
    for (std::size_t n = 0; n < count; ++n) {
        const std::uint8_t* element = first + n * size;
        if (u16(element + shape.layer) > layer_ || u16(element + shape.type) > datatype_) {
            judgeLayers(element, start + n * size, shape);
        }
    }
}

void Checker::variedElement(const std::uint8_t* element, std::size_t size, std::uint64_t offset,
                            const carvelle::merge::LikeElements& like) {
    // The element is judged as its records would be, from what its shape tells and its varying record: a
    // polygon's or a path's points, a text's string, a reference's name.
    const Shape& shape = shapeOf(like);
    const std::size_t varying = like.start(like.varying());
    const std::uint8_t* record = element + varying;
    const std::size_t length = lengthOf(record);
    const Role role = kRoles.of[record[2]];
    if (shape.otherLongRecords || (role != Role::Xy && role != Role::String && role != Role::Sname)) {
        eachRecord(*this, element, size, offset, like);
        return;
    }
    next_ = offset + size;
    if (length > record_) add(rules::MaxRecordLength, offset + varying, "record length", static_cast<std::int64_t>(length));
    if (role == Role::Sname) {
        elementOffset_ = offset;
        reference(record + 4, length - 4);
        // COLROW follows the name: it moves with the name's length.
        const std::size_t colRowAt = shape.colRow + size - like.size();
        if (shape.colRow != 0) colRow(element + colRowAt, offset + colRowAt - 4);
        return;
    }
    // A shape's layer and type come before its points and a text's string.
    if (u16(element + shape.layer) > layer_ || u16(element + shape.type) > datatype_) judgeLayers(element, offset, shape);
    if (role == Role::String) {
        text(record + 4, length - 4, offset + varying);
        return;
    }
    element_ = element[2];
    elementOffset_ = offset;
    points_ = shape.otherPoints + (length - 4) / 8;
    endElement();
}

void Checker::judgeLayers(const std::uint8_t* element, std::uint64_t offset, const Shape& shape) {
    if (shape.layer != 0 && u16(element + shape.layer) > layer_) {
        add(rules::MaxLayer, offset + shape.layer - 4, "layer", u16(element + shape.layer));
    }
    if (shape.type != 0 && u16(element + shape.type) > datatype_) {
        add(rules::MaxDatatype, offset + shape.type - 4, "type", u16(element + shape.type));
    }
}

void Checker::judgeEach(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like,
                        const Shape& shape, std::uint64_t start) {
    const std::size_t size = like.size();
    if (shape.longRecords) {
        for (std::size_t r = 0; r < like.records(); ++r) {
            const std::size_t length = lengthOf(first + like.start(r));
            if (length <= record_) continue;
            for (std::size_t n = 0; n < count; ++n) {
                add(rules::MaxRecordLength, start + n * size + like.start(r), "record length", static_cast<std::int64_t>(length));
            }
        }
    }
    if (shape.reference) {
        const std::size_t name = like.nameAt();
        for (std::size_t n = 0; n < count; ++n) {
            const std::uint8_t* element = first + n * size;
            elementOffset_ = start + n * size;
            if (name != carvelle::merge::LikeElements::kNoName) reference(element + name + 4, lengthOf(element + name) - 4);
            if (shape.colRow != 0) colRow(element + shape.colRow, elementOffset_ + shape.colRow - 4);
        }
        return;
    }
    for (std::size_t n = 0; n < count; ++n) {
        const std::uint64_t at = start + n * size;
        judgeLayers(first + n * size, at, shape);
        if (shape.longText) text(first + n * size + shape.string, shape.stringSize, at + shape.string - 4);
        if (shape.tooManyPoints) {
            element_ = first[2];
            elementOffset_ = at;
            points_ = shape.points;
            endElement();
        }
    }
}

void Checker::colRow(const std::uint8_t* payload, std::uint64_t offset) {
    const auto cols = static_cast<std::int16_t>(u16(payload)), rows = static_cast<std::int16_t>(u16(payload + 2));
    const std::int64_t most = check_.limits.value[rules::MaxArray];
    if (check_.limits.on(rules::MaxArray) && (cols < 1 || rows < 1 || cols > most || rows > most)) {
        add(rules::MaxArray, offset, "columns " + std::to_string(u16(payload)) + ", rows " + std::to_string(u16(payload + 2)));
    }
}

void Checker::endElement() {
    if (element_ == kBoundary && points_ > 0 && check_.limits.over(rules::MaxVertices, static_cast<std::int64_t>(points_) - 1)) {
        add(rules::MaxVertices, elementOffset_, "vertices", static_cast<std::int64_t>(points_) - 1);
    } else if (element_ == kPath && check_.limits.over(rules::MaxPathPoints, static_cast<std::int64_t>(points_))) {
        add(rules::MaxPathPoints, elementOffset_, "points", static_cast<std::int64_t>(points_));
    }
    element_ = 0;
    points_ = 0;
}

void Checker::text(const std::uint8_t* payload, std::size_t size, std::uint64_t offset) {
    const std::size_t length = textLength(payload, size);
    if (check_.limits.over(rules::MaxTextLength, static_cast<std::int64_t>(length))) {
        add(rules::MaxTextLength, offset, "text length", static_cast<std::int64_t>(length));
    }
}

std::uint32_t Checker::node(const std::uint8_t* name, std::size_t length) {
    // Looked up before it is added: a map's emplace allocates its entry before it finds the name there.
    std::string key(reinterpret_cast<const char*>(name), length);
    if (const auto found = nodes_.find(key); found != nodes_.end()) return found->second;
    nodes_.emplace(std::move(key), static_cast<std::uint32_t>(graph_.size()));
    graph_.emplace_back();
    graph_.back().offset = kUndefined;
    return static_cast<std::uint32_t>(graph_.size() - 1);
}

void Checker::beginStructure(const std::uint8_t* payload, std::size_t size, std::uint64_t offset) {
    const std::size_t length = textLength(payload, size);
    structure_.assign(reinterpret_cast<const char*>(payload), length);
    open_ = node(payload, length);
    if (graph_[open_].offset != kUndefined) {
        if (check_.limits.on(rules::Duplicates)) add(rules::Duplicates, structureOffset_, "defined again");
        // Its second body adds to the children of its first.
        for (const auto& listed : graph_[open_].children) graph_[listed.first].listedBy = open_;
    } else {
        graph_[open_].offset = structureOffset_;
        graph_[open_].structure = structures_.size();
        structures_.push_back(open_);
    }
    if (check_.limits.over(rules::MaxNameLength, static_cast<std::int64_t>(length))) {
        add(rules::MaxNameLength, offset, "name length", static_cast<std::int64_t>(length));
    }
    if (check_.limits.on(rules::NameCharacters)) {
        const auto bad = std::find_if(payload, payload + length, [](std::uint8_t c) { return !rules::nameCharacter(c); });
        if (bad != payload + length) {
            char what[24];
            std::snprintf(what, sizeof what, *bad > 0x20 && *bad < 0x7F ? "character '%c'" : "byte 0x%02X", *bad);
            add(rules::NameCharacters, offset, what);
        }
    }
}

void Checker::reference(const std::uint8_t* payload, std::size_t size) {
    // References name a few structures over and over: the names looked up last are kept with their nodes, and
    // the payload holds a kept name when it begins with it and ends there or with a NUL.
    std::uint32_t named = kNobody;
    for (std::size_t k = 1; k <= kRecent && named == kNobody; ++k) {
        const Recent& recent = recent_[(nextRecent_ - k) % kRecent];
        const std::size_t length = recent.name.size();
        if (recent.node != kNobody && size >= length && (size == length || payload[length] == 0) &&
            std::memcmp(payload, recent.name.data(), length) == 0) {
            named = recent.node;
        }
    }
    if (named == kNobody) {
        const std::size_t length = textLength(payload, size);
        Recent& recent = recent_[nextRecent_++ % kRecent];
        recent.name.assign(reinterpret_cast<const char*>(payload), length);
        recent.node = named = node(payload, length);
    }
    if (graph_[named].listedBy != open_) {
        graph_[named].listedBy = open_;
        graph_[open_].children.emplace_back(named, elementOffset_);
    }
}

void Checker::finish() {
    std::vector<std::string> names(graph_.size());
    for (const auto& [name, n] : nodes_) names[n] = name;
    std::vector<bool> referenced(graph_.size(), false);
    Graph children;
    for (std::size_t s = 0; s < structures_.size(); ++s) {
        structure_ = names[structures_[s]];
        for (const auto& [child, offset] : graph_[structures_[s]].children) {
            if (child != structures_[s]) referenced[child] = true;
            if (graph_[child].offset == kUndefined) {
                if (check_.limits.on(rules::Undefined)) add(rules::Undefined, offset, "reference to \"" + names[child] + "\"");
            } else {
                children.child.push_back(static_cast<std::uint32_t>(graph_[child].structure));
            }
        }
        children.begin.push_back(children.child.size());
    }
    if (check_.limits.on(rules::OneTop)) {
        const auto tops = static_cast<std::size_t>(
            std::count_if(structures_.begin(), structures_.end(), [&](std::uint32_t n) { return !referenced[n]; }));
        for (const std::uint32_t n : structures_) {
            if (tops < 2 || referenced[n]) continue;
            structure_ = names[n];
            add(rules::OneTop, graph_[n].offset, "top structure, one of " + std::to_string(tops));
        }
    }
    if (check_.limits.on(rules::Cycles)) {
        for (const auto& cycle : findCycles(children)) {
            std::string what;
            for (const std::size_t s : cycle) what += (what.empty() ? "\"" : " -> \"") + names[structures_[s]] + "\"";
            structure_ = names[structures_[cycle.front()]];
            add(rules::Cycles, graph_[structures_[cycle.front()]].offset, "cycle " + what);
        }
    }
    structure_.clear();
}

}  // namespace info
