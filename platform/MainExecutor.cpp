#include "platform/MainExecutor.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace tavro::platform {

namespace {

// One worker thread and a FIFO queue. The thread is detached and the executor is never
// destroyed: a host may exit while the thread waits for work, and no destructor may then try
// to join it (or free a queue the thread still holds a lock on).
class ThreadExecutor final : public MainExecutor {
  public:
    ThreadExecutor() {
        std::thread worker([this] { run(); });
        threadId_ = worker.get_id();
        worker.detach();
    }

    void submit(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

    bool isCurrent() const override { return std::this_thread::get_id() == threadId_; }

  private:
    [[noreturn]] void run() {
        for (;;) {
            std::function<void()> task = next();
            runGuarded(task);
        }
    }

    std::function<void()> next() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        return task;
    }

    // A task that throws has already failed in its own terms; dropping the exception keeps the
    // thread, and every task queued after it, alive.
    static void runGuarded(std::function<void()>& task) noexcept {
        try {
            if (task) {
                task();
            }
        } catch (...) {
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::thread::id threadId_;
};

}  // namespace

MainExecutor& MainExecutor::shared() {
    // Leaked on purpose; see ThreadExecutor.
    static ThreadExecutor* executor = new ThreadExecutor();
    return *executor;
}

}  // namespace tavro::platform
