// SPDX-License-Identifier: MIT
#include "oasis/name_table.h"

#include <new>

namespace carvelle {

std::uint64_t NameTable::number(const char* name, std::size_t length) {
    const std::uint64_t known = find(name, length);
    if (known != kNone) return known;
    const std::uint64_t next = names_.size();
    try {
        names_.emplace_back(name, length);
    } catch (...) {
        return kNone;
    }
    try {
        numbers_.emplace(std::string_view(names_.back()), next);
    } catch (...) {
        names_.pop_back();
        return kNone;
    }
    return next;
}

}  // namespace carvelle
