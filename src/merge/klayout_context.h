// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "merge/part_scanner.h"

namespace carvelle::merge {

// KLayout keeps what makes a cell a PCell variant or a library cell (the library, the PCell, its parameters) in a
// structure of its own, $$$CONTEXT_INFO$$$: one element per such cell, an SREF naming the cell, whose properties
// are the context's strings ("LIB=Basic", "PCELL=TEXT", "P(text)='HELLO'"), each PROPATTR the string's index.
// KLayout reads that structure only as a library's first: elsewhere it is a cell like any other, and the cells
// it describes lose what they were. So the merge writes one context first, joined from the parts' own.
inline constexpr const char kContextCell[] = "$$$CONTEXT_INFO$$$";

// Gathers the records of a part's first structure while the part's head is read (small, so held whole), but
// only when that structure is a context: any other first structure is no more than its name.
class FirstStructure final : public RecordVisitor {
public:
    void record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) override;
    void likeElements(const std::uint8_t* first, std::size_t count, const LikeElements& like) override;
    // Its ENDSTR came, or its name says it is no context.
    bool decided() const { return state_ == State::Done || state_ == State::Other; }
    // The whole context structure, BGNSTR to ENDSTR, and where it begins in the part; empty when the first
    // structure is no context.
    bool isContext() const { return state_ == State::Done; }
    const std::string& bytes() const { return bytes_; }
    std::uint64_t begin() const { return begin_; }

private:
    enum class State : std::uint8_t { Before,
                                      Name,
                                      Inside,
                                      Done,
                                      Other };
    State state_ = State::Before;
    std::string bytes_;
    std::uint64_t begin_ = 0;
};

// The contexts of the parts joined into one: each element once, the first part's where several parts describe
// the same cell alike; two parts that describe one cell otherwise are refused, and so is a context whose strings
// are cut (an index missing, a value that ends before it is whole), which KLayout would misread.
class ContextJoin {
public:
    // Adds the context structure `bytes` (BGNSTR to ENDSTR, as the scanner passed it) of part `path`. False with
    // why in error; `disagree` tells a context that contradicts an earlier part's from one that is broken.
    bool add(const std::string& bytes, const std::string& path, std::string& error, bool& disagree);
    bool empty() const { return elements_.empty() && opening_.empty(); }
    // The joined structure, to be the output's first.
    std::string bytes() const;

private:
    struct Element {
        std::string bytes;                 // the element as the part wrote it, ENDEL included
        std::vector<std::string> strings;  // its properties' values by index, up to the first NUL
        std::size_t part;                  // in paths_
    };
    std::string opening_;  // BGNSTR and STRNAME of the first context
    std::vector<Element> elements_;
    // The element's records before its first PROPATTR (an SREF's SNAME and XY: the cell it describes) to its
    // index in elements_.
    std::unordered_map<std::string, std::size_t> byTarget_;
    std::vector<std::string> paths_;
};

// True when a context string is whole: KEY=VALUE, where a parameter's or a meta value's VALUE (P(name)=,
// META(name)=) is one complete value as KLayout writes them (nil, true, false, #12, #l12, ##1.5, 'text',
// "text", [layer:1/0], (list), {key=>value}) and any other's is not empty.
bool wholeContextString(const std::string& text);

}  // namespace carvelle::merge
