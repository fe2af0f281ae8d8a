// SPDX-License-Identifier: MIT
// Circles and sectors as BOUNDARY elements, arcs as PATH elements, sampled
// with an exact sequence of double operations so that every platform writes
// the same points: the angle is accumulated step by step, degrees become
// radians by a multiplication by the double nearest 1/180, and samples are
// truncated toward zero. The build forbids fused multiply-adds.

#include <cmath>
#include <cstdint>
#include <limits>

#include "library/library_writer.h"

namespace carvelle {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kFullTurn = 6.283185307179586;
constexpr double kDegreeFactor = 0.005555555555555556;  // nearest double to 1/180
constexpr std::int16_t kMaxCurvePointCount = 8189;
constexpr std::int16_t kMinCurvePointCount = 3;

double toRadians(double degrees) { return (degrees * kPi) * kDegreeFactor; }

bool withinInt32(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
}

// Every sample lies within centre +- |radius| on each axis.
bool samplesFit(std::int32_t cx, std::int32_t cy, std::int32_t radius) {
    const std::int64_t reach = std::llabs(static_cast<std::int64_t>(radius));
    return withinInt32(cx - reach) && withinInt32(cx + reach) && withinInt32(cy - reach) &&
           withinInt32(cy + reach);
}

// Samples count points from angle start on, adding step after each. False
// when an angle is not finite (a huge angle overflows in radians), which
// would leave the sample undefined.
bool sampleArc(double start, double step, std::size_t count, std::int32_t cx, std::int32_t cy,
               std::int32_t radius, std::int32_t* xs, std::int32_t* ys) {
    const double r = radius;
    const double centreX = cx;
    const double centreY = cy;
    double angle = start;
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(angle)) return false;
        // Product first, then the sum, each rounded on its own; truncation
        // toward zero (so -499.9999999999998 becomes -499). Both stay within
        // centre +- |radius|, which samplesFit has checked.
        const double x = std::cos(angle) * r + centreX;
        const double y = std::sin(angle) * r + centreY;
        xs[i] = static_cast<std::int32_t>(x);
        ys[i] = static_cast<std::int32_t>(y);
        angle = angle + step;
    }
    return true;
}

}  // namespace

ResultCode LibraryWriter::checkCurve(std::int32_t cx, std::int32_t cy, std::int32_t radius, std::int16_t count,
                                     double startAngle, double endAngle) const {
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    if (count > kMaxCurvePointCount) return GDS_ERR_TOO_MANY_POINTS;
    if (count < kMinCurvePointCount) return GDS_ERR_TOO_FEW_POINTS;
    if (!samplesFit(cx, cy, radius) || !std::isfinite(startAngle) || !std::isfinite(endAngle)) {
        return GDS_ERR_RANGE;
    }
    return GDS_OK;
}

ResultCode LibraryWriter::writeCircle(std::int32_t cx, std::int32_t cy, std::int32_t radius, std::int16_t count,
                                      std::int16_t layer, std::int16_t datatype, std::int16_t elflags,
                                      std::int32_t plex) {
    if (const ResultCode code = checkCurve(cx, cy, radius, count, 0.0, 0.0); code != GDS_OK) return code;
    const double step = kFullTurn / static_cast<double>(count);
    sampleArc(0.0, step, static_cast<std::size_t>(count), cx, cy, radius, curveXs, curveYs);
    return writeBoundary(curveXs, curveYs, count, layer, datatype, elflags, plex);
}

ResultCode LibraryWriter::writeArc(std::int32_t cx, std::int32_t cy, std::int32_t radius, double startAngle,
                                   double endAngle, std::int16_t count, std::int32_t width, std::int16_t layer,
                                   std::int16_t datatype, std::int16_t pathtype, std::int16_t elflags,
                                   std::int32_t plex) {
    if (const ResultCode code = checkCurve(cx, cy, radius, count, startAngle, endAngle); code != GDS_OK) {
        return code;
    }
    // The sweep is divided by count, so the last point lies one step short
    // of endAngle.
    const double start = toRadians(startAngle);
    const double step = (toRadians(endAngle) - start) / static_cast<double>(count);
    if (!sampleArc(start, step, static_cast<std::size_t>(count), cx, cy, radius, curveXs, curveYs)) {
        return GDS_ERR_RANGE;
    }
    return writePath(curveXs, curveYs, count, width, layer, datatype, pathtype, elflags, plex);
}

ResultCode LibraryWriter::writeSector(std::int32_t cx, std::int32_t cy, std::int32_t radius, double startAngle,
                                      double endAngle, std::int16_t count, std::int16_t layer,
                                      std::int16_t datatype, std::int16_t elflags, std::int32_t plex) {
    if (const ResultCode code = checkCurve(cx, cy, radius, count, startAngle, endAngle); code != GDS_OK) {
        return code;
    }
    // Vertex 0 is the centre, exactly; the count - 1 arc points follow. The
    // step takes the difference in degrees first, unlike the arc's, and the
    // two may differ in the last bit.
    curveXs[0] = cx;
    curveYs[0] = cy;
    const double start = toRadians(startAngle);
    const double step = (((endAngle - startAngle) * kPi) / static_cast<double>(count)) * kDegreeFactor;
    if (!sampleArc(start, step, static_cast<std::size_t>(count) - 1, cx, cy, radius, curveXs + 1, curveYs + 1)) {
        return GDS_ERR_RANGE;
    }
    return writeBoundary(curveXs, curveYs, count, layer, datatype, elflags, plex);
}

}  // namespace carvelle
