// SPDX-License-Identifier: MIT
#include "platform/Prefault.h"

#include <sys/mman.h>

#include <cstdint>
#include <system_error>

namespace tavro::platform {

namespace {

constexpr uintptr_t kPage = 4096;

void populate(const Prefault::Region& region) noexcept {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(region.begin);
    const uintptr_t start = (begin + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (begin + region.bytes) & ~(kPage - 1);
    if (end > start) {
        // Kernels before 5.14 do not know the advice and refuse it: the owner's own writes
        // then fault the pages in, as they would have.
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
    }
}

}  // namespace

Prefault::Prefault(std::vector<Region> regions) noexcept {
    try {
        thread_ = std::thread([regions = std::move(regions)] {
            for (const Region& region : regions) {
                populate(region);
            }
        });
    } catch (...) {
        // No thread (or no memory for the list): the owner faults its pages in itself.
    }
}

void Prefault::wait() noexcept {
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace tavro::platform
