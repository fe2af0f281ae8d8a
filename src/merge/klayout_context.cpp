// SPDX-License-Identifier: MIT
#include "merge/klayout_context.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "encoding/record_writer.h"

namespace carvelle::merge {
namespace {

constexpr std::uint8_t kBgnStr = tagOf(Record::BgnStr).recordType, kStrName = tagOf(Record::StrName).recordType,
                       kEndStr = tagOf(Record::EndStr).recordType, kEndEl = tagOf(Record::EndEl).recordType,
                       kPropAttr = recordTypeNamed("PROPATTR"), kPropValue = recordTypeNamed("PROPVALUE"),
                       kSname = tagOf(Record::Sname).recordType;
// Values nest no deeper than this in what KLayout writes; deeper is taken for damage.
constexpr int kDeepest = 32;

std::size_t lengthAt(const std::string& bytes, std::size_t at) {
    return std::size_t{static_cast<std::uint8_t>(bytes[at])} << 8 | static_cast<std::uint8_t>(bytes[at + 1]);
}

// A payload up to its first NUL (the pad byte of an odd length).
std::string textOf(const std::string& bytes, std::size_t at, std::size_t length) {
    const char* first = bytes.data() + at + kRecordHeaderSize;
    const char* last = first + (length - kRecordHeaderSize);
    return std::string(first, std::find(first, last, '\0'));
}

const char* skipSpaces(const char* at, const char* end) {
    while (at != end && std::isspace(static_cast<unsigned char>(*at))) ++at;
    return at;
}

// The end of one value from at, or null when it is not whole.
const char* valueEnd(const char* at, const char* end, int depth) {
    at = skipSpaces(at, end);
    if (at == end || depth > kDeepest) return nullptr;
    auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' || c == '_'; };
    switch (*at) {
        case '\'':
        case '"': {
            const char quote = *at++;
            for (; at != end; ++at) {
                if (*at == '\\') {
                    if (++at == end) return nullptr;
                } else if (*at == quote) {
                    return at + 1;
                }
            }
            return nullptr;
        }
        case '#': {
            // #12, #l12, #u12 ... for integers, ##1.5 for reals: a number must follow.
            ++at;
            if (at != end && *at == '#') ++at;
            const char* first = at;
            while (at != end && isWord(*at)) ++at;
            return std::any_of(first, at, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
                           std::string(first, at).find_first_of("ni") != std::string::npos
                       ? at
                       : nullptr;
        }
        case '[': {
            // An object of a registered class, [layer:1/0], [dpoint:-1,0]: brackets and quotes must close.
            int open = 0;
            for (; at != end; ++at) {
                if (*at == '\'' || *at == '"') {
                    if (!(at = valueEnd(at, end, depth + 1))) return nullptr;
                    --at;
                } else if (*at == '[') {
                    ++open;
                } else if (*at == ']' && --open == 0) {
                    return at + 1;
                }
            }
            return nullptr;
        }
        case '(':
        case '{': {
            // A list (a, b) or a map {k=>v, ...}.
            const char close = *at == '(' ? ')' : '}';
            const bool map = close == '}';
            at = skipSpaces(at + 1, end);
            if (at != end && *at == close) return at + 1;
            for (;;) {
                if (!(at = valueEnd(at, end, depth + 1))) return nullptr;
                at = skipSpaces(at, end);
                if (map) {
                    if (end - at < 2 || at[0] != '=' || at[1] != '>') return nullptr;
                    if (!(at = valueEnd(at + 2, end, depth + 1))) return nullptr;
                    at = skipSpaces(at, end);
                }
                if (at == end) return nullptr;
                if (*at == close) return at + 1;
                if (*at++ != ',') return nullptr;
            }
        }
        default: {
            // nil, true, false.
            const char* first = at;
            while (at != end && std::isalpha(static_cast<unsigned char>(*at))) ++at;
            const std::string word(first, at);
            return word == "nil" || word == "true" || word == "false" ? at : nullptr;
        }
    }
}

}  // namespace

bool wholeContextString(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == 0 || equals == std::string::npos) return false;
    const char* value = text.data() + equals + 1;
    const char* end = text.data() + text.size();
    if (text[equals - 1] != ')') return value != end;  // LIB=, PCELL=, CELL=: a name
    if (text.find('(') == std::string::npos) return false;
    const char* after = valueEnd(value, end, 0);
    return after != nullptr && skipSpaces(after, end) == end;
}

void FirstStructure::record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) {
    const std::uint8_t type = bytes[2];
    switch (state_) {
        case State::Before:
            if (type != kBgnStr) return;
            begin_ = offset;
            state_ = State::Name;
            break;
        case State::Name: {
            const char* name = reinterpret_cast<const char*>(bytes) + kRecordHeaderSize;
            const std::string text(name, std::find(name, name + (length - kRecordHeaderSize), '\0'));
            if (text != kContextCell) {
                bytes_.clear();
                state_ = State::Other;
                return;
            }
            state_ = State::Inside;
            break;
        }
        case State::Inside:
            if (type == kEndStr) state_ = State::Done;
            break;
        case State::Done:
        case State::Other:
            return;
    }
    bytes_.append(reinterpret_cast<const char*>(bytes), length);
}

void FirstStructure::likeElements(const std::uint8_t* first, std::size_t count, const LikeElements& like) {
    if (state_ == State::Inside) bytes_.append(reinterpret_cast<const char*>(first), count * like.size());
}

bool ContextJoin::add(const std::string& bytes, const std::string& path, std::string& error, bool& disagree) {
    disagree = false;
    const std::size_t part = paths_.size();
    paths_.push_back(path);
    auto broken = [&](const std::string& why) {
        error = "part " + path + " has a " + kContextCell + " structure that KLayout would misread: " + why;
        return false;
    };
    // BGNSTR, STRNAME, then elements: the scanner has checked their grammar.
    std::size_t at = 0;
    std::size_t opening = 0;
    for (int i = 0; i < 2 && at + kRecordHeaderSize <= bytes.size(); ++i) at += lengthAt(bytes, at);
    opening = at;
    if (opening_.empty()) opening_ = bytes.substr(0, opening);
    std::vector<Element> added;
    while (at + kRecordHeaderSize <= bytes.size() && static_cast<std::uint8_t>(bytes[at + 2]) != kEndStr) {
        Element element{{}, {}, part};
        const std::size_t first = at;
        std::size_t properties = 0;
        std::string target;
        std::vector<bool> seen;
        for (;;) {
            const std::size_t length = lengthAt(bytes, at);
            const auto type = static_cast<std::uint8_t>(bytes[at + 2]);
            if (type == kSname) target = textOf(bytes, at, length);
            if (type == kPropAttr && properties == 0) properties = at;
            if (type == kPropAttr) {
                const std::size_t index = lengthAt(bytes, at + kRecordHeaderSize);
                const std::size_t valueAt = at + length;
                const std::size_t valueLength = lengthAt(bytes, valueAt);
                if (index >= element.strings.size()) {
                    element.strings.resize(index + 1);
                    seen.resize(index + 1);
                }
                if (seen[index]) return broken("string " + std::to_string(index) + " of \"" + target + "\" is given twice");
                seen[index] = true;
                element.strings[index] = textOf(bytes, valueAt, valueLength);
                at = valueAt + valueLength;
                continue;
            }
            at += length;
            if (type == kEndEl) break;
        }
        if (properties == 0) properties = at - kRecordHeaderSize;
        const auto missing = std::find(seen.begin(), seen.end(), false);
        if (missing != seen.end()) {
            return broken("string " + std::to_string(missing - seen.begin()) + " of \"" + target + "\" is missing");
        }
        const auto cut = std::find_if(element.strings.begin(), element.strings.end(),
                                      [](const std::string& text) { return !wholeContextString(text); });
        if (cut != element.strings.end()) {
            std::string why = "the string \"";
            why.append(*cut).append("\" of \"").append(target).append("\" is cut");
            return broken(why);
        }
        element.bytes = bytes.substr(first, at - first);
        const std::string key = bytes.substr(first, properties - first);
        const auto known = byTarget_.find(key);
        if (known == byTarget_.end()) {
            byTarget_.emplace(key, elements_.size() + added.size());
            added.push_back(std::move(element));
            continue;
        }
        const Element& earlier =
            known->second < elements_.size() ? elements_[known->second] : added[known->second - elements_.size()];
        if (earlier.strings != element.strings) {
            std::size_t differ = 0;
            while (differ < earlier.strings.size() && differ < element.strings.size() &&
                   earlier.strings[differ] == element.strings[differ]) {
                ++differ;
            }
            auto quoted = [](std::string& to, const std::vector<std::string>& strings, std::size_t index) {
                if (index < strings.size()) {
                    to.append("\"").append(strings[index]).append("\"");
                } else {
                    to.append("nothing");
                }
            };
            disagree = true;
            error = "parts ";
            error.append(paths_[earlier.part]).append(" and ").append(path).append(" describe the cell \"");
            error.append(target).append("\" otherwise in their ").append(kContextCell).append(" (string ");
            error.append(std::to_string(differ)).append(": ");
            quoted(error, earlier.strings, differ);
            error.append(" against ");
            quoted(error, element.strings, differ);
            error.append("): KLayout keeps one context per cell");
            return false;
        }
    }
    elements_.insert(elements_.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    return true;
}

std::string ContextJoin::bytes() const {
    std::string joined = opening_;
    for (const Element& element : elements_) joined += element.bytes;
    std::uint8_t end[kEmptyRecordSize];
    RecordWriter(end).emptyRecord(Record::EndStr);
    joined.append(reinterpret_cast<const char*>(end), sizeof end);
    return joined;
}

}  // namespace carvelle::merge
