// SPDX-License-Identifier: MIT
#pragma once
// The stand-in for the host process's main thread: one thread owned by the library, started by
// the first submission, running submitted tasks one at a time in submission order. Every
// exchange step, every sync-event update and every exchange callback runs on it.

#include <cstdint>
#include <functional>

namespace tavro::platform {

class MainExecutor {
  public:
    // A call that needs no memory to queue: a plain function and two words for it.
    using PlainCall = void (*)(intptr_t first, intptr_t second);

    // The process-wide executor (created on first use without allocating, never destroyed).
    static MainExecutor& shared();

    // Queues `task`; never runs it on the caller's thread and never blocks on it. Callable
    // from any thread, including the executor's own. Throws (std::bad_alloc) only when the task
    // could not be queued, and then it never runs. A queued task always runs: when the thread
    // cannot be started yet, the task waits and the next submission starts it.
    virtual void submit(std::function<void()> task) = 0;

    // Queues `call(first, second)` in room kept in advance, for answering when a task could
    // not even be made. Runs before the tasks still waiting, under the same rules as submit().
    // Never throws; false when that room is full and the call will never run.
    virtual bool submitPlain(PlainCall call, intptr_t first, intptr_t second) noexcept = 0;

    // Whether the calling thread is the executor's thread.
    virtual bool isCurrent() const = 0;

  protected:
    virtual ~MainExecutor() = default;
};

}  // namespace tavro::platform
