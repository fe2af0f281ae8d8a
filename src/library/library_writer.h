// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "encoding/byte_sink.h"
#include "encoding/timestamp.h"
#include "library/library_file.h"
#include "library/result_table.h"
#include "oasis/oasis_encoder.h"

namespace carvelle {

// The object behind a GdsHandle: one library written to one file, once.
// Every operation runs its checks before its first byte, so a refused call
// leaves the file as it was. The first failed write is kept: later calls
// that pass their own checks return GDS_ERR_WRITE and write nothing (only
// endStructure still closes its bracket, so that endLibrary reports 18).
// In the child of a fork every call returns GDS_ERR_STOPPED and writes
// nothing: the library is the parent's (endLibrary frees the child's copy).
class LibraryWriter : public LibraryFile {
public:
    LibraryWriter();
    ~LibraryWriter() override;

    // The clock stamps BGNLIB and every BGNSTR: fixed, or the local time.
    ResultCode beginLibrary(const char* fileName, double userUnit, double meterUnit,
                            const LibraryClock& clock = LibraryClock::fromEnvironment());
    ResultCode endLibrary();
    // The merge's OASIS output: a temporary file beside path (which ends in
    // .oas), given path's name by endLibrary once all went well.
    ResultCode beginOasisBeside(const std::string& path, double meterUnit);
    // Removes the file begun and writes nothing more (a merge that failed).
    void abandon();
    // What failed in opening or writing the file, for a message.
    std::string outputFailure() const { return output.failure(); }
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
    // A path of type 4 with the end extensions that other writers give it in BGNEXTN and ENDEXTN, for the
    // merge's OASIS output (a GDSII library takes paths from writePath alone): GDS_ERR_RANGE otherwise.
    ResultCode writeExtendedPath(const std::int32_t* xs, const std::int32_t* ys, std::int16_t count,
                                 std::int32_t width, std::int16_t layer, std::int16_t datatype,
                                 std::int32_t beginExtension, std::int32_t endExtension);
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

    // PROPATTR and PROPVALUE for the element that the call before wrote.
    ResultCode addProperty(std::int16_t attribute, const char* value);
    // Every call but addProperty begins here: only the very next call may
    // attach properties to an element.
    void forgetElement() {
        attachable = Attachable::None;
        dropProperties = false;
    }

private:
    // What the last call left that properties may attach to. A reference
    // may carry more property bytes than other elements.
    enum class Attachable : std::uint8_t { None,
                                           Shape,
                                           Reference,
                                           Attached };

    // Reserves maxSize bytes, lets write store the records, and commits.
    // GDS_ERR_WRITE when the file has failed before or during the call.
    template <typename Write>
    ResultCode emit(std::size_t maxSize, Write&& write) {
        if (output.forked()) return GDS_ERR_STOPPED;
        if (sink.failed()) return GDS_ERR_WRITE;
        RecordWriter out = sink.reserve(maxSize);
        write(out);
        sink.commit(out);
        return sink.failed() ? GDS_ERR_WRITE : GDS_OK;
    }

    // emit for an element, which properties may then follow. Marked even
    // when the file has failed: a property then meets the failure (18), and
    // the element path pays one store and no test.
    template <typename Write>
    ResultCode emitElement(Attachable kind, std::size_t maxSize, Write&& write) {
        attachable = kind;
        return emit(maxSize, write);
    }

    // What an OASIS element call returned; the element may take properties
    // when it was written, or met a failed file (the property then meets it).
    ResultCode oasisElement(Attachable kind, ResultCode code) {
        if (code == GDS_OK || code == GDS_ERR_WRITE) attachable = kind;
        return code;
    }

    // The GDSII records of one property, behind the element's ENDEL.
    ResultCode writePropertyRecords(std::int16_t attribute, const char* value, std::size_t length);

    // Checks shared by the curve writers: structure open, count, range.
    ResultCode checkCurve(std::int32_t cx, std::int32_t cy, std::int32_t radius, std::int16_t count,
                          double startAngle, double endAngle) const;
    // Flushes and closes; false when anything failed in the library's life.
    bool finish();

    bool libraryOpen = false;
    bool abandoned = false;
    bool structureOpen = false;
    Attachable attachable = Attachable::None;
    // An OASIS file drops a NODE, and so the properties that follow it,
    // after the same checks as on any element.
    bool dropProperties = false;
    // Of the element's properties so far: the bytes the format counts, and
    // the attribute numbers used (1 to 127, one bit each).
    std::size_t propertyBytes = 0;
    std::size_t propertyLimit = 0;
    std::uint64_t attributesUsed[2] = {0, 0};
    LibraryClock clock;
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
