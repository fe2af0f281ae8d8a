// SPDX-License-Identifier: MIT
// PATH elements, split into pieces that fit one XY record.

#include <algorithm>

#include "elements/element_records.h"
#include "library/library_writer.h"

namespace carvelle {

namespace {

// What every path call refuses, in this order.
ResultCode refusedPath(bool structureOpen, std::int16_t count, const std::int32_t* xs, const std::int32_t* ys) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    if (count < 2) return GDS_ERR_PATH_POINTS;
    if (xs == nullptr || ys == nullptr) return GDS_ERR_NO_POINTS;
    return GDS_OK;
}

}  // namespace

ResultCode LibraryWriter::writePath(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                                    std::int32_t width, std::int16_t layer, std::int16_t datatype,
                                    std::int16_t pathtype, std::int16_t elflags, std::int32_t plex) {
    if (const ResultCode refused = refusedPath(structureOpen, count, xs, ys); refused != GDS_OK) return refused;
    if (oasis) return oasisElement(Attachable::Shape, oasis->path(xs, ys, static_cast<std::size_t>(count), width, layer, datatype, pathtype));

    // Consecutive pieces share their joint point, so together they trace the
    // whole polyline; every piece but the last holds 8190 points. A failed
    // file stops the loop at the first piece, before anything is stored.
    const auto total = static_cast<std::size_t>(count);
    std::size_t start = 0;
    for (;;) {
        const std::size_t points = std::min(total - start, kMaxRecordPoints);
        const std::size_t size = kElementOpeningSize + 3 * kInt16RecordSize + kInt32RecordSize +
                                 pointsRecordSize(points) + kElementEndSize;
        const ResultCode code = emitElement(Attachable::Shape, size, [&](RecordWriter& out) {
            openElement(out, Record::Path, elflags, plex)
                .int16Record(Record::Layer, layer)
                .int16Record(Record::Datatype, datatype)
                .int16Record(Record::PathType, pathtype)
                .int32Record(Record::Width, width)
                .pointsRecord(xs + start, ys + start, points);
            closeElement(out);
        });
        if (code != GDS_OK) return code;
        start += points - 1;
        if (start + 1 >= total) return GDS_OK;
    }
}

ResultCode LibraryWriter::writeExtendedPath(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                                            std::int32_t width, std::int16_t layer, std::int16_t datatype,
                                            std::int32_t beginExtension, std::int32_t endExtension) {
    if (!oasis) return GDS_ERR_RANGE;
    if (const ResultCode refused = refusedPath(structureOpen, count, xs, ys); refused != GDS_OK) return refused;
    constexpr std::int16_t kExtendedEnds = 4;
    return oasisElement(Attachable::Shape, oasis->path(xs, ys, static_cast<std::size_t>(count), width, layer,
                                                       datatype, kExtendedEnds, beginExtension, endExtension));
}

}  // namespace carvelle
