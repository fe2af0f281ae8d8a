// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace info {

// Every name a library defines or references, once each, by number in the order first seen: the bytes of all the
// names in one string and an open-addressed table of numbers, so that a name costs its bytes and about 20 more
// (a hash map of strings costs about 80).
class Names {
public:
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};

    // The name's number, added when it is new.
    std::uint32_t intern(std::string_view name) {
        if ((count() + 1) * 2 > slots_.size()) grow();
        std::size_t slot = hash(name) & (slots_.size() - 1);
        for (; slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
            if ((*this)[slots_[slot] - 1] == name) return slots_[slot] - 1;
        }
        const auto added = static_cast<std::uint32_t>(count());
        bytes_.append(name);
        starts_.push_back(bytes_.size());
        slots_[slot] = added + 1;
        return added;
    }
    // The name's number, or kNone.
    std::uint32_t find(std::string_view name) const {
        if (slots_.empty()) return kNone;
        for (std::size_t slot = hash(name) & (slots_.size() - 1); slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
            if ((*this)[slots_[slot] - 1] == name) return slots_[slot] - 1;
        }
        return kNone;
    }
    std::string_view operator[](std::uint32_t number) const {
        return std::string_view(bytes_).substr(starts_[number], starts_[number + 1] - starts_[number]);
    }
    std::size_t count() const { return starts_.size() - 1; }

private:
    static std::uint64_t hash(std::string_view name) {
        std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a
        // cppcheck-suppress useStlAlgorithm
        for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
        return h ^ (h >> 29);
    }
    void grow() {
        std::vector<std::uint32_t> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
        for (std::uint32_t n = 0; n < count(); ++n) {
            std::size_t slot = hash((*this)[n]) & (slots.size() - 1);
            while (slots[slot] != 0) slot = (slot + 1) & (slots.size() - 1);
            slots[slot] = n + 1;
        }
        slots_.swap(slots);
    }

    std::string bytes_;
    std::vector<std::uint64_t> starts_{0};  // name n is bytes_[starts_[n], starts_[n + 1])
    std::vector<std::uint32_t> slots_;      // a name's number + 1, 0 for none
};

}  // namespace info
