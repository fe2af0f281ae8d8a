// SPDX-License-Identifier: MIT
#pragma once

// The names of one OASIS file (cell names, text strings, property names or
// property strings) with their reference numbers, given in order of first
// use, so that the table written before END lists them in number order and
// needs no explicit numbers.
// About 100 bytes a name on a 64-bit host, plus the name itself: the node of
// the hash map and its bucket, the string and its place in the list.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace carvelle {

class NameTable {
public:
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};

    // The number of name, kNone when it has none yet. No allocation.
    std::uint64_t find(const char* name, std::size_t length) const {
        const auto found = numbers_.find(std::string_view(name, length));
        return found == numbers_.end() ? kNone : found->second;
    }
    // The number of name, given now when it has none; kNone when the memory
    // for a new name cannot be had (then nothing is added).
    std::uint64_t number(const char* name, std::size_t length);

    std::size_t size() const { return names_.size(); }
    const std::string& name(std::uint64_t number) const { return names_[number]; }

private:
    std::deque<std::string> names_;  // by number; a deque keeps them in place for the views
    std::unordered_map<std::string_view, std::uint64_t> numbers_;
};

}  // namespace carvelle
