// SPDX-License-Identifier: MIT
#pragma once

// The record ids of OASIS that this writer uses, and the bits of their
// info-bytes: the one place they are spelled out.

#include <cstddef>
#include <cstdint>

namespace carvelle {

inline constexpr char kOasisMagic[] = "%SEMI-OASIS\r\n";
inline constexpr char kOasisVersion[] = "1.0";

enum class OasisRecord : std::uint8_t {
    Start = 1,
    End = 2,
    CellName = 3,    // implicit reference number: the next one
    TextString = 5,  // likewise
    PropName = 7,    // likewise
    PropString = 9,  // likewise
    Cell = 13,       // by reference number
    Placement = 17,
    PlacementTransformed = 18,  // with magnification and any angle
    Text = 19,
    Rectangle = 20,
    Polygon = 21,
    Path = 22,
    Property = 28,
};

// RECTANGLE: S W H X Y R D L.
namespace rectangle_bits {
inline constexpr std::uint8_t Square = 0x80, Width = 0x40, Height = 0x20, X = 0x10, Y = 0x08, Layer = 0x01,
                              Datatype = 0x02;
}
// POLYGON: 0 0 P X Y R D L; PATH: E W P X Y R D L.
namespace shape_bits {
inline constexpr std::uint8_t Extension = 0x80, HalfWidth = 0x40, Points = 0x20, X = 0x10, Y = 0x08, Layer = 0x01,
                              Datatype = 0x02;
}
// TEXT: 0 C N X Y R T L.
namespace text_bits {
inline constexpr std::uint8_t String = 0x40, Reference = 0x20, X = 0x10, Y = 0x08, Texttype = 0x02,
                              Textlayer = 0x01;
}
// PLACEMENT: C N X Y R A A F, or C N X Y R M A F.
namespace placement_bits {
inline constexpr std::uint8_t Cell = 0x80, Reference = 0x40, X = 0x20, Y = 0x10, Repetition = 0x08,
                              Magnification = 0x04, Angle = 0x02, Flip = 0x01;
inline constexpr int kQuarterTurnShift = 1;  // the two A bits of record 17
}  // namespace placement_bits
// PROPERTY: U U U U V C N S.
namespace property_bits {
inline constexpr std::uint8_t OneValue = 0x10, TwoValues = 0x20, Named = 0x04, Reference = 0x02, Standard = 0x01;
}

// Path extension schemes, two bits each for start and end.
enum class PathExtension : std::uint8_t { Flush = 1,
                                          HalfWidth = 2,
                                          Explicit = 3 };

// Property value types: an unsigned integer; the reference number of a
// PROPSTRING read as a b-string (any bytes).
inline constexpr std::uint8_t kPropertyUnsigned = 8;
inline constexpr std::uint8_t kPropertyBStringReference = 14;
// Validation scheme: CRC-32.
inline constexpr std::uint8_t kValidationCrc32 = 1;
// The END record, padding included.
inline constexpr std::size_t kEndRecordSize = 256;
// The six name tables in END: cell names, text strings, property names,
// property strings, layer names, x-names.
inline constexpr int kTableCount = 6;

}  // namespace carvelle
