// SPDX-License-Identifier: MIT
#include "info/figures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace info {
namespace {

using carvelle::Record;
using carvelle::tagOf;

std::int32_t be32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 |
                                     std::uint32_t{at[2]} << 8 | at[3]);
}
std::int16_t be16(const std::uint8_t* at) { return static_cast<std::int16_t>(at[0] << 8 | at[1]); }
std::size_t lengthOf(const std::uint8_t* record) { return std::size_t{record[0]} << 8 | record[1]; }
// A string payload up to its first NUL.
std::string textOf(const std::uint8_t* payload, std::size_t size) {
    const auto* end = std::find(payload, payload + size, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(payload), static_cast<std::size_t>(end - payload));
}
double real8(const std::uint8_t* at) {
    std::uint64_t mantissa = 0;
    for (std::size_t b = 1; b < 8; ++b) mantissa = mantissa << 8 | at[b];
    const double magnitude = std::ldexp(static_cast<double>(mantissa), 4 * ((at[0] & 0x7F) - 64) - 56);
    return (at[0] & 0x80) ? -magnitude : magnitude;
}

// A bounding box being extended, in registers.
struct Box {
    std::int32_t x0, y0, x1, y1;
    explicit Box(const std::int32_t* box) : x0(box[0]), y0(box[1]), x1(box[2]), y1(box[3]) {}
    void extend(const std::uint8_t* payload, std::size_t points) {
        for (std::size_t i = 0; i < points; ++i, payload += 8) {
            const std::int32_t x = be32(payload), y = be32(payload + 4);
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    }
    void store(std::int32_t* box) const { box[0] = x0, box[1] = y0, box[2] = x1, box[3] = y1; }
};

}  // namespace

Figures::Tables Figures::tables() {
    Tables t;
    t.kindOf.fill(kNoKind);
    for (std::size_t k = 0; k < kKinds; ++k) t.kindOf[tagOf(kKindRecords[k]).recordType] = static_cast<std::uint8_t>(k);
    t.roleOf.fill(Role::Other);
    const std::pair<Record, Role> roles[] = {
        {Record::Xy, Role::Xy},
        {Record::Layer, Role::Layer},
        {Record::Datatype, Role::Type},
        {Record::TextType, Role::Type},
        {Record::NodeType, Role::Type},
        {Record::BoxType, Role::Type},
        {Record::Sname, Role::Sname},
        {Record::ColRow, Role::ColRow},
        {Record::BgnStr, Role::BgnStr},
        {Record::StrName, Role::StrName},
        {Record::EndStr, Role::EndStr},
        {Record::Header, Role::Header},
        {Record::LibName, Role::LibName},
        {Record::Units, Role::Units},
    };
    for (const auto& [which, role] : roles) t.roleOf[tagOf(which).recordType] = role;
    return t;
}

const Figures::Tables Figures::kTables = Figures::tables();

void Figures::record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) {
    if (kTables.roleOf[bytes[2]] == Role::BgnStr) structureOffset_ = offset;
    take(bytes, length);
}

void Figures::likeElements(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like) {
    const std::size_t kind = kTables.kindOf[first[2]];
    if (kind >= kSref) {
        // References: their names may differ from one element to the next.
        for (; count > 0; --count, first += like.size()) {
            for (std::size_t r = 0; r < like.records(); ++r) {
                const std::uint8_t* at = first + like.start(r);
                take(at, lengthOf(at));
            }
        }
        return;
    }
    // Shapes: their layer, type and points lie at the same places in each. The bounding box stays in registers
    // for the run.
    std::size_t layer = 0, type = 0, xy = 0, points = 0;
    for (std::size_t r = 0; r < like.records(); ++r) {
        const std::uint8_t* at = first + like.start(r);
        const Role role = kTables.roleOf[at[2]];
        if (role == Role::Layer) layer = like.start(r) + 4;
        if (role == Role::Type) type = like.start(r) + 4;
        if (role == Role::Xy) {
            xy = like.start(r) + 4;
            points = (lengthOf(at) - 4) / 8;
        }
    }
    kind_ = kind;
    Box box(current().box);
    for (std::size_t n = 0; n < count; ++n, first += like.size()) {
        layer_ = static_cast<std::uint16_t>(be16(first + layer));
        tally(static_cast<std::uint16_t>(be16(first + type)));
        box.extend(first + xy, points);
    }
    box.store(current().box);
    current().kinds[kind_] += count;
}

void Figures::take(const std::uint8_t* record, std::size_t length) {
    const std::uint8_t type = record[2];
    const std::uint8_t* payload = record + 4;
    const std::size_t size = length - 4;
    if (kTables.kindOf[type] != kNoKind) {
        kind_ = kTables.kindOf[type];
        ++current().kinds[kind_];
        return;
    }
    switch (kTables.roleOf[type]) {
        case Role::Xy:
            if (kind_ < kSref) extend(payload, size / 8);
            break;
        case Role::Layer:
            layer_ = static_cast<std::uint16_t>(be16(payload));
            break;
        case Role::Type:
            tally(static_cast<std::uint16_t>(be16(payload)));
            break;
        case Role::Sname:
            reference(payload, size);
            break;
        case Role::ColRow: {
            const std::int64_t cols = be16(payload), rows = be16(payload + 2);
            if (reference_ != nullptr && cols > 0 && rows > 0) {
                reference_->placements += static_cast<std::uint64_t>(cols * rows);
            }
            break;
        }
        case Role::StrName:
            beginStructure(textOf(payload, size));
            break;
        case Role::EndStr:
            endStructure();
            break;
        case Role::Header:
            library_.version = be16(payload);
            break;
        case Role::LibName:
            library_.name = textOf(payload, size);
            break;
        case Role::Units:
            library_.userUnit = real8(payload);
            library_.meterUnit = real8(payload + 8);
            break;
        case Role::BgnStr:
        case Role::Other:
            break;
    }
}

void Figures::beginStructure(std::string name) {
    const std::uint32_t number = library_.names.intern(name);
    if (number == library_.structureOf.size()) library_.structureOf.push_back(Names::kNone);
    again_ = library_.structureOf[number] != Names::kNone;
    if (again_) {
        index_ = library_.structureOf[number];
        library_.duplicates.push_back(std::move(name));  // counted into its first definition
    } else {
        index_ = static_cast<std::uint32_t>(library_.structures.size());
        library_.structureOf[number] = index_;
        library_.structures.push_back(number);
    }
    current_.offset = structureOffset_;
    current_.kinds.fill(0);
    current_.layers.clear();
    current_.references.clear();
    current_.box[0] = current_.box[1] = std::numeric_limits<std::int32_t>::max();
    current_.box[2] = current_.box[3] = std::numeric_limits<std::int32_t>::min();
    lastLayer_ = nullptr;
    reference_ = nullptr;
}

void Figures::endStructure() {
    library_.store(current_, index_, again_);
    lastLayer_ = nullptr;
    reference_ = nullptr;
}

void Figures::tally(std::uint16_t type) {
    const std::uint32_t key = std::uint32_t{layer_} << 16 | type;
    if (lastLayer_ == nullptr || key != lastKey_) {
        lastLayer_ = &current().layers[key];
        lastKey_ = key;
    }
    ++(*lastLayer_)[kind_];
}

void Figures::reference(const std::uint8_t* payload, std::size_t size) {
    std::size_t length = static_cast<std::size_t>(std::find(payload, payload + size, std::uint8_t{0}) - payload);
    if (reference_ == nullptr || lastName_.size() != length || std::memcmp(lastName_.data(), payload, length) != 0) {
        lastName_.assign(reinterpret_cast<const char*>(payload), length);
        reference_ = &current().references[lastName_];
    }
    if (kind_ == kSref) {
        ++reference_->srefs;
        ++reference_->placements;  // an AREF's are counted at COLROW
    } else {
        ++reference_->arefs;
    }
}

void Figures::extend(const std::uint8_t* payload, std::size_t points) {
    Box box(current().box);
    box.extend(payload, points);
    box.store(current().box);
}

}  // namespace info
