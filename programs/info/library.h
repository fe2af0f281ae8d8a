// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "encoding/record_tags.h"
#include "info/names.h"

namespace info {

// What carvelle-info learns of one library: its head, per structure its elements by kind and by layer, its
// bounding box and its references, and the hierarchy the references make.

// Element kinds, in the order they are printed.
constexpr std::size_t kKinds = 7;
constexpr carvelle::Record kKindRecords[kKinds] = {carvelle::Record::Boundary, carvelle::Record::Path,
                                                   carvelle::Record::Box, carvelle::Record::Text,
                                                   carvelle::Record::Node, carvelle::Record::Sref,
                                                   carvelle::Record::Aref};
constexpr const char* kKindNames[kKinds] = {"BOUNDARY", "PATH", "BOX", "TEXT", "NODE", "SREF", "AREF"};
// The kinds from kSref on are references; those before them are shapes.
constexpr std::size_t kSref = 5, kNoKind = kKinds;
using Counts = std::array<std::uint64_t, kKinds>;

struct Reference {
    std::uint64_t srefs = 0, arefs = 0, placements = 0;
};

struct Structure {
    std::string name;
    std::uint64_t offset = 0;  // of its BGNSTR
    Counts kinds{};
    std::unordered_map<std::uint32_t, Counts> layers;  // by layer << 16 | type, both as written
    std::int32_t box[4] = {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
                           std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()};
    std::unordered_map<std::string, Reference> references;
    bool hasBox() const { return box[0] <= box[2]; }
};

struct Library {
    std::string path, name, error;
    std::uint64_t bytes = 0, errorOffset = 0;
    int version = 0;
    double userUnit = 0, meterUnit = 0;
    // The names defined and referenced, and per name the structure it defines (Names::kNone for none).
    Names names;
    std::vector<std::uint32_t> structureOf;
    std::vector<std::uint32_t> structures;  // by index, in file order: the name of each structure defined
    // Each definition's figures as it ended, packed (see library.cpp): a structure costs some tens of bytes
    // however many there are, and only the one being read is a Structure. A name defined again adds its
    // figures under the same index; they are counted into its first definition when it is printed.
    std::vector<std::string> figures;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> again;  // index, block << 32 | where in it; by index once read
    std::vector<std::string> duplicates;
    // The hierarchy, by structure index or name.
    std::vector<std::size_t> top;
    std::vector<std::pair<std::string, std::vector<std::size_t>>> undefined;
    std::vector<std::vector<std::size_t>> cycles;

    std::size_t structureCount() const { return structures.size(); }
    std::string structureName(std::size_t index) const { return std::string(names[structures[index]]); }
    // A structure whose ENDSTR has come: its figures packed, and its references as edges of the hierarchy.
    void store(const Structure& structure, std::uint32_t index, bool definedAgain);
    // Each structure in file order, its figures unpacked (with those of any later definition of its name).
    void forEachStructure(const std::function<void(const Structure&)>& visit) const;
    // Per structure stored, each name it references: (its index, the name's number).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;

private:
    std::string entry_;  // the one being packed
};

}  // namespace info
