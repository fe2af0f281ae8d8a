// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "info/library.h"
#include "merge/part_scanner.h"

namespace info {

// Gathers a library's figures from the records the part scanner has checked, in the scanner's own walk.
class Figures final : public carvelle::merge::RecordVisitor {
public:
    explicit Figures(Library& library) : library_(library) {}

    void record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) override;
    void likeElements(const std::uint8_t* first, std::size_t count, const carvelle::merge::LikeElements& like) override;
    // Record by record, as the records of an element learned: called directly, not through the base.
    void variedElement(const std::uint8_t* element, std::size_t size, std::uint64_t offset,
                       const carvelle::merge::LikeElements& like) override {
        eachRecord(*this, element, size, offset, like);
    }

private:
    enum class Role : std::uint8_t {
        Other,
        Xy,
        Layer,
        Type,
        Sname,
        ColRow,
        BgnStr,
        StrName,
        EndStr,
        Header,
        LibName,
        Units
    };
    struct Tables {
        std::array<std::uint8_t, 256> kindOf{};
        std::array<Role, 256> roleOf{};
    };
    static Tables tables();
    static const Tables kTables;

    // One record's share of the figures.
    void take(const std::uint8_t* record, std::size_t length);
    Structure& current() { return current_; }
    void beginStructure(std::string name);
    void endStructure();
    // One more element of the current kind on the current layer and this type.
    void tally(std::uint16_t type);
    void reference(const std::uint8_t* payload, std::size_t size);
    void extend(const std::uint8_t* payload, std::size_t points);

    Library& library_;
    Structure current_;  // the structure being read
    std::uint32_t index_ = 0;
    bool again_ = false;  // its name was defined before
    std::size_t kind_ = kNoKind;
    std::uint64_t structureOffset_ = 0;
    std::uint16_t layer_ = 0;
    // The counts and the reference of the last element, which the next one often shares.
    std::uint32_t lastKey_ = 0;
    Counts* lastLayer_ = nullptr;
    std::string lastName_;
    Reference* reference_ = nullptr;
};

}  // namespace info
