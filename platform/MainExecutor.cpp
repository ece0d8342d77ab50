// SPDX-License-Identifier: MIT
#include "platform/MainExecutor.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <new>
#include <thread>

namespace tavro::platform {

namespace {

// Room for plain calls: one per exchange that failed before its task could be made, which
// only happens while memory is exhausted. Far more than a host has outstanding at once.
constexpr size_t kPlainRoom = 64;

struct Plain {
    MainExecutor::PlainCall call = nullptr;
    intptr_t first = 0;
    intptr_t second = 0;
};

// One step of work: a plain call or a task.
struct Work {
    Plain plain;
    std::function<void()> task;
};

// One worker thread and a FIFO queue. The thread is detached and the executor is never
// destroyed: a host may exit while the thread waits for work, and no destructor may then try
// to join it (or free a queue the thread still holds a lock on).
//
// The thread starts with the first submission, not with the executor, and a submission whose
// thread cannot be started (std::system_error: the process is out of threads or memory) leaves
// its work queued for the next submission to start. So every queued task runs exactly once,
// never on a submitter's thread, and nothing is dropped because a thread failed to start.
class ThreadExecutor final : public MainExecutor {
  public:
    void submit(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(task));
        }
        startOrWake();
    }

    bool submitPlain(PlainCall call, intptr_t first, intptr_t second) noexcept override {
        {
            std::lock_guard lock(mutex_);
            if (plainCount_ == plain_.size()) {
                return false;
            }
            plain_[(plainFirst_ + plainCount_) % plain_.size()] = {call, first, second};
            ++plainCount_;
        }
        startOrWake();
        return true;
    }

    bool isCurrent() const override { return std::this_thread::get_id() == threadId_.load(); }

  private:
    // The work is queued whatever happens here; a thread that cannot be started now is tried
    // again at the next submission. Started under the queue's lock, so that the thread knows
    // its own identity before it takes its first work.
    void startOrWake() noexcept {
        try {
            std::lock_guard lock(mutex_);
            if (!started_) {
                std::thread worker([this] { run(); });
                threadId_ = worker.get_id();
                worker.detach();
                started_ = true;
            }
        } catch (...) {
            return;
        }
        wake_.notify_one();
    }

    [[noreturn]] void run() {
        for (;;) {
            Work work = next();
            runGuarded(work);
        }
    }

    Work next() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return plainCount_ > 0 || !queue_.empty(); });
        Work work;
        if (plainCount_ > 0) {
            work.plain = plain_[plainFirst_];
            plainFirst_ = (plainFirst_ + 1) % plain_.size();
            --plainCount_;
        } else {
            work.task = std::move(queue_.front());
            queue_.pop_front();
        }
        return work;
    }

    // A task that throws has already failed in its own terms; dropping the exception keeps the
    // thread, and every task queued after it, alive.
    static void runGuarded(Work& work) noexcept {
        try {
            if (work.plain.call != nullptr) {
                work.plain.call(work.plain.first, work.plain.second);
            } else if (work.task) {
                work.task();
            }
        } catch (...) {
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<std::function<void()>> queue_;  // unlike a deque, allocates nothing when empty
    std::array<Plain, kPlainRoom> plain_{};
    size_t plainFirst_ = 0;
    size_t plainCount_ = 0;
    bool started_ = false;
    std::atomic<std::thread::id> threadId_{};
};

}  // namespace

MainExecutor& MainExecutor::shared() {
    // In static storage and never destroyed (see ThreadExecutor): making it needs no memory,
    // so there is always an executor to answer through.
    alignas(ThreadExecutor) static unsigned char storage[sizeof(ThreadExecutor)];
    static ThreadExecutor* executor = new (storage) ThreadExecutor();
    return *executor;
}

}  // namespace tavro::platform
