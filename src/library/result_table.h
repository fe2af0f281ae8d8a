// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "gds_api.h"

namespace carvelle {

using ResultCode = std::int32_t;

struct ResultRow {
    ResultCode code;
    const char* message;
};

// Indexed by code; the only place that holds the messages.
// Codes 10 to 17 end with a space after the full stop: the space is part of
// the message.
inline constexpr ResultRow kResultTable[] = {
    {GDS_OK, "No error."},
    {GDS_ERR_HANDLE, "The handle is not defined."},
    {GDS_ERR_RANGE, "Error: Source double value is over range."},
    {GDS_ERR_OPEN, "Error: Cannot open GDSII file."},
    {GDS_ERR_STARTED, "Error: Cannot start another export process."},
    {GDS_ERR_STOPPED, "Error: Process is already stopped."},
    {GDS_ERR_STRUCT_NOT_CLOSED, "Error: Structure is not closed."},
    {GDS_ERR_STRUCT_OPEN, "Error: Structure is already opened."},
    {GDS_ERR_STRUCT_NOT_OPEN, "Error: Structure is not opened."},
    {GDS_ERR_STRUCT_DUPLICATE, "Error: Structure with this name is already inserted."},
    {GDS_ERR_TOO_MANY_POINTS, "Error: Too many points for BOUNDARY structure. "},
    {GDS_ERR_TOO_FEW_POINTS, "Error: Not enough points for BOUNDARY structure. "},
    {GDS_ERR_PATH_POINTS, "Error: Not enough points for PATH structure. "},
    {GDS_ERR_NO_STRING, "Error: The string is not defined. "},
    {GDS_ERR_STRING_LENGTH, "Error: The string size is more than 512 characters. "},
    {GDS_ERR_TEXTTYPE, "Error: TEXTTYPE value should be in the range 0 to 255. "},
    {GDS_ERR_NODE_TOO_MANY, "Error: Too many points for NODE record. "},
    {GDS_ERR_NODE_TOO_FEW, "Error: Not enough points for NODE record. "},
    {GDS_ERR_WRITE, "Error: Cannot write GDSII file."},
    {GDS_ERR_NO_POINTS, "Error: The point array is not defined."},
    {GDS_ERR_NO_ELEMENT, "Error: No element to attach the property to."},
    {GDS_ERR_PROPERTY, "Error: Property outside the format's limits."},
};
static_assert(sizeof(kResultTable) / sizeof(kResultTable[0]) == GDS_RESULT_CODE_COUNT,
              "one message per result code");

// Copies the message of code into buffer (at most bufferSize bytes, always
// NUL-terminated when anything is written). Returns code.
ResultCode copyResultMessage(ResultCode code, char* buffer, std::int32_t bufferSize);

}  // namespace carvelle
