// SPDX-License-Identifier: MIT
#include "platform/Prefault.h"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <utility>

namespace tavro::platform {

namespace {

constexpr uintptr_t kPage = 4096;
// Faulted in per step, so that stop() is heard soon: one huge page.
constexpr size_t kStep = size_t{2} << 20;

// The whole pages inside `region`.
Prefault::Region wholePages(const Prefault::Region& region) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(region.begin);
    const uintptr_t start = (begin + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (begin + region.bytes) & ~(kPage - 1);
    return {reinterpret_cast<void*>(start), end > start ? end - start : 0};
}

}  // namespace

struct Prefault::State {
    std::vector<Region> regions;  // whole pages
    std::mutex mutex;
    std::condition_variable changed;
    size_t allowed;  // bytes, counted across the regions, that may be faulted in
    bool stopping = false;
};

Prefault::Prefault() noexcept = default;

Prefault::Prefault(std::vector<Region> regions) noexcept
    : Prefault(std::move(regions), std::numeric_limits<size_t>::max(), 0, nullptr) {}

Prefault Prefault::ahead(void* begin, size_t bytes, size_t lead) noexcept {
    return Prefault({{begin, bytes}}, lead, lead, begin);
}

Prefault::Prefault(std::vector<Region> regions, size_t allowed, size_t lead,
                   const void* buffer) noexcept
    : buffer_(buffer), lead_(lead) {
    try {
        auto state = std::make_unique<State>();
        for (const Region& region : regions) {
            state->regions.push_back(wholePages(region));
        }
        state->allowed = allowed;
        thread_ = std::thread(&Prefault::run, std::ref(*state));
        state_ = std::move(state);
    } catch (...) {
        // No thread (or no memory for the list): the owner faults its pages in itself.
    }
}

Prefault::~Prefault() {
    stop();
}

void Prefault::run(State& state) noexcept {
    size_t done = 0;
    for (const Region& region : state.regions) {
        char* const begin = static_cast<char*>(region.begin);
        for (size_t offset = 0; offset < region.bytes;) {
            size_t step;
            {
                std::unique_lock lock(state.mutex);
                state.changed.wait(lock, [&] { return state.stopping || state.allowed > done; });
                if (state.stopping) {
                    return;
                }
                step = std::min({kStep, region.bytes - offset, state.allowed - done});
            }
            step = std::max<size_t>(step & ~(kPage - 1), kPage);
            // Refused by kernels that do not know the advice: then the owner's own writes
            // fault the pages in, as they would have.
            ::madvise(begin + offset, std::min(step, region.bytes - offset), MADV_POPULATE_WRITE);
            offset += step;
            done += step;
        }
    }
}

void Prefault::reached(const void* begin, size_t written) noexcept {
    if (!state_) {
        return;
    }
    if (begin != buffer_) {
        stop();
        return;
    }
    // Told again only once half of the lead is used up: the thread is woken rarely.
    const size_t allowed = written + lead_;
    if (allowed < posted_ + lead_ / 2) {
        return;
    }
    posted_ = allowed;
    {
        std::lock_guard lock(state_->mutex);
        state_->allowed = allowed;
    }
    state_->changed.notify_one();
}

void Prefault::stop() noexcept {
    if (!state_) {
        return;
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_one();
    thread_.join();
    state_.reset();
}

}  // namespace tavro::platform
