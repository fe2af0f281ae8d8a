// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "encoding/byte_sink.h"
#include "library/library_file.h"
#include "library/result_table.h"
#include "oasis/oasis_encoder.h"

namespace carvelle {

// The object behind a GdsHandle: one library written to one file, once.
// Every operation runs its checks before its first byte, so a refused call
// leaves the file as it was. The first failed write is kept: later calls
// that pass their own checks return GDS_ERR_WRITE and write nothing (only
// endStructure still closes its bracket, so that endLibrary reports 18).
class LibraryWriter : public LibraryFile {
public:
    LibraryWriter();
    ~LibraryWriter() override;

    ResultCode beginLibrary(const char* fileName, double userUnit, double meterUnit);
    ResultCode endLibrary();
    ResultCode beginStructure(const char* name);
    ResultCode endStructure();

    ResultCode writeBoundary(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                             std::int16_t layer, std::int16_t datatype, std::int16_t elflags,
                             std::int32_t plex);
    ResultCode writeBox(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                        std::int16_t layer, std::int16_t boxtype, std::int16_t elflags, std::int32_t plex);
    ResultCode writeBoxWH(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                          std::int16_t layer, std::int16_t boxtype, std::int16_t elflags, std::int32_t plex);
    ResultCode writeSquare(std::int32_t x, std::int32_t y, std::int32_t side, std::int16_t layer,
                           std::int16_t boxtype, std::int16_t elflags, std::int32_t plex);
    ResultCode writePath(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                         std::int32_t width, std::int16_t layer, std::int16_t datatype,
                         std::int16_t pathtype, std::int16_t elflags, std::int32_t plex);
    ResultCode writeCircle(std::int32_t cx, std::int32_t cy, std::int32_t radius, std::int16_t count,
                           std::int16_t layer, std::int16_t datatype, std::int16_t elflags,
                           std::int32_t plex);
    ResultCode writeArc(std::int32_t cx, std::int32_t cy, std::int32_t radius, double startAngle,
                        double endAngle, std::int16_t count, std::int32_t width, std::int16_t layer,
                        std::int16_t datatype, std::int16_t pathtype, std::int16_t elflags,
                        std::int32_t plex);
    ResultCode writeSector(std::int32_t cx, std::int32_t cy, std::int32_t radius, double startAngle,
                           double endAngle, std::int16_t count, std::int16_t layer,
                           std::int16_t datatype, std::int16_t elflags, std::int32_t plex);
    ResultCode writeText(std::int32_t x, std::int32_t y, const char* text, std::int16_t layer,
                         std::int16_t texttype, std::int16_t presentation, std::int16_t pathtype,
                         std::int32_t width, std::int16_t strans, double mag, double angle,
                         std::int16_t elflags, std::int32_t plex);
    ResultCode writeSref(const char* sname, std::int32_t x, std::int32_t y, std::int16_t strans,
                         double mag, double angle, std::int16_t elflags, std::int32_t plex);
    ResultCode writeAref(const char* sname, const std::int32_t* xs, const std::int32_t* ys,
                         std::int16_t cols, std::int16_t rows, std::int16_t strans, double mag,
                         double angle, std::int16_t elflags, std::int32_t plex);
    ResultCode writeNode(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                         std::int16_t layer, std::int16_t nodetype, std::int16_t elflags,
                         std::int32_t plex);

private:
    // Reserves maxSize bytes, lets write store the records, and commits.
    // GDS_ERR_WRITE when the file has failed before or during the call.
    template <typename Write>
    ResultCode emit(std::size_t maxSize, Write&& write) {
        if (sink.failed()) return GDS_ERR_WRITE;
        RecordWriter out = sink.reserve(maxSize);
        write(out);
        sink.commit(out);
        return sink.failed() ? GDS_ERR_WRITE : GDS_OK;
    }

    // Checks shared by the curve writers: structure open, count, range.
    ResultCode checkCurve(std::int32_t cx, std::int32_t cy, std::int32_t radius, std::int16_t count,
                          double startAngle, double endAngle) const;
    // Flushes and closes; false when anything failed in the library's life.
    bool finish();

    bool libraryOpen = false;
    bool structureOpen = false;
    ByteSink sink;
    // For a name ending in .oas: each element goes to this encoder instead
    // of the GDSII records, after the checks both formats share.
    std::unique_ptr<OasisEncoder> oasis;

    // Working arrays of the curve writers, kept here so that a curve costs
    // neither a heap allocation nor 64 KiB of the caller's stack.
    static constexpr std::size_t kMaxCurvePoints = 8189;
    std::int32_t curveXs[kMaxCurvePoints];
    std::int32_t curveYs[kMaxCurvePoints];
};

}  // namespace carvelle
