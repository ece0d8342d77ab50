#pragma once
// The stand-in for the host process's main thread: one thread owned by the library, started on
// first use, running submitted tasks one at a time in submission order. Every exchange step,
// every sync-event update and every exchange callback runs on it.

#include <functional>

namespace tavro::platform {

class MainExecutor {
public:
    // The process-wide executor (created on first use, never destroyed).
    static MainExecutor& shared();

    // Queues `task`; never runs it on the caller's thread and never blocks on it. Callable
    // from any thread, including the executor's own.
    virtual void submit(std::function<void()> task) = 0;

    // Whether the calling thread is the executor's thread.
    virtual bool isCurrent() const = 0;

protected:
    virtual ~MainExecutor() = default;
};

}  // namespace tavro::platform
