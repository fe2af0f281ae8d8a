// SPDX-License-Identifier: MIT
// carvelle-info [--json] FILE...: what a GDSII library holds, per structure
// (elements by kind and by layer, bounding box, references) and as a whole
// (top structures, undefined references, cycles). The file is streamed in
// pieces through the merge's part scanner and element checker, so it takes
// constant memory whatever its size, plus the names. Exit status 0 when
// every file was read, 1 when one is damaged (the message gives the byte),
// 2 for a usage error or a file that cannot be read.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "encoding/record_tags.h"
#include "gds_api.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"
#include "tool_main.h"

namespace {

using carvelle::Record;
using carvelle::tagOf;

constexpr const char* kUsage =
    "usage: carvelle-info [--json] FILE...\n"
    "Prints what each GDSII library holds: per structure its elements by kind and by\n"
    "layer/datatype, its bounding box and its references; then the top structures,\n"
    "the undefined references and the cycles.\n"
    "  --json  one JSON array with an object per file, for scripts\n";

// Element kinds, in the order they are printed.
constexpr std::size_t kKinds = 7;
constexpr Record kKindRecords[kKinds] = {Record::Boundary, Record::Path, Record::Box, Record::Text,
                                         Record::Node, Record::Sref, Record::Aref};
constexpr const char* kKindNames[kKinds] = {"BOUNDARY", "PATH", "BOX", "TEXT", "NODE", "SREF", "AREF"};
constexpr std::size_t kSref = 5, kAref = 6, kNoKind = kKinds;
using Counts = std::array<std::uint64_t, kKinds>;

// Pieces of 1 MiB, with room in front for the part of a record that the last piece cut.
constexpr std::size_t kPiece = std::size_t{1} << 20;
constexpr std::size_t kLongestRecord = 65535;

std::int32_t be32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 |
                                     std::uint32_t{at[2]} << 8 | at[3]);
}
std::int16_t be16(const std::uint8_t* at) { return static_cast<std::int16_t>(at[0] << 8 | at[1]); }
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
    std::vector<Structure> structures;
    std::vector<std::string> duplicates;
    // Results of the hierarchy, by structure index or name.
    std::vector<std::size_t> top;
    std::vector<std::pair<std::string, std::vector<std::size_t>>> undefined;
    std::vector<std::vector<std::size_t>> cycles;
};

// Gathers the figures from whole records, after the scanner has passed them.
class Summary {
public:
    explicit Summary(Library& library) : library_(library) {}

    void record(const std::uint8_t* at, std::size_t length) {
        const std::uint8_t type = at[2];
        const std::uint8_t* payload = at + 4;
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
                count(static_cast<std::uint16_t>(be16(payload)));
                break;
            case Role::Sname:
                reference(payload, size);
                break;
            case Role::ColRow: {
                const std::int64_t cols = be16(payload), rows = be16(payload + 2);
                if (reference_ != nullptr && cols > 0 && rows > 0) reference_->placements += static_cast<std::uint64_t>(cols * rows);
                break;
            }
            case Role::BgnStr:
                structureOffset_ = offset_;
                break;
            case Role::StrName:
                beginStructure(textOf(payload, size));
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
            case Role::EndLib:
                ended_ = true;
                break;
            case Role::Other:
                break;
        }
    }
    // Walks the whole records at the front of bytes (which start at the given file offset); returns how
    // many bytes they take.
    std::size_t walk(const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
        std::size_t at = 0;
        while (!ended_ && size - at >= 4) {
            if (shape_.size > 0 && size - at >= shape_.size && shape_.matches(bytes + at)) {
                // Shapes with the record headers of the last one: their figures lie at the same places. The
                // bounding box stays in registers for the run.
                Box box(current().box);
                std::uint64_t shapes = 0;
                do {
                    const std::uint8_t* element = bytes + at;
                    layer_ = static_cast<std::uint16_t>(be16(element + shape_.layer));
                    count(static_cast<std::uint16_t>(be16(element + shape_.type)));
                    box.extend(element + shape_.xy, shape_.points);
                    ++shapes;
                    at += shape_.size;
                } while (size - at >= shape_.size && shape_.matches(bytes + at));
                box.store(current().box);
                current().kinds[kind_] += shapes;
                continue;
            }
            const std::size_t length = std::size_t{bytes[at]} << 8 | bytes[at + 1];
            if (length < 4 || length > size - at) break;  // the scanner refuses the first; the second waits
            offset_ = offset + at;
            record(bytes + at, length);
            learn(bytes + at, length);
            at += length;
        }
        return ended_ ? size : at;
    }

    // The hierarchy: top structures, undefined references and cycles.
    void finish() {
        std::unordered_map<std::string, std::size_t> undefinedIndex;
        std::vector<std::vector<std::size_t>> children(library_.structures.size());
        std::vector<bool> referenced(library_.structures.size(), false);
        for (std::size_t s = 0; s < library_.structures.size(); ++s) {
            for (const auto& [name, ignored] : library_.structures[s].references) {
                const auto defined = index_.find(name);
                if (defined != index_.end()) {
                    children[s].push_back(defined->second);
                    referenced[defined->second] = true;
                    continue;
                }
                const auto [entry, added] = undefinedIndex.emplace(name, library_.undefined.size());
                if (added) library_.undefined.push_back({name, {}});
                library_.undefined[entry->second].second.push_back(s);
            }
            std::sort(children[s].begin(), children[s].end());
        }
        std::sort(library_.undefined.begin(), library_.undefined.end());
        for (std::size_t s = 0; s < referenced.size(); ++s) {
            if (!referenced[s]) library_.top.push_back(s);
        }
        findCycles(children);
    }

private:
    enum class Role : std::uint8_t { Other,
                                     Xy,
                                     Layer,
                                     Type,
                                     Sname,
                                     ColRow,
                                     BgnStr,
                                     StrName,
                                     Header,
                                     LibName,
                                     Units,
                                     EndLib };
    struct Tables {
        std::array<std::uint8_t, 256> kindOf{};
        std::array<Role, 256> roleOf{};
    };
    static Tables tables() {
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
            {Record::Header, Role::Header},
            {Record::LibName, Role::LibName},
            {Record::Units, Role::Units},
            {Record::EndLib, Role::EndLib},
        };
        for (const auto& [which, role] : roles) t.roleOf[tagOf(which).recordType] = role;
        return t;
    }

    Structure& current() { return library_.structures[structure_]; }

    // The record headers of the last shape (BOUNDARY, PATH, BOX, TEXT or NODE) and where its layer, type and
    // points lie: a run of like shapes is read without a record-by-record walk, as the scanner checks it.
    struct Shape {
        static constexpr std::size_t kMostRecords = 16;
        std::uint32_t headers[kMostRecords] = {};
        std::uint16_t starts[kMostRecords] = {};
        std::size_t records = 0, size = 0, layer = 0, type = 0, xy = 0, points = 0;
        bool matches(const std::uint8_t* element) const {
            for (std::size_t i = 0; i < records; ++i) {
                std::uint32_t header;
                std::memcpy(&header, element + starts[i], sizeof header);
                if (header != headers[i]) return false;
            }
            return true;
        }
    };
    void learn(const std::uint8_t* at, std::size_t length) {
        const std::uint8_t type = at[2];
        if (kTables.kindOf[type] != kNoKind) {
            shape_.size = 0;
            learning_ = kTables.kindOf[type] < kSref;
            learned_ = Shape{};
        }
        if (!learning_) return;
        if (learned_.records == Shape::kMostRecords) {
            learning_ = false;
            return;
        }
        std::memcpy(&learned_.headers[learned_.records], at, sizeof(std::uint32_t));
        learned_.starts[learned_.records++] = static_cast<std::uint16_t>(learned_.size);
        if (kTables.roleOf[type] == Role::Layer) learned_.layer = learned_.size + 4;
        if (kTables.roleOf[type] == Role::Type) learned_.type = learned_.size + 4;
        if (kTables.roleOf[type] == Role::Xy) {
            learned_.xy = learned_.size + 4;
            learned_.points = (length - 4) / 8;
        }
        learned_.size += length;
        if (type == tagOf(Record::EndEl).recordType) {
            shape_ = learned_;
            learning_ = false;
        }
    }

    void beginStructure(std::string name) {
        const auto [entry, added] = index_.emplace(name, library_.structures.size());
        if (added) {
            library_.structures.emplace_back();
            library_.structures.back().name = std::move(name);
            library_.structures.back().offset = structureOffset_;
        } else {
            library_.duplicates.push_back(std::move(name));  // counted into its first definition
        }
        structure_ = entry->second;
        lastLayer_ = nullptr;
        reference_ = nullptr;
    }

    void count(std::uint16_t type) {
        const std::uint32_t key = std::uint32_t{layer_} << 16 | type;
        if (lastLayer_ == nullptr || key != lastKey_) {
            lastLayer_ = &current().layers[key];
            lastKey_ = key;
        }
        ++(*lastLayer_)[kind_];
    }

    void reference(const std::uint8_t* payload, std::size_t size) {
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
    void extend(const std::uint8_t* payload, std::size_t points) {
        Box box(current().box);
        box.extend(payload, points);
        box.store(current().box);
    }

    // A depth-first walk without recursion (hierarchies can be deep); each edge back to a structure on the
    // walk's path closes one cycle.
    void findCycles(const std::vector<std::vector<std::size_t>>& children) {
        enum : std::uint8_t { New,
                              OnPath,
                              Done };
        std::vector<std::uint8_t> mark(children.size(), New);
        std::vector<std::pair<std::size_t, std::size_t>> path;  // structure, next child to visit
        for (std::size_t root = 0; root < children.size(); ++root) {
            if (mark[root] != New) continue;
            path.push_back({root, 0});
            mark[root] = OnPath;
            while (!path.empty()) {
                auto& [node, next] = path.back();
                if (next == children[node].size()) {
                    mark[node] = Done;
                    path.pop_back();
                    continue;
                }
                const std::size_t child = children[node][next++];
                if (mark[child] == New) {
                    mark[child] = OnPath;
                    path.push_back({child, 0});
                } else if (mark[child] == OnPath) {
                    std::vector<std::size_t> cycle;
                    auto from = std::find_if(path.begin(), path.end(), [&](const auto& step) { return step.first == child; });
                    for (; from != path.end(); ++from) cycle.push_back(from->first);
                    cycle.push_back(child);
                    library_.cycles.push_back(std::move(cycle));
                }
            }
        }
    }

    static const Tables kTables;
    Library& library_;

    std::unordered_map<std::string, std::size_t> index_;
    std::size_t structure_ = 0, kind_ = kNoKind;
    std::uint64_t offset_ = 0, structureOffset_ = 0;
    std::uint16_t layer_ = 0;
    std::uint32_t lastKey_ = 0;
    Counts* lastLayer_ = nullptr;
    std::string lastName_;
    Reference* reference_ = nullptr;
    bool ended_ = false;
    Shape shape_, learned_;
    bool learning_ = false;
};

const Summary::Tables Summary::kTables = Summary::tables();

// The first "at byte N" of a scanner message: where the file went wrong (0 for a file that is no GDSII).
std::uint64_t offsetIn(const std::string& message) {
    constexpr const char* kAt = "at byte ";
    const std::size_t at = message.find(kAt);
    return at == std::string::npos ? 0 : std::strtoull(message.c_str() + at + std::strlen(kAt), nullptr, 10);
}

// Reads one file; false when it cannot be read (library.error set, errorOffset meaningless) or is damaged.
enum class Outcome { Read,
                     Damaged,
                     Unreadable };
Outcome read(Library& library) {
    carvelle::merge::PartReader file;  // a .gz file decompressed on the way
    if (!file.open(library.path, library.error)) return Outcome::Unreadable;
    library.bytes = file.gzip() ? 0 : file.file().size();  // a .gz file's bytes are counted as they come
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kLongestRecord + kPiece]);
    carvelle::merge::PartScanner scanner;
    Summary summary(library);
    std::size_t kept = 0;      // bytes of a cut record at the buffer's front
    std::uint64_t offset = 0;  // of the buffer's first byte
    for (;;) {
        const std::size_t got = file.read(buffer.get() + kept, kPiece, library.error);
        if (!library.error.empty()) return file.damaged() ? Outcome::Damaged : Outcome::Unreadable;
        if (got == 0) break;
        if (file.gzip()) library.bytes += got;
        if (!scanner.feed(buffer.get() + kept, got)) break;
        scanner.structures().clear();
        const std::size_t size = kept + got;
        const std::size_t used = summary.walk(buffer.get(), size, offset);
        kept = size - used;
        std::memmove(buffer.get(), buffer.get() + used, kept);
        offset += used;
    }
    if (!scanner.finish()) {
        library.error = scanner.error();
        library.errorOffset = offsetIn(library.error);
        return Outcome::Damaged;
    }
    summary.finish();
    return Outcome::Read;
}

// Names as they are, with quotes, backslashes and control bytes escaped.
std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1
                                                : (lead >> 4) == 14  ? 2
                                                : (lead >> 3) == 30  ? 3
                                                                     : 4;
        if (extra == 4 || lead == 0xC0 || lead == 0xC1 || i + extra >= text.size() + (extra == 0)) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        }
        i += extra + 1;
    }
    return true;
}

// A JSON string: UTF-8 names as they are; a name that is not UTF-8 with each byte above 0x7F as \u00XX.
std::string json(const std::string& text) {
    const bool utf8 = validUtf8(text);
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double value, int digits = 17) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

std::vector<std::pair<std::uint32_t, const Counts*>> sortedLayers(const Structure& s) {
    std::vector<std::pair<std::uint32_t, const Counts*>> layers;
    for (const auto& [key, counts] : s.layers) layers.emplace_back(key, &counts);
    std::sort(layers.begin(), layers.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return layers;
}
std::vector<std::pair<std::string, const Reference*>> sortedReferences(const Structure& s) {
    std::vector<std::pair<std::string, const Reference*>> references;
    for (const auto& [name, reference] : s.references) references.emplace_back(name, &reference);
    std::sort(references.begin(), references.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return references;
}

std::string kindsText(const Counts& counts) {
    std::string out;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (counts[k] == 0) continue;
        out += (out.empty() ? "" : ", ") + std::to_string(counts[k]) + " " + kKindNames[k];
    }
    return out.empty() ? "none" : out;
}
std::string kindsJson(const Counts& counts) {
    std::string out;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (counts[k] == 0) continue;
        out += (out.empty() ? "{\"" : ", \"") + std::string(kKindNames[k]) + "\": " + std::to_string(counts[k]);
    }
    return out.empty() ? "{}" : out + "}";
}
std::uint64_t total(const Counts& counts) {
    return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
}

void printText(const Library& lib) {
    std::printf("%s: library %s, version %d, user unit %s, database unit %s m, %" PRIu64 " bytes, %zu structures\n",
                lib.path.c_str(), quoted(lib.name).c_str(), lib.version, number(lib.userUnit, 15).c_str(),
                number(lib.meterUnit, 15).c_str(), lib.bytes, lib.structures.size());
    for (const Structure& s : lib.structures) {
        std::printf("structure %s: %" PRIu64 " elements: %s\n", quoted(s.name).c_str(), total(s.kinds),
                    kindsText(s.kinds).c_str());
        for (const auto& [key, counts] : sortedLayers(s)) {
            std::printf("  layer %u/%u: %s\n", key >> 16, key & 0xFFFF, kindsText(*counts).c_str());
        }
        if (s.hasBox()) {
            std::printf("  bounding box: (%d, %d) (%d, %d)\n", s.box[0], s.box[1], s.box[2], s.box[3]);
        }
        for (const auto& [name, r] : sortedReferences(s)) {
            std::printf("  references %s: %" PRIu64 " SREF, %" PRIu64 " AREF, %" PRIu64 " placements\n",
                        quoted(name).c_str(), r->srefs, r->arefs, r->placements);
        }
    }
    std::string line;
    for (const std::size_t t : lib.top) line += " " + quoted(lib.structures[t].name);
    std::printf("top structures:%s\n", line.empty() ? " none" : line.c_str());
    line.clear();
    for (const auto& [name, from] : lib.undefined) {
        line += " " + quoted(name) + " (from";
        for (const std::size_t s : from) line += " " + quoted(lib.structures[s].name);
        line += ")";
    }
    std::printf("undefined references:%s\n", line.empty() ? " none" : line.c_str());
    line.clear();
    for (const auto& cycle : lib.cycles) {
        line += line.empty() ? " " : "; ";
        for (std::size_t i = 0; i < cycle.size(); ++i) line += (i ? " -> " : "") + quoted(lib.structures[cycle[i]].name);
    }
    std::printf("cycles:%s\n", line.empty() ? " none" : line.c_str());
    for (const std::string& name : lib.duplicates) std::printf("defined again: %s\n", quoted(name).c_str());
}

void printJson(const Library& lib, Outcome outcome) {
    std::printf("{\"file\": %s, \"bytes\": %" PRIu64, json(lib.path).c_str(), lib.bytes);
    if (outcome != Outcome::Read) {
        std::printf(", \"error\": %s, \"offset\": %s}", json(lib.error).c_str(),
                    outcome == Outcome::Damaged ? std::to_string(lib.errorOffset).c_str() : "null");
        return;
    }
    std::printf(", \"library\": %s, \"version\": %d, \"user_unit\": %s, \"meter_unit\": %s, \"structures\": [",
                json(lib.name).c_str(), lib.version, number(lib.userUnit).c_str(), number(lib.meterUnit).c_str());
    const char* separator = "";
    for (const Structure& s : lib.structures) {
        std::printf("%s\n  {\"name\": %s, \"offset\": %" PRIu64 ", \"elements\": %s, \"layers\": [", separator,
                    json(s.name).c_str(), s.offset, kindsJson(s.kinds).c_str());
        separator = ",";
        const char* inner = "";
        for (const auto& [key, counts] : sortedLayers(s)) {
            std::printf("%s{\"layer\": %u, \"datatype\": %u, \"elements\": %s}", inner, key >> 16, key & 0xFFFF,
                        kindsJson(*counts).c_str());
            inner = ", ";
        }
        if (s.hasBox()) {
            std::printf("], \"bbox\": [%d, %d, %d, %d], \"references\": [", s.box[0], s.box[1], s.box[2], s.box[3]);
        } else {
            std::printf("], \"bbox\": null, \"references\": [");
        }
        inner = "";
        for (const auto& [name, r] : sortedReferences(s)) {
            std::printf("%s{\"name\": %s, \"sref\": %" PRIu64 ", \"aref\": %" PRIu64 ", \"placements\": %" PRIu64 "}",
                        inner, json(name).c_str(), r->srefs, r->arefs, r->placements);
            inner = ", ";
        }
        std::printf("]}");
    }
    std::string list;
    for (const std::size_t t : lib.top) list += (list.empty() ? "" : ", ") + json(lib.structures[t].name);
    std::printf("],\n \"top\": [%s], \"undefined\": [", list.c_str());
    separator = "";
    for (const auto& [name, from] : lib.undefined) {
        list.clear();
        for (const std::size_t s : from) list += (list.empty() ? "" : ", ") + json(lib.structures[s].name);
        std::printf("%s{\"name\": %s, \"referenced_by\": [%s]}", separator, json(name).c_str(), list.c_str());
        separator = ", ";
    }
    std::printf("], \"cycles\": [");
    separator = "";
    for (const auto& cycle : lib.cycles) {
        list.clear();
        for (const std::size_t s : cycle) list += (list.empty() ? "" : ", ") + json(lib.structures[s].name);
        std::printf("%s[%s]", separator, list.c_str());
        separator = ", ";
    }
    list.clear();
    for (const std::string& name : lib.duplicates) list += (list.empty() ? "" : ", ") + json(name);
    std::printf("], \"defined_again\": [%s]}", list.c_str());
}

}  // namespace

int runTool(int argc, const char* const* argv) {
    std::vector<std::string> paths;
    bool options = true, asJson = false;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (options && std::strcmp(argv[i], "--json") == 0) {
            asJson = true;
        } else if (options && std::strcmp(argv[i], "--version") == 0) {
            std::printf("carvelle-info %d.%d.%d\n", CARVELLE_VERSION_MAJOR, CARVELLE_VERSION_MINOR, CARVELLE_VERSION_PATCH);
            return 0;
        } else if (options && argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "carvelle-info: unknown option %s (a name that starts with '-' goes after --)\n%s",
                         argv[i], kUsage);
            return 2;
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int status = 0;
    if (asJson) std::fputs("[", stdout);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Library library;
        library.path = paths[i];
        const Outcome outcome = read(library);
        if (outcome != Outcome::Read) {
            std::fprintf(stderr, "carvelle-info: %s: %s\n", library.path.c_str(), library.error.c_str());
            status = std::max(status, outcome == Outcome::Damaged ? 1 : 2);
        }
        if (asJson) {
            if (i > 0) std::fputs(",\n", stdout);
            printJson(library, outcome);
        } else if (outcome == Outcome::Read) {
            if (i > 0) std::fputs("\n", stdout);
            printText(library);
        }
    }
    if (asJson) std::fputs("]\n", stdout);
    return std::fflush(stdout) == 0 ? status : 2;
}
