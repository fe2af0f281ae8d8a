// SPDX-License-Identifier: MIT
// TEXT elements.

#include "elements/element_records.h"
#include "library/library_writer.h"
#include "library/text_checks.h"

namespace carvelle {

namespace {
constexpr std::size_t kMaxStringLength = 512;
constexpr std::uint16_t kMaxTextType = 255;
}  // namespace

ResultCode LibraryWriter::writeText(std::int32_t x, std::int32_t y, const char* text, std::int16_t layer,
                                    std::int16_t texttype, std::int16_t presentation, std::int16_t pathtype,
                                    std::int32_t width, std::int16_t strans, double mag, double angle,
                                    std::int16_t elflags, std::int32_t plex) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    std::size_t length = 0;
    if (const ResultCode code = measureText(text, kMaxStringLength, length); code != GDS_OK) return code;
    // Read as unsigned, one comparison refuses both negatives and 256 up.
    if (static_cast<std::uint16_t>(texttype) > kMaxTextType) return GDS_ERR_TEXTTYPE;
    if (!fitsReal8(mag) || !fitsReal8(angle)) return GDS_ERR_RANGE;
    if (oasis) return oasisElement(Attachable::Shape, oasis->text(x, y, text, length, layer, texttype));

    const std::size_t size = kElementOpeningSize + 4 * kInt16RecordSize + kInt32RecordSize +
                             kTransformationSize + pointsRecordSize(1) + stringRecordSize(length) +
                             kElementEndSize;
    return emitElement(Attachable::Shape, size, [&](RecordWriter& out) {
        openElement(out, Record::Text, elflags, plex)
            .int16Record(Record::Layer, layer)
            .int16Record(Record::TextType, texttype)
            .int16Record(Record::Presentation, presentation)
            .int16Record(Record::PathType, pathtype)
            .int32Record(Record::Width, width);
        putTransformation(out, strans, mag, angle)
            .pointsRecord(&x, &y, 1)
            .stringRecord(Record::String, text, length);
        closeElement(out);
    });
}

}  // namespace carvelle
