// SPDX-License-Identifier: MIT
#pragma once
// Faults in, on a thread of its own, memory that its owner is about to fill.
//
// Memory a process has not touched yet costs a fault and a cleared page on first use, and on a
// virtual machine whose host has taken the pages back that costs far more than the filling:
// parsing a 57 MiB request took 0.06 s with its buffers' pages at hand and up to 0.4 s without,
// nearly all of it clearing pages. Here those faults are taken on another processor while the
// owner fills from the start; where both meet a page, the kernel makes it once. The contents
// are untouched: populating only maps zeroed pages.
//
// Only memory that will be filled is worth it: a populated page that is never written is held
// for nothing. So regions known to be filled are faulted in whole, and a buffer whose final
// length is not known only a little ahead of what its owner has written.
//
// The owner keeps the memory mapped until stop() or the destructor, which end the faulting
// and wait for the thread. Used by the owner's thread only. Where no thread is to be had, or
// the kernel cannot populate (before Linux 5.14), nothing happens.

#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

namespace tavro::platform {

class Prefault {
  public:
    struct Region {
        void* begin;
        size_t bytes;
    };

    // Nothing to fault in.
    Prefault() noexcept;
    // Regions that will be filled: faulted in whole, in order.
    explicit Prefault(std::vector<Region> regions) noexcept;
    // A buffer filled from its start: faulted in at most `lead` bytes beyond what reached()
    // last reported written.
    static Prefault ahead(void* begin, size_t bytes, size_t lead) noexcept;
    ~Prefault();
    Prefault(const Prefault&) = delete;
    Prefault& operator=(const Prefault&) = delete;

    // For ahead(): the owner has written `written` bytes into the buffer now at `begin`. A
    // buffer that moved (grown elsewhere) is faulted in no further.
    void reached(const void* begin, size_t written) noexcept;
    // Ends the faulting; returns once the thread is done.
    void stop() noexcept;

  private:
    struct State;
    Prefault(std::vector<Region> regions, size_t allowed, size_t lead, const void* buffer) noexcept;
    static void run(State& state) noexcept;

    std::unique_ptr<State> state_;
    std::thread thread_;
    const void* buffer_ = nullptr;  // ahead(): the buffer's start
    size_t lead_ = 0;
    size_t posted_ = 0;
};

}  // namespace tavro::platform
