// SPDX-License-Identifier: MIT
#pragma once
// Human-readable file sizes as the platform's byte-count formatter writes them in its file
// style: decimal units (1 KB = 1000 bytes), the unit chosen by magnitude before rounding, no
// fraction digits for bytes and KB, one for MB, two for GB and above, trailing zeros dropped,
// ties rounded to even: 0 -> "Zero KB", 1 -> "1 byte", 2048 -> "2 KB", 1500000 -> "1.5 MB",
// 1234567898 -> "1.23 GB". Numbers are written in English (US) with digit grouping.

#include <cstdint>
#include <string>

namespace tavro::platform {

std::string formatFileSize(uint64_t byteCount);

}  // namespace tavro::platform
