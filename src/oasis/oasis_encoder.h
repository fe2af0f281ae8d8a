// SPDX-License-Identifier: MIT
#pragma once

// The element records of an OASIS file, written from the same calls as the
// GDSII records: LibraryWriter runs the checks both formats share, then
// hands each element to this encoder (one test a call) when the file name
// ends in .oas. Records go out in call order through the library's
// ByteSink; the modal variables save the fields a record shares with the
// one before it; cell names and text strings get reference numbers on first
// use, and their tables, with S_CELL_OFFSET on each cell name, are written
// once before END (strict mode, offsets in END). An element record ends
// where the next begins, so a PROPERTY record may follow any of them: a
// GDSII property goes out as the standard S_GDS_PROPERTY, its attribute an
// unsigned integer and its value a b-string, through the same sink as the
// element, so that nothing comes between the two. The value is given by
// reference number to a PROPSTRING table written before END: a strict file
// holds no property string in place.
//
// What OASIS cannot hold is refused with GDS_ERR_RANGE before anything is
// written or remembered, when the geometry would change: round path ends,
// an odd path width, absolute magnification or angle, a magnification not
// above zero, an array whose steps are not whole, an empty array, names and
// strings outside printable ASCII. What is no geometry is dropped: ELFLAGS,
// PLEX, NODE elements, and a text's font, justification, path type, width,
// transformation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoding/byte_sink.h"
#include "library/result_table.h"
#include "oasis/modal_state.h"
#include "oasis/name_table.h"
#include "oasis/oasis_bytes.h"
#include "oasis/oasis_stream.h"

namespace carvelle {

class OasisEncoder {
public:
    explicit OasisEncoder(ByteSink& sink) : sink_(sink) {}
    // The stream of the file, once it is open; before any other call.
    void attach(OasisStream& stream) { stream_ = &stream; }

    // GDS_ERR_RANGE when meterUnit gives no OASIS unit (grid steps per
    // micrometre of at least 1e-6); checked before the file is opened.
    static ResultCode checkUnit(double meterUnit);
    // Magic and START: the unit and offset-flag 1 (table offsets in END).
    ResultCode begin(double meterUnit);
    // GDS_ERR_RANGE when name is no n-string (empty, or a byte outside 0x21-0x7E).
    static ResultCode checkName(const char* name, std::size_t length);
    // CELL, at the start of a block of its own so that S_CELL_OFFSET finds it.
    ResultCode beginCell(const char* name, std::size_t length);
    // The name tables and END, with the signature.
    ResultCode end();

    ResultCode box(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int16_t layer,
                   std::int16_t datatype);
    ResultCode boundary(const std::int32_t* xs, const std::int32_t* ys, std::size_t count, std::int16_t layer,
                        std::int16_t datatype);
    // Type 4 takes its end extensions (BGNEXTN and ENDEXTN, 0 for the calls, which give none).
    ResultCode path(const std::int32_t* xs, const std::int32_t* ys, std::size_t count, std::int32_t width,
                    std::int16_t layer, std::int16_t datatype, std::int16_t pathtype, std::int32_t beginExtension = 0,
                    std::int32_t endExtension = 0);
    ResultCode text(std::int32_t x, std::int32_t y, const char* text, std::size_t length, std::int16_t layer,
                    std::int16_t texttype);
    // S_GDS_PROPERTY for the element just written; the caller has checked
    // attribute and value. GDS_ERR_HANDLE, with nothing written, when the
    // property name cannot be given its number.
    ResultCode property(std::int16_t attribute, const char* value, std::size_t length);
    // SREF (cols = rows = 1) and AREF (xs/ys: origin, column end, row end).
    ResultCode placement(const char* name, std::size_t length, const std::int32_t* xs, const std::int32_t* ys,
                         std::int16_t cols, std::int16_t rows, std::int16_t strans, double mag, double angle);

private:
    template <typename Write>
    ResultCode emit(std::size_t maxSize, Write&& write) {
        if (sink_.failed()) return GDS_ERR_WRITE;
        OasisBytes out(sink_.reserve(maxSize).position());
        write(out);
        sink_.commit(RecordWriter(out.position()));
        return sink_.failed() ? GDS_ERR_WRITE : GDS_OK;
    }
    // Layer and datatype of geometry, their bits set in info.
    void layerBits(std::uint8_t& info, std::int16_t layer, std::int16_t datatype);
    void putLayer(OasisBytes& out, std::uint8_t info, std::int16_t layer, std::int16_t datatype) const;
    ResultCode rectangle(std::int64_t x, std::int64_t y, std::uint64_t w, std::uint64_t h, std::int16_t layer,
                         std::int16_t datatype);
    ResultCode writeTables();

    ByteSink& sink_;
    OasisStream* stream_ = nullptr;
    ModalState modal_;
    NameTable cells_;
    NameTable texts_;
    // Property names: S_CELL_OFFSET from the first cell on, S_GDS_PROPERTY
    // from the first property on.
    NameTable propNames_;
    NameTable propStrings_;
    // By cell number: which anchored block holds its CELL, or kNone.
    std::vector<std::uint64_t> cellBlocks_;
    std::uint64_t cellsDefined_ = 0;
};

}  // namespace carvelle
