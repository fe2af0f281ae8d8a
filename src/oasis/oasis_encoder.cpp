// SPDX-License-Identifier: MIT
#include "oasis/oasis_encoder.h"

#include <cmath>
#include <cstring>

#include "oasis/oasis_records.h"
#include "oasis/point_list.h"
#include "oasis/repetition.h"

namespace carvelle {

namespace {

constexpr std::size_t kRecordHead = 2;  // record id and info-byte
constexpr std::size_t kLayerSize = 2 * kMaxUintSize;
constexpr std::size_t kXYSize = 2 * kMaxUintSize;

// GDSII's layer and datatype numbers are 16 bits; OASIS numbers are
// unsigned, as KLayout reads GDSII's.
std::uint32_t layerNumber(std::int16_t value) { return static_cast<std::uint16_t>(value); }

std::uint64_t magnitudeOf(std::int64_t value) {
    return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Bits of STRANS that OASIS has no field for: absolute magnification and
// absolute angle, which change the geometry under a transformed parent.
constexpr std::uint16_t kAbsoluteBits = 0x0006;
constexpr std::uint16_t kReflectionBit = 0x8000;
constexpr std::int16_t kRoundEnds = 1;
constexpr std::int16_t kHalfWidthEnds = 2;
constexpr std::int16_t kExtendedEnds = 4;

// Printable ASCII: a-strings take the space, n-strings do not.
bool printable(const char* text, std::size_t length, unsigned char lowest) {
    for (std::size_t k = 0; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c < lowest || c > 0x7e) return false;
    }
    return true;
}

constexpr char kCellOffsetName[] = "S_CELL_OFFSET";
constexpr char kGdsPropertyName[] = "S_GDS_PROPERTY";

}  // namespace

ResultCode OasisEncoder::checkUnit(double meterUnit) {
    const double unit = 1e-6 / meterUnit;
    return std::isfinite(unit) && unit >= 1e-6 ? GDS_OK : GDS_ERR_RANGE;
}

ResultCode OasisEncoder::checkName(const char* name, std::size_t length) {
    return length > 0 && printable(name, length, 0x21) ? GDS_OK : GDS_ERR_RANGE;
}

ResultCode OasisEncoder::begin(double meterUnit) {
    // Grid steps per micrometre; a whole number (1000 for nanometres) as an
    // integer, which 1e-6 / 1e-9 misses by one unit in the last place.
    double unit = 1e-6 / meterUnit;
    const double whole = std::round(unit);
    if (whole >= 1 && std::fabs(unit - whole) <= whole * 1e-12) unit = whole;
    std::uint8_t head[sizeof kOasisMagic + 8 + kMaxRealSize + kMaxUintSize];
    OasisBytes out(head);
    out.bytes(kOasisMagic, sizeof kOasisMagic - 1)
        .byte(static_cast<std::uint8_t>(OasisRecord::Start))
        .string(kOasisVersion, sizeof kOasisVersion - 1)
        .real(unit)
        .uint(1);  // table offsets in END
    return stream_->writeRaw(head, static_cast<std::size_t>(out.position() - head)) ? GDS_OK : GDS_ERR_WRITE;
}

ResultCode OasisEncoder::beginCell(const char* name, std::size_t length) {
    if (sink_.failed()) return GDS_ERR_WRITE;
    try {
        cellBlocks_.reserve(cells_.size() + 1);
    } catch (...) {
        return GDS_ERR_HANDLE;
    }
    // Every cell's name carries S_CELL_OFFSET: its number is had here, where
    // a failure still leaves the file as it was, not before END.
    if (propNames_.number(kCellOffsetName, sizeof kCellOffsetName - 1) == NameTable::kNone) return GDS_ERR_HANDLE;
    const std::uint64_t number = cells_.number(name, length);
    if (number == NameTable::kNone) return GDS_ERR_HANDLE;
    if (cellBlocks_.size() <= number) cellBlocks_.resize(number + 1, NameTable::kNone);
    // The cell starts a block, whose offset S_CELL_OFFSET gives.
    sink_.flush();
    stream_->anchorNext();
    cellBlocks_[number] = cellsDefined_++;
    modal_.reset();
    return emit(1 + kMaxUintSize,
                [&](OasisBytes& out) { out.byte(static_cast<std::uint8_t>(OasisRecord::Cell)).uint(number); });
}

void OasisEncoder::layerBits(std::uint8_t& info, std::int16_t layer, std::int16_t datatype) {
    if (!modal_.layer.keep(layerNumber(layer))) info |= shape_bits::Layer;
    if (!modal_.datatype.keep(layerNumber(datatype))) info |= shape_bits::Datatype;
}

void OasisEncoder::putLayer(OasisBytes& out, std::uint8_t info, std::int16_t layer, std::int16_t datatype) const {
    if (info & shape_bits::Layer) out.uint(layerNumber(layer));
    if (info & shape_bits::Datatype) out.uint(layerNumber(datatype));
}

ResultCode OasisEncoder::box(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int16_t layer,
                             std::int16_t datatype) {
    const std::int64_t left = x1 < x2 ? x1 : x2;
    const std::int64_t bottom = y1 < y2 ? y1 : y2;
    const std::uint64_t w = magnitudeOf(static_cast<std::int64_t>(x2) - x1);
    const std::uint64_t h = magnitudeOf(static_cast<std::int64_t>(y2) - y1);
    return rectangle(left, bottom, w, h, layer, datatype);
}

ResultCode OasisEncoder::rectangle(std::int64_t x, std::int64_t y, std::uint64_t w, std::uint64_t h,
                                   std::int16_t layer, std::int16_t datatype) {
    if (sink_.failed()) return GDS_ERR_WRITE;
    std::uint8_t info = 0;
    layerBits(info, layer, datatype);
    if (w == h) {
        // A square gives its width only; the reader takes it as the height too.
        info |= rectangle_bits::Square;
        if (!modal_.geometryW.keep(w)) info |= rectangle_bits::Width;
        modal_.geometryH.value = w;
        modal_.geometryH.known = true;
    } else {
        if (!modal_.geometryW.keep(w)) info |= rectangle_bits::Width;
        if (!modal_.geometryH.keep(h)) info |= rectangle_bits::Height;
    }
    if (!modal_.geometryX.keep(x)) info |= rectangle_bits::X;
    if (!modal_.geometryY.keep(y)) info |= rectangle_bits::Y;
    return emit(kRecordHead + kLayerSize + 2 * kMaxUintSize + kXYSize, [&](OasisBytes& out) {
        out.byte(static_cast<std::uint8_t>(OasisRecord::Rectangle)).byte(info);
        putLayer(out, info, layer, datatype);
        if (info & rectangle_bits::Width) out.uint(w);
        if (info & rectangle_bits::Height) out.uint(h);
        if (info & rectangle_bits::X) out.sint(x);
        if (info & rectangle_bits::Y) out.sint(y);
    });
}

ResultCode OasisEncoder::boundary(const std::int32_t* xs, const std::int32_t* ys, std::size_t count,
                                  std::int16_t layer, std::int16_t datatype) {
    // A ring given closed loses its repeated vertex: the reader closes it.
    if (count > 3 && xs[count - 1] == xs[0] && ys[count - 1] == ys[0]) --count;
    if (count == 4) {
        const bool verticalFirst = xs[0] == xs[1] && ys[1] == ys[2] && xs[2] == xs[3] && ys[3] == ys[0];
        const bool horizontalFirst = ys[0] == ys[1] && xs[1] == xs[2] && ys[2] == ys[3] && xs[3] == xs[0];
        if (verticalFirst || horizontalFirst) return box(xs[0], ys[0], xs[2], ys[2], layer, datatype);
    }
    if (sink_.failed()) return GDS_ERR_WRITE;
    const PointListType type = choosePointList(xs, ys, count, /*polygon=*/true);
    std::uint8_t info = shape_bits::Points;
    layerBits(info, layer, datatype);
    if (!modal_.geometryX.keep(xs[0])) info |= shape_bits::X;
    if (!modal_.geometryY.keep(ys[0])) info |= shape_bits::Y;
    return emit(kRecordHead + kLayerSize + pointListMaxSize(count) + kXYSize, [&](OasisBytes& out) {
        out.byte(static_cast<std::uint8_t>(OasisRecord::Polygon)).byte(info);
        putLayer(out, info, layer, datatype);
        putPointList(out, type, xs, ys, count, /*polygon=*/true);
        if (info & shape_bits::X) out.sint(xs[0]);
        if (info & shape_bits::Y) out.sint(ys[0]);
    });
}

ResultCode OasisEncoder::path(const std::int32_t* xs, const std::int32_t* ys, std::size_t count, std::int32_t width,
                              std::int16_t layer, std::int16_t datatype, std::int16_t pathtype,
                              std::int32_t beginExtension, std::int32_t endExtension) {
    // A negative width (absolute in GDSII) is read by KLayout as its size;
    // a half-width cannot hold an odd width, nor any extension round ends.
    const std::uint64_t fullWidth = magnitudeOf(width);
    if (pathtype == kRoundEnds || (fullWidth & 1) != 0) return GDS_ERR_RANGE;
    if (sink_.failed()) return GDS_ERR_WRITE;
    const std::uint64_t halfWidth = fullWidth / 2;
    // Type 2 extends both ends by half the width, type 4 by its own
    // extensions (explicit, or flush where 0), and every other type ends
    // flush, as KLayout reads them.
    const bool halfWidthEnds = pathtype == kHalfWidthEnds;
    const bool ownEnds = pathtype == kExtendedEnds;
    const auto schemeOf = [&](std::int64_t extension) {
        if (halfWidthEnds) return PathExtension::HalfWidth;
        return extension != 0 ? PathExtension::Explicit : PathExtension::Flush;
    };
    const auto extensionOf = [&](std::int32_t own) -> std::int64_t {
        if (halfWidthEnds) return static_cast<std::int64_t>(halfWidth);
        return ownEnds ? own : 0;
    };
    const std::int64_t atStart = extensionOf(beginExtension), atEnd = extensionOf(endExtension);
    const PathExtension startScheme = schemeOf(atStart), endScheme = schemeOf(atEnd);
    const PointListType type = choosePointList(xs, ys, count, /*polygon=*/false);
    std::uint8_t info = shape_bits::Points;
    layerBits(info, layer, datatype);
    if (!modal_.halfWidth.keep(halfWidth)) info |= shape_bits::HalfWidth;
    const bool sameStart = modal_.startExtension.keep(atStart);
    const bool sameEnd = modal_.endExtension.keep(atEnd);
    if (!sameStart || !sameEnd) info |= shape_bits::Extension;
    if (!modal_.geometryX.keep(xs[0])) info |= shape_bits::X;
    if (!modal_.geometryY.keep(ys[0])) info |= shape_bits::Y;
    return emit(kRecordHead + kLayerSize + kMaxUintSize + 1 + 2 * kMaxUintSize + pointListMaxSize(count) + kXYSize,
                [&](OasisBytes& out) {
                    out.byte(static_cast<std::uint8_t>(OasisRecord::Path)).byte(info);
                    putLayer(out, info, layer, datatype);
                    if (info & shape_bits::HalfWidth) out.uint(halfWidth);
                    if (info & shape_bits::Extension) {
                        out.uint(static_cast<std::uint64_t>(startScheme) << 2 | static_cast<std::uint64_t>(endScheme));
                        if (startScheme == PathExtension::Explicit) out.sint(atStart);
                        if (endScheme == PathExtension::Explicit) out.sint(atEnd);
                    }
                    putPointList(out, type, xs, ys, count, /*polygon=*/false);
                    if (info & shape_bits::X) out.sint(xs[0]);
                    if (info & shape_bits::Y) out.sint(ys[0]);
                });
}

ResultCode OasisEncoder::text(std::int32_t x, std::int32_t y, const char* text, std::size_t length,
                              std::int16_t layer, std::int16_t texttype) {
    if (!printable(text, length, 0x20)) return GDS_ERR_RANGE;
    if (sink_.failed()) return GDS_ERR_WRITE;
    const std::uint64_t number = texts_.number(text, length);
    if (number == NameTable::kNone) return GDS_ERR_HANDLE;
    std::uint8_t info = 0;
    if (!modal_.textString.keep(number)) info |= text_bits::String | text_bits::Reference;
    if (!modal_.textlayer.keep(layerNumber(layer))) info |= text_bits::Textlayer;
    if (!modal_.texttype.keep(layerNumber(texttype))) info |= text_bits::Texttype;
    if (!modal_.textX.keep(x)) info |= text_bits::X;
    if (!modal_.textY.keep(y)) info |= text_bits::Y;
    return emit(kRecordHead + 3 * kMaxUintSize + kXYSize, [&](OasisBytes& out) {
        out.byte(static_cast<std::uint8_t>(OasisRecord::Text)).byte(info);
        if (info & text_bits::String) out.uint(number);
        if (info & text_bits::Textlayer) out.uint(layerNumber(layer));
        if (info & text_bits::Texttype) out.uint(layerNumber(texttype));
        if (info & text_bits::X) out.sint(x);
        if (info & text_bits::Y) out.sint(y);
    });
}

ResultCode OasisEncoder::placement(const char* name, std::size_t length, const std::int32_t* xs,
                                   const std::int32_t* ys, std::int16_t cols, std::int16_t rows,
                                   std::int16_t strans, double mag, double angle) {
    if (checkName(name, length) != GDS_OK) return GDS_ERR_RANGE;
    if ((static_cast<std::uint16_t>(strans) & kAbsoluteBits) != 0 || !(mag > 0)) return GDS_ERR_RANGE;
    Lattice lattice;
    if (cols != 1 || rows != 1) {
        // The steps of an array must be whole to keep every copy in place.
        if (cols < 1 || rows < 1) return GDS_ERR_RANGE;
        const std::int64_t colSpanX = static_cast<std::int64_t>(xs[1]) - xs[0];
        const std::int64_t colSpanY = static_cast<std::int64_t>(ys[1]) - ys[0];
        const std::int64_t rowSpanX = static_cast<std::int64_t>(xs[2]) - xs[0];
        const std::int64_t rowSpanY = static_cast<std::int64_t>(ys[2]) - ys[0];
        if (colSpanX % cols != 0 || colSpanY % cols != 0 || rowSpanX % rows != 0 || rowSpanY % rows != 0) {
            return GDS_ERR_RANGE;
        }
        lattice.cols = static_cast<std::uint64_t>(cols);
        lattice.rows = static_cast<std::uint64_t>(rows);
        lattice.colX = colSpanX / cols;
        lattice.colY = colSpanY / cols;
        lattice.rowX = rowSpanX / rows;
        lattice.rowY = rowSpanY / rows;
    }
    if (sink_.failed()) return GDS_ERR_WRITE;
    try {
        cellBlocks_.reserve(cells_.size() + 1);
    } catch (...) {
        return GDS_ERR_HANDLE;
    }
    const std::uint64_t number = cells_.number(name, length);
    if (number == NameTable::kNone) return GDS_ERR_HANDLE;
    if (cellBlocks_.size() <= number) cellBlocks_.resize(number + 1, NameTable::kNone);

    std::int64_t x = xs[0];
    std::int64_t y = ys[0];
    std::uint8_t repetition[kMaxRepetitionSize];
    OasisBytes repeated(repetition);
    const bool hasRepetition = putRepetition(repeated, lattice, x, y);
    const auto repetitionSize = static_cast<std::size_t>(repeated.position() - repetition);

    // Angles within one turn; a quarter turn without magnification fits the
    // two bits of the short record.
    double turn = std::fmod(angle, 360.0);
    if (turn < 0) turn += 360.0;
    if (turn >= 360.0) turn = 0.0;
    const bool quarter = turn == 0.0 || turn == 90.0 || turn == 180.0 || turn == 270.0;
    const bool transformed = !(quarter && mag == 1.0);

    std::uint8_t info = 0;
    if (!modal_.placementCell.keep(number)) info |= placement_bits::Cell | placement_bits::Reference;
    if (!modal_.placementX.keep(x)) info |= placement_bits::X;
    if (!modal_.placementY.keep(y)) info |= placement_bits::Y;
    if (hasRepetition) info |= placement_bits::Repetition;
    if (static_cast<std::uint16_t>(strans) & kReflectionBit) info |= placement_bits::Flip;
    if (!transformed) {
        info |= static_cast<std::uint8_t>(static_cast<int>(turn / 90.0) << placement_bits::kQuarterTurnShift);
    } else {
        if (mag != 1.0) info |= placement_bits::Magnification;
        if (turn != 0.0) info |= placement_bits::Angle;
    }
    const auto record = transformed ? OasisRecord::PlacementTransformed : OasisRecord::Placement;
    return emit(kRecordHead + kMaxUintSize + 2 * kMaxRealSize + kXYSize + kMaxRepetitionSize, [&](OasisBytes& out) {
        out.byte(static_cast<std::uint8_t>(record)).byte(info);
        if (info & placement_bits::Cell) out.uint(number);
        if (transformed && (info & placement_bits::Magnification)) out.real(mag);
        if (transformed && (info & placement_bits::Angle)) out.real(turn);
        if (info & placement_bits::X) out.sint(x);
        if (info & placement_bits::Y) out.sint(y);
        out.bytes(repetition, repetitionSize);
    });
}

ResultCode OasisEncoder::property(std::int16_t attribute, const char* value, std::size_t length) {
    if (sink_.failed()) return GDS_ERR_WRITE;
    const std::uint64_t name = propNames_.number(kGdsPropertyName, sizeof kGdsPropertyName - 1);
    if (name == NameTable::kNone) return GDS_ERR_HANDLE;
    const std::uint64_t string = propStrings_.number(value, length);
    if (string == NameTable::kNone) return GDS_ERR_HANDLE;
    // Name and both values are always written: the modal name and value
    // list would save bytes only on a repeated pair, which an element never
    // has, and a cell's first property would have to write them anyway.
    return emit(kRecordHead + kMaxUintSize + 2 + 2 * kMaxUintSize, [&](OasisBytes& out) {
        out.byte(static_cast<std::uint8_t>(OasisRecord::Property))
            .byte(property_bits::TwoValues | property_bits::Named | property_bits::Reference |
                  property_bits::Standard)
            .uint(name)
            .byte(kPropertyUnsigned)
            .uint(static_cast<std::uint64_t>(attribute))
            .byte(kPropertyBStringReference)
            .uint(string);
    });
}

ResultCode OasisEncoder::end() {
    sink_.flush();
    stream_->endCells();
    return writeTables();
}

ResultCode OasisEncoder::writeTables() {
    // Each table starts where the file stands after a flush: the tail is
    // written as it is, so that is its offset.
    // A table of names alone, one record each in number order; its offset, 0 for none.
    const auto plainTable = [&](const NameTable& table, OasisRecord record) -> std::uint64_t {
        if (table.size() == 0) return 0;
        sink_.flush();
        const std::uint64_t offset = stream_->position();
        for (std::uint64_t number = 0; number < table.size(); ++number) {
            const std::string& name = table.name(number);
            emit(1 + kMaxUintSize + name.size(), [&](OasisBytes& out) {
                out.byte(static_cast<std::uint8_t>(record)).string(name.data(), name.size());
            });
        }
        return offset;
    };
    const std::uint64_t propNames = plainTable(propNames_, OasisRecord::PropName);
    const std::uint64_t propStrings = plainTable(propStrings_, OasisRecord::PropString);
    std::uint64_t cellNames = 0;
    const std::uint64_t cellOffsetName = propNames_.find(kCellOffsetName, sizeof kCellOffsetName - 1);
    if (cells_.size() > 0) {
        sink_.flush();
        cellNames = stream_->position();
        const std::vector<std::uint64_t>& anchors = stream_->anchors();
        for (std::uint64_t number = 0; number < cells_.size(); ++number) {
            const std::string& name = cells_.name(number);
            const std::uint64_t block = cellBlocks_[number];
            // A cell referred to but never defined has no offset to give.
            const bool defined = block != NameTable::kNone;
            const std::uint64_t offset = defined && block < anchors.size() ? anchors[block] : 0;
            emit(1 + kMaxUintSize + name.size() + 4 + 2 * kMaxUintSize, [&](OasisBytes& out) {
                out.byte(static_cast<std::uint8_t>(OasisRecord::CellName)).string(name.data(), name.size());
                if (!defined) return;
                out.byte(static_cast<std::uint8_t>(OasisRecord::Property))
                    .byte(property_bits::OneValue | property_bits::Named | property_bits::Reference |
                          property_bits::Standard)
                    .uint(cellOffsetName)
                    .byte(kPropertyUnsigned)
                    .uint(offset);
            });
        }
    }
    const std::uint64_t textStrings = plainTable(texts_, OasisRecord::TextString);

    // END: the offsets, strict, of cell names, text strings, property
    // names, property strings, and of the two tables this writer never has; padding to 256
    // bytes; CRC-32 over everything before the signature.
    sink_.flush();
    const std::uint64_t offsets[kTableCount] = {cellNames, textStrings, propNames, propStrings, 0, 0};
    std::uint8_t record[kEndRecordSize];
    OasisBytes out(record);
    out.byte(static_cast<std::uint8_t>(OasisRecord::End));
    for (const std::uint64_t offset : offsets) out.uint(1).uint(offset);
    // The padding's length takes two bytes: the offsets leave at least 180.
    const auto used = static_cast<std::size_t>(out.position() - record);
    const std::size_t padding = kEndRecordSize - used - 2 - 1 - 4;
    out.uint(padding);
    std::memset(out.position(), 0, padding);
    OasisBytes tail(out.position() + padding);
    tail.uint(kValidationCrc32);
    const auto beforeSignature = static_cast<std::size_t>(tail.position() - record);
    if (!stream_->writeRaw(record, beforeSignature)) return GDS_ERR_WRITE;
    tail.fixed4(stream_->crc());
    if (!stream_->writeRaw(record + beforeSignature, 4)) return GDS_ERR_WRITE;
    return sink_.failed() ? GDS_ERR_WRITE : GDS_OK;
}

}  // namespace carvelle
