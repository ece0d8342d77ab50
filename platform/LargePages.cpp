// SPDX-License-Identifier: MIT
#include "platform/LargePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace tavro::platform {

void adviseLargePages(void* begin, size_t bytes) noexcept {
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(begin) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(begin) + bytes) & ~(kHugePage - 1);
    if (end > start) {
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
}

}  // namespace tavro::platform
