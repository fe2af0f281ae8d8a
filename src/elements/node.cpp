// SPDX-License-Identifier: MIT
// NODE elements.

#include "elements/element_records.h"
#include "library/library_writer.h"

namespace carvelle {

namespace {
constexpr std::int16_t kMaxNodePoints = 50;
constexpr std::int16_t kMinNodePoints = 1;
}  // namespace

ResultCode LibraryWriter::writeNode(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                                    std::int16_t layer, std::int16_t nodetype, std::int16_t elflags,
                                    std::int32_t plex) {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    if (count > kMaxNodePoints) return GDS_ERR_NODE_TOO_MANY;
    if (count < kMinNodePoints) return GDS_ERR_NODE_TOO_FEW;
    if (xs == nullptr || ys == nullptr) return GDS_ERR_NO_POINTS;
    // OASIS has no NODE, and a node is no geometry: dropped, with its
    // properties.
    if (oasis) {
        dropProperties = true;
        return oasisElement(Attachable::Shape, sink.failed() ? GDS_ERR_WRITE : GDS_OK);
    }

    const auto points = static_cast<std::size_t>(count);
    const std::size_t size =
        kElementOpeningSize + 2 * kInt16RecordSize + pointsRecordSize(points) + kElementEndSize;
    return emitElement(Attachable::Shape, size, [&](RecordWriter& out) {
        openElement(out, Record::Node, elflags, plex)
            .int16Record(Record::Layer, layer)
            .int16Record(Record::NodeType, nodetype)
            .pointsRecord(xs, ys, points);
        closeElement(out);
    });
}

}  // namespace carvelle
