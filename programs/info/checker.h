// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "carvelle_rules.hpp"
#include "merge/part_scanner.h"

namespace info {

namespace rules = carvelle::rules;

// One place a rule is broken: the structure (empty in the library's head), the byte offset of the record or
// structure at fault, and what was found there.
struct Finding {
    std::string structure;
    std::uint64_t offset;
    std::string what;
};

struct RuleFindings {
    std::uint64_t count = 0;
    std::vector<Finding> first;  // the first `keep` of them, in file order
};

struct Check {
    rules::Limits limits{};
    std::string profile;  // as the user gave it
    std::size_t keep = 10;
    std::array<RuleFindings, rules::kRuleCount> found;
    bool clean() const {
        return std::all_of(found.begin(), found.end(), [](const RuleFindings& f) { return f.count == 0; });
    }
};

// Checks a library's records against a rule set in the part scanner's own walk. It keeps the structure names and,
// per structure, the distinct names it references (for the top structures, the undefined references and the
// cycles) and the first findings of each rule: nothing grows with the elements.
class Checker final : public carvelle::merge::RecordVisitor {
public:
    explicit Checker(Check& check);

    void record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) override;
    void likeElements(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like) override;
    void variedElement(const std::uint8_t* element, std::size_t size, std::uint64_t offset,
                       const carvelle::merge::LikeElements& like) override;
    // After the library's last record: the rules of the hierarchy.
    void finish();

private:
    struct Node {
        std::uint64_t offset = 0;  // of its BGNSTR; kUndefined while only referenced
        std::size_t structure = 0;
        // The names it references, by node, with the offset of the first element that does.
        std::vector<std::pair<std::uint32_t, std::uint64_t>> children;
        // The last structure that listed it among its children: a structure that places thousands of others
        // tells a new one from a known one without a search.
        std::uint32_t listedBy = kNobody;
    };
    static constexpr std::uint64_t kUndefined = ~std::uint64_t{0};
    static constexpr std::uint32_t kNobody = ~std::uint32_t{0};

    void add(rules::Rule rule, std::uint64_t offset, const std::string& what);
    void add(rules::Rule rule, std::uint64_t offset, const char* what, std::int64_t amount);
    std::uint32_t node(const std::uint8_t* name, std::size_t length);
    void beginStructure(const std::uint8_t* payload, std::size_t size, std::uint64_t offset);
    void endElement();
    void reference(const std::uint8_t* payload, std::size_t size);
    // An AREF's COLROW payload against the array rule; offset is the record's.
    void colRow(const std::uint8_t* payload, std::uint64_t offset);
    // What a template of like elements has where, and what it breaks whatever its elements hold; offsets are of
    // payloads within an element, 0 for none.
    struct Shape {
        std::uint64_t id = 0;
        std::size_t layer = 0, type = 0, colRow = 0, string = 0, stringSize = 0;
        std::uint64_t points = 0;
        bool reference = false, longRecords = false, longText = false, tooManyPoints = false;
        // For its elements whose varying record differs: the points and long records of the other records.
        std::uint64_t otherPoints = 0;
        bool otherLongRecords = false;
    };
    // The template's Shape: from the cache when it was sized up lately (the common case, inline), else sized up
    // from the headers it learned.
    const Shape& shapeOf(const carvelle::merge::LikeElements& like) {
        Shape& shape = shapes_[like.id() % kShapes];
        return shape.id == like.id() ? shape : sizeUp(shape, like);
    }
    const Shape& sizeUp(Shape& shape, const carvelle::merge::LikeElements& like);
    void text(const std::uint8_t* payload, std::size_t size, std::uint64_t offset);
    // One element's layer and type, once one of them is found over its limit.
    void judgeLayers(const std::uint8_t* element, std::uint64_t offset, const Shape& shape);
    // The elements of a template that references, has long records, a long text or too many points: each judged
    // by all it holds.
    void judgeEach(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like, const Shape& shape,
                   std::uint64_t start);

    Check& check_;
    // The limits as unsigned numbers, an unset rule as one no value reaches.
    std::uint32_t layer_, datatype_, record_;
    std::uint64_t next_ = 0;  // the offset of the byte after the last record seen
    std::unordered_map<std::string, std::uint32_t> nodes_;
    std::vector<Node> graph_;
    std::vector<std::uint32_t> structures_;  // the nodes defined, in file order
    std::uint32_t open_ = 0;                 // the node of the open structure
    std::string structure_;                  // its name
    std::uint64_t structureOffset_ = 0, elementOffset_ = 0;
    std::uint8_t element_ = 0;  // the record type that began the open element
    std::uint64_t points_ = 0;  // of the open element's XY records
    // The names of the structures referenced last, and their nodes (kNobody for none).
    struct Recent {
        std::string name;
        std::uint32_t node = kNobody;
    };
    static constexpr std::size_t kRecent = 4;
    Recent recent_[kRecent];
    std::size_t nextRecent_ = kRecent;  // where the next name goes, modulo kRecent; the last went before it
    // The last templates sized up, by id: a run of one element of a kind seen lately sizes up nothing.
    static constexpr std::size_t kShapes = 16;
    Shape shapes_[kShapes];
};

}  // namespace info
