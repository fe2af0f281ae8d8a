// SPDX-License-Identifier: MIT
#include "info/library.h"

#include <algorithm>

namespace info {
namespace {

// The packed figures of one definition, numbers as LEB128 (seven bits a byte, low first) and the bounding box's
// corners zigzagged: its index, its BGNSTR's offset, its elements by kind (a byte with a bit per kind, then the
// counts of the kinds it has), its layers (count, then key and elements by kind each), whether it has a box and
// the box, its references (count, then the name's number and the three counts each).
constexpr std::size_t kBlock = std::size_t{1} << 20;
void put(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}
void putCounts(std::string& out, const Counts& counts) {
    unsigned kinds = 0;
    for (std::size_t k = 0; k < kKinds; ++k) kinds |= counts[k] != 0 ? 1u << k : 0u;
    out.push_back(static_cast<char>(kinds));
    for (const auto count : counts) {
        if (count != 0) put(out, count);
    }
}
std::uint64_t zigzag(std::int32_t value) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)) << 1) ^ (value < 0 ? ~std::uint64_t{0} : 0);
}

class Reader {
public:
    Reader(const std::string& bytes, std::size_t at) : bytes_(&bytes), at_(at) {}
    std::uint64_t get() {
        std::uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const auto byte = static_cast<unsigned char>((*bytes_)[at_++]);
            value |= std::uint64_t{byte & 0x7Fu} << shift;
            if (byte < 0x80) return value;
        }
    }
    std::int32_t getSigned() {
        const std::uint64_t value = get();
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value >> 1) ^ static_cast<std::uint32_t>(0 - (value & 1)));
    }
    void addCounts(Counts& counts) {
        const auto kinds = static_cast<unsigned char>((*bytes_)[at_++]);
        for (std::size_t k = 0; k < kKinds; ++k) {
            if (kinds & (1u << k)) counts[k] += get();
        }
    }
    std::size_t at() const { return at_; }
    bool done() const { return at_ >= bytes_->size(); }

private:
    const std::string* bytes_;
    std::size_t at_;
};

// Unpacks one definition's figures into s, adding them to what it holds.
std::uint32_t unpack(Reader& in, const Names& names, Structure& s) {
    const auto index = static_cast<std::uint32_t>(in.get());
    const std::uint64_t offset = in.get();
    s.offset = offset;
    in.addCounts(s.kinds);
    for (std::uint64_t n = in.get(); n > 0; --n) in.addCounts(s.layers[static_cast<std::uint32_t>(in.get())]);
    if (in.get() != 0) {
        const std::int32_t box[4] = {in.getSigned(), in.getSigned(), in.getSigned(), in.getSigned()};
        s.box[0] = std::min(s.box[0], box[0]);
        s.box[1] = std::min(s.box[1], box[1]);
        s.box[2] = std::max(s.box[2], box[2]);
        s.box[3] = std::max(s.box[3], box[3]);
    }
    for (std::uint64_t n = in.get(); n > 0; --n) {
        Reference& r = s.references[std::string(names[static_cast<std::uint32_t>(in.get())])];
        r.srefs += in.get();
        r.arefs += in.get();
        r.placements += in.get();
    }
    return index;
}

}  // namespace

void Library::store(const Structure& s, std::uint32_t index, bool definedAgain) {
    std::string& out = entry_;
    out.clear();
    put(out, index);
    put(out, s.offset);
    putCounts(out, s.kinds);
    put(out, s.layers.size());
    for (const auto& [key, counts] : s.layers) {
        put(out, key);
        putCounts(out, counts);
    }
    put(out, s.hasBox() ? 1 : 0);
    if (s.hasBox()) {
        for (const std::int32_t corner : s.box) put(out, zigzag(corner));
    }
    put(out, s.references.size());
    for (const auto& [placed, r] : s.references) {
        const std::uint32_t number = names.intern(placed);
        if (number == structureOf.size()) structureOf.push_back(Names::kNone);
        edges.emplace_back(index, number);
        put(out, number);
        put(out, r.srefs);
        put(out, r.arefs);
        put(out, r.placements);
    }
    // Blocks that are never moved once filled: a growing string would copy them all, and for a while hold them
    // twice.
    if (figures.empty() || figures.back().size() + out.size() > figures.back().capacity()) {
        figures.emplace_back();
        figures.back().reserve(std::max(kBlock, out.size()));
    }
    if (definedAgain) again.emplace_back(index, (std::uint64_t{figures.size() - 1} << 32) | figures.back().size());
    figures.back() += out;
}

void Library::forEachStructure(const std::function<void(const Structure&)>& visit) const {
    std::size_t next = 0;  // the index of the next first definition
    for (const std::string& block : figures) {
        for (Reader in(block, 0); !in.done();) {
            Structure s;
            const std::uint32_t index = unpack(in, names, s);
            if (index != next) continue;  // a definition again, counted into its first
            ++next;
            s.name = structureName(index);
            // again is sorted by index once the library is read.
            const auto first = std::lower_bound(again.begin(), again.end(), std::make_pair(index, std::uint64_t{0}));
            for (auto it = first; it != again.end() && it->first == index; ++it) {
                Reader more(figures[it->second >> 32], it->second & 0xFFFFFFFFu);
                const std::uint64_t offset = s.offset;
                unpack(more, names, s);
                s.offset = offset;
            }
            visit(s);
        }
    }
}

}  // namespace info
