// SPDX-License-Identifier: MIT
#include "oasis/point_list.h"

namespace carvelle {

namespace {

std::int64_t deltaOf(const std::int32_t* values, std::size_t from, std::size_t to) {
    return static_cast<std::int64_t>(values[to]) - static_cast<std::int64_t>(values[from]);
}

// Whether edge k (from point k to the next, the last back to the first)
// runs along x (along == 0) or along y (along == 1), with edges alternating
// from the first one on.
bool alternates(const std::int32_t* xs, const std::int32_t* ys, std::size_t count, std::size_t edges, int first) {
    for (std::size_t k = 0; k < edges; ++k) {
        const std::size_t next = k + 1 == count ? 0 : k + 1;
        const bool alongX = ((k & 1) == 0) == (first == 0);
        if (alongX ? ys[k] != ys[next] : xs[k] != xs[next]) return false;
    }
    return true;
}

}  // namespace

PointListType choosePointList(const std::int32_t* xs, const std::int32_t* ys, std::size_t count, bool polygon) {
    // A polygon's 1-delta list needs at least one delta: four vertices.
    const bool evenRing = !polygon || (count % 2 == 0 && count >= 4);
    const std::size_t edges = polygon ? count : count - 1;
    if (evenRing && alternates(xs, ys, count, edges, 0)) return PointListType::HorizontalFirst;
    if (evenRing && alternates(xs, ys, count, edges, 1)) return PointListType::VerticalFirst;
    bool manhattan = true;
    for (std::size_t k = 0; k + 1 < count; ++k) {
        const std::int64_t dx = deltaOf(xs, k, k + 1);
        const std::int64_t dy = deltaOf(ys, k, k + 1);
        if (dx == 0 || dy == 0) continue;
        manhattan = false;
        if (dx != dy && dx != -dy) return PointListType::General;
    }
    return manhattan ? PointListType::Manhattan : PointListType::Octangular;
}

void putPointList(OasisBytes& out, PointListType type, const std::int32_t* xs, const std::int32_t* ys,
                  std::size_t count, bool polygon) {
    out.uint(static_cast<std::uint64_t>(type));
    const bool oneDelta = type == PointListType::HorizontalFirst || type == PointListType::VerticalFirst;
    // The reader closes a polygon itself; with 1-deltas it also places the
    // last vertex.
    const std::size_t deltas = count - 1 - (polygon && oneDelta ? 1 : 0);
    out.uint(deltas);
    switch (type) {
        case PointListType::HorizontalFirst:
        case PointListType::VerticalFirst: {
            bool alongX = type == PointListType::HorizontalFirst;
            for (std::size_t k = 0; k < deltas; ++k) {
                out.delta1(alongX ? deltaOf(xs, k, k + 1) : deltaOf(ys, k, k + 1));
                alongX = !alongX;
            }
            break;
        }
        case PointListType::Manhattan:
            for (std::size_t k = 0; k < deltas; ++k) out.delta2(deltaOf(xs, k, k + 1), deltaOf(ys, k, k + 1));
            break;
        case PointListType::Octangular:
            for (std::size_t k = 0; k < deltas; ++k) out.delta3(deltaOf(xs, k, k + 1), deltaOf(ys, k, k + 1));
            break;
        case PointListType::General:
            for (std::size_t k = 0; k < deltas; ++k) out.gdelta(deltaOf(xs, k, k + 1), deltaOf(ys, k, k + 1));
            break;
    }
}

}  // namespace carvelle
