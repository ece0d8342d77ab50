// SPDX-License-Identifier: MIT
// File sizes as the platform's formatter writes them.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/ByteCountFormatter.h"

namespace tavro::platform {
namespace {

TEST(ByteCountFormatter, FileStyleInDecimalUnits) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {2, "2 bytes"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1023, "1 KB"},
        {2048, "2 KB"},
        {11999, "12 KB"},
        {1500000, "1.5 MB"},
        {12345678, "12.3 MB"},
        {999900000, "999.9 MB"},
        {1000000000, "1 GB"},
        {1234567898, "1.23 GB"},
        // The unit is chosen before rounding, and ties go to the even neighbour.
        {999999, "1,000 KB"},
        {2500, "2 KB"},
        {3500, "4 KB"},
        {1250000, "1.2 MB"},
        {1350000, "1.4 MB"},
        {1005000000, "1 GB"},
        {2000000000000, "2 TB"},
        {std::numeric_limits<uint64_t>::max(), "18.45 EB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(formatFileSize(bytes), text) << bytes;
    }
}

}  // namespace
}  // namespace tavro::platform
