// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace carvelle {

// The two bytes that follow a record's length: record type, then data type.
struct RecordTag {
    std::uint8_t recordType;
    std::uint8_t dataType;
};

// Index into kRecordTags. StreamVersion is not a tag: it holds the bytes of
// the stream version 3, the payload of HEADER.
// Packed lines read better than one record name per line.
// clang-format off
enum class Record : std::uint8_t {
    StreamVersion, Header, BgnLib, LibName, Units, EndLib, BgnStr, StrName, EndStr,
    Boundary, Path, Sref, Aref, Text, Layer, Datatype, Width, Xy, EndEl, Sname,
    ColRow, Node, TextType, Presentation, String, Strans, Mag, Angle, PathType,
    ElFlags, NodeType, Box, BoxType, Plex, PropAttr, PropValue,
    Count
};
// clang-format on

inline constexpr RecordTag kRecordTags[] = {
    {0x00, 0x03},  // stream version 3
    {0x00, 0x02},  // HEADER
    {0x01, 0x02},  // BGNLIB
    {0x02, 0x06},  // LIBNAME
    {0x03, 0x05},  // UNITS
    {0x04, 0x00},  // ENDLIB
    {0x05, 0x02},  // BGNSTR
    {0x06, 0x06},  // STRNAME
    {0x07, 0x00},  // ENDSTR
    {0x08, 0x00},  // BOUNDARY
    {0x09, 0x00},  // PATH
    {0x0A, 0x00},  // SREF
    {0x0B, 0x00},  // AREF
    {0x0C, 0x00},  // TEXT
    {0x0D, 0x02},  // LAYER
    {0x0E, 0x02},  // DATATYPE
    {0x0F, 0x03},  // WIDTH
    {0x10, 0x03},  // XY
    {0x11, 0x00},  // ENDEL
    {0x12, 0x06},  // SNAME
    {0x13, 0x02},  // COLROW
    {0x15, 0x00},  // NODE
    {0x16, 0x02},  // TEXTTYPE
    {0x17, 0x01},  // PRESENTATION
    {0x19, 0x06},  // STRING
    {0x1A, 0x01},  // STRANS
    {0x1B, 0x05},  // MAG
    {0x1C, 0x05},  // ANGLE
    {0x21, 0x02},  // PATHTYPE
    {0x26, 0x01},  // ELFLAGS
    {0x2A, 0x02},  // NODETYPE
    {0x2D, 0x00},  // BOX
    {0x2E, 0x02},  // BOXTYPE
    {0x2F, 0x03},  // PLEX
    {0x2B, 0x02},  // PROPATTR
    {0x2C, 0x06},  // PROPVALUE
};
static_assert(sizeof(kRecordTags) / sizeof(kRecordTags[0]) == static_cast<std::size_t>(Record::Count),
              "one tag per Record");

constexpr RecordTag tagOf(Record record) { return kRecordTags[static_cast<std::size_t>(record)]; }

// The name of every record type of the format, by its number, for messages
// about files that other writers made.
// clang-format off
inline constexpr const char* kRecordNames[] = {
    "HEADER", "BGNLIB", "LIBNAME", "UNITS", "ENDLIB", "BGNSTR", "STRNAME", "ENDSTR", "BOUNDARY", "PATH",
    "SREF", "AREF", "TEXT", "LAYER", "DATATYPE", "WIDTH", "XY", "ENDEL", "SNAME", "COLROW", "TEXTNODE",
    "NODE", "TEXTTYPE", "PRESENTATION", "SPACING", "STRING", "STRANS", "MAG", "ANGLE", "UINTEGER", "USTRING",
    "REFLIBS", "FONTS", "PATHTYPE", "GENERATIONS", "ATTRTABLE", "STYPTABLE", "STRTYPE", "ELFLAGS", "ELKEY",
    "LINKTYPE", "LINKKEYS", "NODETYPE", "PROPATTR", "PROPVALUE", "BOX", "BOXTYPE", "PLEX", "BGNEXTN",
    "ENDEXTN", "TAPENUM", "TAPECODE", "STRCLASS", "RESERVED", "FORMAT", "MASK", "ENDMASKS", "LIBDIRSIZE",
    "SRFNAME", "LIBSECUR",
};
// clang-format on
inline constexpr std::uint8_t kRecordTypeCount = sizeof(kRecordNames) / sizeof(kRecordNames[0]);
static_assert(kRecordTypeCount == 0x3C, "record types 0x00 (HEADER) to 0x3B (LIBSECUR)");

// The name of a record type; null for a number the format does not define.
constexpr const char* recordName(std::uint8_t recordType) {
    return recordType < kRecordTypeCount ? kRecordNames[recordType] : nullptr;
}

// The record type of a name in kRecordNames, so that no number stands
// for a record the writer never writes; kRecordTypeCount for no such name.
constexpr std::uint8_t recordTypeNamed(const char* name) {
    for (std::uint8_t type = 0; type < kRecordTypeCount; ++type) {
        const char* a = kRecordNames[type];
        const char* b = name;
        while (*a != '\0' && *a == *b) ++a, ++b;
        if (*a == *b) return type;
    }
    return kRecordTypeCount;
}

// The name of a data type ("2-byte integer"); null above 6.
constexpr const char* dataTypeName(std::uint8_t dataType) {
    constexpr const char* kNames[] = {"no data", "bit array", "2-byte integer", "4-byte integer",
                                      "4-byte real", "8-byte real", "ASCII string"};
    return dataType < sizeof(kNames) / sizeof(kNames[0]) ? kNames[dataType] : nullptr;
}

}  // namespace carvelle
