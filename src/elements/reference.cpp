// SPDX-License-Identifier: MIT
// SREF and AREF elements: placements of structures by name. The name is not
// looked up: it may be defined later, never, or be the open structure.

#include "elements/element_records.h"
#include "library/library_writer.h"
#include "library/text_checks.h"

namespace carvelle {

ResultCode LibraryWriter::writeSref(const char* sname, std::int32_t x, std::int32_t y, std::int16_t strans,
                                    double mag, double angle, std::int16_t elflags, std::int32_t plex) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    std::size_t length = 0;
    if (const ResultCode code = measureText(sname, kMaxTextLength, length); code != GDS_OK) return code;
    if (!fitsReal8(mag) || !fitsReal8(angle)) return GDS_ERR_RANGE;
    if (oasis) return oasisElement(Attachable::Reference, oasis->placement(sname, length, &x, &y, 1, 1, strans, mag, angle));

    const std::size_t size = kElementOpeningSize + stringRecordSize(length) + kTransformationSize +
                             pointsRecordSize(1) + kElementEndSize;
    return emitElement(Attachable::Reference, size, [&](RecordWriter& out) {
        openElement(out, Record::Sref, elflags, plex).stringRecord(Record::Sname, sname, length);
        putTransformation(out, strans, mag, angle).pointsRecord(&x, &y, 1);
        closeElement(out);
    });
}

ResultCode LibraryWriter::writeAref(const char* sname, const std::int32_t* xs, const std::int32_t* ys,
                                    std::int16_t cols, std::int16_t rows, std::int16_t strans, double mag,
                                    double angle, std::int16_t elflags, std::int32_t plex) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    std::size_t length = 0;
    if (const ResultCode code = measureText(sname, kMaxTextLength, length); code != GDS_OK) return code;
    if (!fitsReal8(mag) || !fitsReal8(angle)) return GDS_ERR_RANGE;
    if (xs == nullptr || ys == nullptr) return GDS_ERR_NO_POINTS;
    if (oasis) return oasisElement(Attachable::Reference, oasis->placement(sname, length, xs, ys, cols, rows, strans, mag, angle));

    const std::size_t size = kElementOpeningSize + stringRecordSize(length) + kTransformationSize +
                             kInt32RecordSize + pointsRecordSize(3) + kElementEndSize;
    return emitElement(Attachable::Reference, size, [&](RecordWriter& out) {
        openElement(out, Record::Aref, elflags, plex).stringRecord(Record::Sname, sname, length);
        putTransformation(out, strans, mag, angle)
            .header(Record::ColRow, 4)
            .put2(static_cast<std::uint16_t>(cols))
            .put2(static_cast<std::uint16_t>(rows))
            .pointsRecord(xs, ys, 3);
        closeElement(out);
    });
}

}  // namespace carvelle
