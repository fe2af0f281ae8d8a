// SPDX-License-Identifier: MIT
// GDS_GetError: every text byte for byte, bounded copies, unknown codes.
#include <algorithm>
#include <climits>
#include <cstring>

#include "gds_api.h"
#include "gds_test_support.h"

namespace {

struct Message {
    int code;
    const char* text;
    std::size_t length;
};

const Message kMessages[] = {
    {0, "No error.", 9},
    {1, "The handle is not defined.", 26},
    {2, "Error: Source double value is over range.", 41},
    {3, "Error: Cannot open GDSII file.", 30},
    {4, "Error: Cannot start another export process.", 43},
    {5, "Error: Process is already stopped.", 34},
    {6, "Error: Structure is not closed.", 31},
    {7, "Error: Structure is already opened.", 35},
    {8, "Error: Structure is not opened.", 31},
    {9, "Error: Structure with this name is already inserted.", 52},
    {10, "Error: Too many points for BOUNDARY structure. ", 47},
    {11, "Error: Not enough points for BOUNDARY structure. ", 49},
    {12, "Error: Not enough points for PATH structure. ", 45},
    {13, "Error: The string is not defined. ", 34},
    {14, "Error: The string size is more than 512 characters. ", 52},
    {15, "Error: TEXTTYPE value should be in the range 0 to 255. ", 55},
    {16, "Error: Too many points for NODE record. ", 40},
    {17, "Error: Not enough points for NODE record. ", 42},
    {18, "Error: Cannot write GDSII file.", 31},
    {19, "Error: The point array is not defined.", 38},
    {20, "Error: No element to attach the property to.", 44},
    {21, "Error: Property outside the format's limits.", 44},
};

constexpr char kFill = 0x55;

TEST(GetError, EveryMessageByteForByte) {
    ASSERT_EQ(sizeof kMessages / sizeof kMessages[0], std::size_t{GDS_RESULT_CODE_COUNT});
    std::size_t longest = 0;
    for (const auto& m : kMessages) {
        ASSERT_EQ(std::strlen(m.text), m.length) << m.code;
        // Codes 10 to 17 end with a space after the full stop.
        EXPECT_EQ(m.text[m.length - 1], m.code >= 10 && m.code <= 17 ? ' ' : '.') << m.code;
        char buffer[64];
        std::memset(buffer, kFill, sizeof buffer);
        EXPECT_EQ(GDS_GetError(m.code, buffer, sizeof buffer), m.code);
        EXPECT_EQ(std::string(buffer), m.text) << m.code;
        EXPECT_EQ(buffer[m.length + 1], kFill) << m.code;
        // An exact fit: length + 1 bytes.
        std::vector<char> exact(m.length + 2, kFill);
        EXPECT_EQ(GDS_GetError(m.code, exact.data(), static_cast<int32_t>(m.length + 1)), m.code);
        EXPECT_EQ(std::memcmp(exact.data(), m.text, m.length + 1), 0) << m.code;
        EXPECT_EQ(exact[m.length + 1], kFill);
        // One byte short: the last character gives way to the NUL.
        std::fill(exact.begin(), exact.end(), kFill);
        EXPECT_EQ(GDS_GetError(m.code, exact.data(), static_cast<int32_t>(m.length)), m.code);
        EXPECT_EQ(std::string(exact.data()), std::string(m.text, m.length - 1)) << m.code;
        EXPECT_EQ(exact[m.length], kFill) << m.code;
        longest = std::max(longest, m.length);
    }
    EXPECT_EQ(longest + 1, std::size_t{GDS_ERROR_BUFFER_SIZE});
}

TEST(GetError, ShortBufferGetsAPrefixAndANulAndNothingMore) {
    char buffer[16];
    std::memset(buffer, kFill, sizeof buffer);
    EXPECT_EQ(GDS_GetError(15, buffer, 10), 15);
    EXPECT_STREQ(buffer, "Error: TE");
    EXPECT_EQ(buffer[10], kFill);
    std::memset(buffer, kFill, sizeof buffer);
    EXPECT_EQ(GDS_GetError(0, buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], kFill);
}

TEST(GetError, NullBufferNonPositiveSizeAndUnknownCodesTouchNothing) {
    char buffer[64];
    std::memset(buffer, kFill, sizeof buffer);
    const std::string before(buffer, sizeof buffer);
    EXPECT_EQ(GDS_GetError(3, nullptr, 64), 3);
    EXPECT_EQ(GDS_GetError(3, buffer, 0), 3);
    EXPECT_EQ(GDS_GetError(3, buffer, -1), 3);
    EXPECT_EQ(GDS_GetError(3, buffer, INT_MIN), 3);
    for (int code : {22, 23, -1, INT_MIN, INT_MAX}) EXPECT_EQ(GDS_GetError(code, buffer, 64), code);
    EXPECT_EQ(GDS_GetError(-1, nullptr, 0), -1);
    EXPECT_EQ(std::string(buffer, sizeof buffer), before);
}

}  // namespace
