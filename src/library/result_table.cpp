// SPDX-License-Identifier: MIT
#include "library/result_table.h"

#include <cstring>

namespace carvelle {

ResultCode copyResultMessage(ResultCode code, char* buffer, std::int32_t bufferSize) {
    // Negative codes read as unsigned are huge, so one test covers both ends.
    if (static_cast<std::uint32_t>(code) >= GDS_RESULT_CODE_COUNT) return code;
    if (buffer == nullptr || bufferSize <= 0) return code;
    const char* message = kResultTable[code].message;
    const std::size_t length = std::strlen(message);
    const std::size_t copied = length < static_cast<std::size_t>(bufferSize) ? length
                                                                             : static_cast<std::size_t>(bufferSize) - 1;
    std::memcpy(buffer, message, copied);
    buffer[copied] = '\0';
    return kResultTable[code].code;
}

}  // namespace carvelle
