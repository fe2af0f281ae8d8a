// SPDX-License-Identifier: MIT
#include "info/properties.h"

#include <algorithm>
#include <cinttypes>

#include "info/library.h"

namespace info {
namespace {

using carvelle::Record;
using carvelle::tagOf;

// Text as it is, with quotes, backslashes and bytes outside printable ASCII escaped.
void printQuoted(std::FILE* out, const std::uint8_t* text, std::size_t size) {
    std::fputc('"', out);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = text[i];
        if (byte == '"' || byte == '\\') {
            std::fputc('\\', out);
            std::fputc(byte, out);
        } else if (byte < 0x20 || byte >= 0x7F) {
            std::fprintf(out, "\\x%02X", byte);
        } else {
            std::fputc(byte, out);
        }
    }
    std::fputc('"', out);
}

const char* kindOf(std::uint8_t type) {
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (tagOf(kKindRecords[k]).recordType == type) return kKindNames[k];
    }
    return nullptr;
}

}  // namespace

void PropertyLister::record(const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) {
    take(bytes, length);
    next_.record(bytes, length, offset);
}

void PropertyLister::likeElements(const std::uint8_t* first, std::size_t count,
                                  const carvelle::merge::LikeElements& like) {
    const std::uint8_t* element = first;
    for (std::size_t n = 0; n < count; ++n, element += like.size()) {
        for (std::size_t r = 0; r < like.records(); ++r) {
            const std::uint8_t* at = element + like.start(r);
            take(at, std::size_t{at[0]} << 8 | at[1]);
        }
    }
    next_.likeElements(first, count, like);
}

void PropertyLister::take(const std::uint8_t* record, std::size_t length) {
    const std::uint8_t type = record[2];
    const std::uint8_t* payload = record + 4;
    const std::size_t size = length - 4;
    if (const char* kind = kindOf(type)) {
        kind_ = kind;
        ++element_;
    } else if (type == tagOf(Record::StrName).recordType) {
        const auto* end = std::find(payload, payload + size, std::uint8_t{0});
        structure_.assign(reinterpret_cast<const char*>(payload), static_cast<std::size_t>(end - payload));
        element_ = 0;
    } else if (type == tagOf(Record::PropAttr).recordType && size >= 2) {
        attribute_ = static_cast<std::int16_t>(payload[0] << 8 | payload[1]);
    } else if (type == tagOf(Record::PropValue).recordType) {
        // The value up to its padding NUL.
        const auto* end = std::find(payload, payload + size, std::uint8_t{0});
        printQuoted(out_, reinterpret_cast<const std::uint8_t*>(structure_.data()), structure_.size());
        std::fprintf(out_, " %s %" PRIu64 ": %d = ", kind_, element_, attribute_);
        printQuoted(out_, payload, static_cast<std::size_t>(end - payload));
        std::fputc('\n', out_);
    }
}

}  // namespace info
