// SPDX-License-Identifier: MIT
// PROPATTR and PROPVALUE pairs, attached to the element just written; in
// an OASIS file, S_GDS_PROPERTY records under the same limits.

#include "elements/element_records.h"
#include "library/library_writer.h"

namespace carvelle {

namespace {

// The Calma manual's limits (release 6.0): attribute numbers 1 to 127; a
// value of at most 126 characters; per element, the strings' length plus two
// bytes per pair at most 128, or 512 on SREF and AREF.
constexpr std::int16_t kMinAttribute = 1;
constexpr std::int16_t kMaxAttribute = 127;
constexpr std::size_t kMaxValueLength = 126;
constexpr std::size_t kMaxShapePropertyBytes = 128;
constexpr std::size_t kMaxReferencePropertyBytes = 512;

}  // namespace

ResultCode LibraryWriter::addProperty(std::int16_t attribute, const char* value) {
    if (!libraryOpen) return GDS_ERR_STOPPED;
    if (attachable == Attachable::None) return GDS_ERR_NO_ELEMENT;
    if (value == nullptr) return GDS_ERR_NO_STRING;
    if (attribute < kMinAttribute || attribute > kMaxAttribute) return GDS_ERR_PROPERTY;
    const std::size_t length = boundedLength(value, kMaxValueLength);
    if (length > kMaxValueLength) return GDS_ERR_PROPERTY;

    // The first property of an element starts its count afresh; the element
    // writers leave the count alone, so that they pay nothing for it.
    const bool first = attachable != Attachable::Attached;
    const std::size_t limit = !first                                ? propertyLimit
                              : attachable == Attachable::Reference ? kMaxReferencePropertyBytes
                                                                    : kMaxShapePropertyBytes;
    std::uint64_t used[2] = {first ? 0 : attributesUsed[0], first ? 0 : attributesUsed[1]};
    const auto bit = static_cast<unsigned>(attribute - kMinAttribute);
    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    if ((used[bit / 64] & mask) != 0) return GDS_ERR_PROPERTY;
    const std::size_t bytes = (first ? 0 : propertyBytes) + 2 + paddedLength(length);
    if (bytes > limit) return GDS_ERR_PROPERTY;
    if (sink.failed()) return GDS_ERR_WRITE;

    ResultCode code = GDS_OK;
    if (oasis) {
        if (!dropProperties) code = oasis->property(attribute, value, length);
        if (code == GDS_ERR_HANDLE) return code;  // nothing written
    } else {
        code = writePropertyRecords(attribute, value, length);
    }
    used[bit / 64] |= mask;
    attributesUsed[0] = used[0];
    attributesUsed[1] = used[1];
    propertyBytes = bytes;
    propertyLimit = limit;
    attachable = code == GDS_OK ? Attachable::Attached : Attachable::None;
    return code;
}

ResultCode LibraryWriter::writePropertyRecords(std::int16_t attribute, const char* value, std::size_t length) {
    // The element's ENDEL is the last thing in the buffer: take it back, and
    // write it again behind the pair.
    sink.takeBack(kElementEndSize);
    return emit(kInt16RecordSize + stringRecordSize(length) + kElementEndSize, [&](RecordWriter& out) {
        out.int16Record(Record::PropAttr, attribute).stringRecord(Record::PropValue, value, length);
        closeElement(out);
    });
}

}  // namespace carvelle
