// SPDX-License-Identifier: MIT
#include "library/library_writer.h"

#include <new>

#include "encoding/library_head.h"
#include "encoding/real8.h"
#include "encoding/timestamp.h"
#include "library/text_checks.h"

namespace carvelle {

// The curve arrays are scratch space, filled before each read.
// cppcheck-suppress uninitMemberVar
LibraryWriter::LibraryWriter() : sink(output) {}

LibraryWriter::~LibraryWriter() { finish(); }

bool LibraryWriter::finish() {
    if (abandoned) return false;
    // A child's buffer holds the parent's bytes: never flushed here.
    if (output.forked()) return output.finish();
    const bool flushed = sink.flush();
    const bool closed = output.finish();
    return flushed && closed;
}

ResultCode LibraryWriter::beginLibrary(const char* fileName, double userUnit, double meterUnit,
                                       const LibraryClock& libraryClock) {
    // A name that LIBNAME cannot hold cannot be opened either. The units are
    // tested before the open, so a refused library leaves no file behind.
    std::size_t nameLength = 0;
    if (measureText(fileName, kMaxTextLength, nameLength) != GDS_OK) return GDS_ERR_OPEN;
    if (!fitsReal8(userUnit) || !fitsReal8(meterUnit)) return GDS_ERR_RANGE;
    if (hasOasisSuffix(fileName)) {
        // OASIS keeps the database unit only, as grid steps per micrometre.
        if (OasisEncoder::checkUnit(meterUnit) != GDS_OK) return GDS_ERR_RANGE;
        oasis.reset(new (std::nothrow) OasisEncoder(sink));
        if (!oasis) return GDS_ERR_HANDLE;
    }
    if (!output.open(fileName)) return GDS_ERR_OPEN;
    libraryOpen = true;
    clock = libraryClock;
    if (oasis) {
        oasis->attach(*output.oasis());
        return oasis->begin(meterUnit);
    }

    return emit(libraryHeadSize(nameLength), [&](RecordWriter& out) {
        putLibraryHead(out, kStreamVersion, clock.now(), fileName, nameLength, toReal8(userUnit),
                       toReal8(meterUnit));
    });
}

ResultCode LibraryWriter::beginOasisBeside(const std::string& path, double meterUnit) {
    if (!hasOasisSuffix(path.c_str())) return GDS_ERR_OPEN;
    if (OasisEncoder::checkUnit(meterUnit) != GDS_OK) return GDS_ERR_RANGE;
    oasis.reset(new (std::nothrow) OasisEncoder(sink));
    if (!oasis) return GDS_ERR_HANDLE;
    if (!output.openBeside(path)) return GDS_ERR_OPEN;
    libraryOpen = true;
    oasis->attach(*output.oasis());
    return oasis->begin(meterUnit);
}

void LibraryWriter::abandon() {
    abandoned = true;
    libraryOpen = false;
    structureOpen = false;
    output.discard();
}

ResultCode LibraryWriter::endLibrary() {
    if (!libraryOpen) return GDS_ERR_STOPPED;
    if (output.forked()) {
        finish();
        structureNames.clear();
        structureOpen = false;
        libraryOpen = false;
        return GDS_ERR_STOPPED;
    }
    // The handle dies here, so a host that forgot GDS_EndStructure could
    // never finish the file: close the structure for it, and still say so.
    const bool structureWasOpen = structureOpen;
    structureOpen = false;
    structureNames.clear();
    if (oasis) {
        oasis->end();
    } else {
        emit(2 * kEmptyRecordSize, [&](RecordWriter& out) {
            if (structureWasOpen) out.emptyRecord(Record::EndStr);
            out.emptyRecord(Record::EndLib);
        });
    }
    const bool written = finish();
    libraryOpen = false;
    if (structureWasOpen) return GDS_ERR_STRUCT_NOT_CLOSED;
    return written ? GDS_OK : GDS_ERR_WRITE;
}

ResultCode LibraryWriter::beginStructure(const char* name) {
    if (!libraryOpen || output.forked()) return GDS_ERR_STOPPED;
    if (structureOpen) return GDS_ERR_STRUCT_OPEN;
    std::size_t nameLength = 0;
    if (const ResultCode code = measureText(name, kMaxTextLength, nameLength); code != GDS_OK) return code;
    if (sink.failed()) return GDS_ERR_WRITE;
    if (oasis && OasisEncoder::checkName(name, nameLength) != GDS_OK) return GDS_ERR_RANGE;
    try {
        if (!structureNames.emplace(name, nameLength).second) return GDS_ERR_STRUCT_DUPLICATE;
    } catch (...) {
        return GDS_ERR_HANDLE;  // no memory for the name: nothing registered or written
    }
    if (oasis) {
        const ResultCode code = oasis->beginCell(name, nameLength);
        if (code == GDS_ERR_HANDLE) {
            structureNames.erase(std::string(name, nameLength));
            return code;
        }
        structureOpen = true;
        return code;
    }
    structureOpen = true;
    return emit(kTimestampRecordSize + stringRecordSize(nameLength), [&](RecordWriter& out) {
        out.timestampRecord(Record::BgnStr, clock.now());
        out.stringRecord(Record::StrName, name, nameLength);
    });
}

ResultCode LibraryWriter::endStructure() {
    if (output.forked()) return GDS_ERR_STOPPED;
    if (!structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    // The bracket closes even on a failed file, which then gets no ENDSTR:
    // GDS_EndLib is left to report the write failure, not an open structure.
    structureOpen = false;
    if (oasis) return sink.failed() ? GDS_ERR_WRITE : GDS_OK;  // OASIS cells end where the next record begins
    return emit(kEmptyRecordSize, [](RecordWriter& out) { out.emptyRecord(Record::EndStr); });
}

}  // namespace carvelle
