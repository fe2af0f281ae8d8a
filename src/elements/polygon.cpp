// SPDX-License-Identifier: MIT
// BOUNDARY and BOX elements.

#include "elements/element_records.h"
#include "library/library_writer.h"

namespace carvelle {

namespace {

constexpr std::int16_t kMaxBoundaryVertices = 8189;  // plus the closing vertex: 8190 points
constexpr std::int16_t kMinBoundaryVertices = 3;

// Two's-complement sum modulo 2^32, computed without signed overflow.
std::int32_t wrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

ResultCode LibraryWriter::writeBoundary(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                                        std::int16_t layer, std::int16_t datatype, std::int16_t elflags,
                                        std::int32_t plex) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    if (count > kMaxBoundaryVertices) return GDS_ERR_TOO_MANY_POINTS;
    if (count < kMinBoundaryVertices) return GDS_ERR_TOO_FEW_POINTS;
    if (xs == nullptr || ys == nullptr) return GDS_ERR_NO_POINTS;

    const auto vertices = static_cast<std::size_t>(count);
    if (oasis) return oasisElement(Attachable::Shape, oasis->boundary(xs, ys, vertices, layer, datatype));
    const std::size_t size =
        kElementOpeningSize + 2 * kInt16RecordSize + pointsRecordSize(vertices + 1) + kElementEndSize;
    return emitElement(Attachable::Shape, size, [&](RecordWriter& out) {
        openElement(out, Record::Boundary, elflags, plex)
            .int16Record(Record::Layer, layer)
            .int16Record(Record::Datatype, datatype)
            .pointsRecord(xs, ys, vertices, /*closed=*/true);
        closeElement(out);
    });
}

ResultCode LibraryWriter::writeBox(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                                   std::int16_t layer, std::int16_t boxtype, std::int16_t elflags,
                                   std::int32_t plex) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    if (oasis) return oasisElement(Attachable::Shape, oasis->box(x1, y1, x2, y2, layer, boxtype));

    // The ring runs from the first corner along x, then y, and closes.
    const std::int32_t xs[5] = {x1, x2, x2, x1, x1};
    const std::int32_t ys[5] = {y1, y1, y2, y2, y1};
    constexpr std::size_t size =
        kElementOpeningSize + 2 * kInt16RecordSize + pointsRecordSize(5) + kElementEndSize;
    return emitElement(Attachable::Shape, size, [&](RecordWriter& out) {
        openElement(out, Record::Box, elflags, plex)
            .int16Record(Record::Layer, layer)
            .int16Record(Record::BoxType, boxtype)
            .pointsRecord(xs, ys, 5);
        closeElement(out);
    });
}

ResultCode LibraryWriter::writeBoxWH(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                                     std::int16_t layer, std::int16_t boxtype, std::int16_t elflags,
                                     std::int32_t plex) {
    return writeBox(x, y, wrappingAdd(x, w), wrappingAdd(y, h), layer, boxtype, elflags, plex);
}

ResultCode LibraryWriter::writeSquare(std::int32_t x, std::int32_t y, std::int32_t side, std::int16_t layer,
                                      std::int16_t boxtype, std::int16_t elflags, std::int32_t plex) {
    return writeBox(x, y, wrappingAdd(x, side), wrappingAdd(y, side), layer, boxtype, elflags, plex);
}

}  // namespace carvelle
