// SPDX-License-Identifier: MIT
// The entry points: each tests its handle and forwards to the LibraryWriter
// behind it. No exception crosses into the host.

#include <new>

#include "gds_api.h"
#include "library/library_writer.h"

using carvelle::LibraryWriter;
using carvelle::ResultCode;

namespace {

LibraryWriter* writerOf(GdsHandle handle) { return reinterpret_cast<LibraryWriter*>(handle); }

// Every call but GDS_Property ends the time in which properties may follow
// the last element.
template <bool forget = true, typename Operation>
ResultCode forward(GdsHandle handle, Operation&& operation) noexcept {
    if (handle == nullptr) return GDS_ERR_HANDLE;
    try {
        LibraryWriter& writer = *writerOf(handle);
        if (forget) writer.forgetElement();
        return operation(writer);
    } catch (...) {
        return GDS_ERR_HANDLE;
    }
}

}  // namespace

extern "C" {

GDS_API int32_t GDS_BeginLib(const char* fileName, double userUnit, double meterUnit, GdsHandle* outHandle) {
    if (outHandle == nullptr) return GDS_ERR_HANDLE;
    auto* writer = new (std::nothrow) LibraryWriter();
    if (writer == nullptr) return GDS_ERR_HANDLE;
    // Stored before the open, so that the caller can free a failed library.
    *outHandle = reinterpret_cast<GdsHandle>(writer);
    return forward(*outHandle, [&](LibraryWriter& w) { return w.beginLibrary(fileName, userUnit, meterUnit); });
}

GDS_API int32_t GDS_BeginLibAt(const char* fileName, double userUnit, double meterUnit, int64_t time,
                               GdsHandle* outHandle) {
    if (outHandle == nullptr) return GDS_ERR_HANDLE;
    auto* writer = new (std::nothrow) LibraryWriter();
    if (writer == nullptr) return GDS_ERR_HANDLE;
    *outHandle = reinterpret_cast<GdsHandle>(writer);
    if (time != GDS_TIME_ZERO && (time < 0 || time > carvelle::kLastTimestampSecond)) return GDS_ERR_RANGE;
    const carvelle::LibraryClock clock =
        time == GDS_TIME_ZERO ? carvelle::LibraryClock::zero() : carvelle::LibraryClock::at(time);
    return forward(*outHandle, [&](LibraryWriter& w) { return w.beginLibrary(fileName, userUnit, meterUnit, clock); });
}

GDS_API int32_t GDS_EndLib(GdsHandle handle) {
    const ResultCode code = forward(handle, [](LibraryWriter& w) { return w.endLibrary(); });
    delete writerOf(handle);  // in every case, as the header promises; a null handle deletes nothing
    return code;
}

GDS_API int32_t GDS_BeginStructure(GdsHandle handle, const char* name) {
    return forward(handle, [&](LibraryWriter& w) { return w.beginStructure(name); });
}

GDS_API int32_t GDS_EndStructure(GdsHandle handle) {
    return forward(handle, [&](LibraryWriter& w) { return w.endStructure(); });
}

GDS_API int32_t GDS_Boundary(GdsHandle handle, const int32_t* xs, const int32_t* ys, int16_t count,
                             int16_t layer, int16_t datatype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeBoundary(xs, ys, count, layer, datatype, elflags, plex); });
}

GDS_API int32_t GDS_Box(GdsHandle handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int16_t layer,
                        int16_t boxtype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeBox(x1, y1, x2, y2, layer, boxtype, elflags, plex); });
}

GDS_API int32_t GDS_BoxWH(GdsHandle handle, int32_t x, int32_t y, int32_t w, int32_t h, int16_t layer,
                          int16_t boxtype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& lw) { return lw.writeBoxWH(x, y, w, h, layer, boxtype, elflags, plex); });
}

GDS_API int32_t GDS_Square(GdsHandle handle, int32_t x, int32_t y, int32_t side, int16_t layer, int16_t boxtype,
                           int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeSquare(x, y, side, layer, boxtype, elflags, plex); });
}

GDS_API int32_t GDS_Path(GdsHandle handle, const int32_t* xs, const int32_t* ys, int16_t count, int32_t width,
                         int16_t layer, int16_t datatype, int16_t pathtype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writePath(xs, ys, count, width, layer, datatype, pathtype, elflags, plex); });
}

GDS_API int32_t GDS_Circle(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius, int16_t count, int16_t layer,
                           int16_t datatype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeCircle(cx, cy, radius, count, layer, datatype, elflags, plex); });
}

GDS_API int32_t GDS_Arc(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius, double startAngle,
                        double endAngle, int16_t count, int32_t width, int16_t layer, int16_t datatype,
                        int16_t pathtype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeArc(cx, cy, radius, startAngle, endAngle, count, width, layer, datatype, pathtype, elflags, plex); });
}

GDS_API int32_t GDS_Sector(GdsHandle handle, int32_t cx, int32_t cy, int32_t radius, double startAngle,
                           double endAngle, int16_t count, int16_t layer, int16_t datatype, int16_t elflags,
                           int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeSector(cx, cy, radius, startAngle, endAngle, count, layer, datatype, elflags, plex); });
}

GDS_API int32_t GDS_Text(GdsHandle handle, int32_t x, int32_t y, const char* text, int16_t layer, int16_t texttype,
                         int16_t presentation, int16_t pathtype, int32_t width, int16_t strans, double mag,
                         double angle, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeText(x, y, text, layer, texttype, presentation, pathtype, width, strans, mag, angle, elflags, plex); });
}

GDS_API int32_t GDS_Sref(GdsHandle handle, const char* sname, int32_t x, int32_t y, int16_t strans, double mag,
                         double angle, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeSref(sname, x, y, strans, mag, angle, elflags, plex); });
}

GDS_API int32_t GDS_Aref(GdsHandle handle, const char* sname, const int32_t* xs, const int32_t* ys, int16_t cols,
                         int16_t rows, int16_t strans, double mag, double angle, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeAref(sname, xs, ys, cols, rows, strans, mag, angle, elflags, plex); });
}

GDS_API int32_t GDS_Node(GdsHandle handle, const int32_t* xs, const int32_t* ys, int16_t count, int16_t layer,
                         int16_t nodetype, int16_t elflags, int32_t plex) {
    return forward(handle, [&](LibraryWriter& w) { return w.writeNode(xs, ys, count, layer, nodetype, elflags, plex); });
}

GDS_API int32_t GDS_Property(GdsHandle handle, int16_t attribute, const char* value) {
    return forward<false>(handle, [&](LibraryWriter& w) { return w.addProperty(attribute, value); });
}

GDS_API int32_t GDS_GetError(int32_t code, char* buffer, int32_t bufferSize) {
    return carvelle::copyResultMessage(code, buffer, bufferSize);
}

}  // extern "C"
