// SPDX-License-Identifier: MIT
#include "exchange/ReceivedCopies.h"

#include <utility>

namespace tavro::exchange {

ReceivedCopies::ReceivedCopies(platform::FileSystem& fileSystem, const platform::OpenFolder& folder)
    : fileSystem_(fileSystem), folder_(folder) {}

ReceivedCopies::~ReceivedCopies() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        waiting_.clear();
    }
    handed_.notify_one();
    if (writer_.joinable()) {
        writer_.join();
    }
}

void ReceivedCopies::add(platform::FileSystem::FileCopy copy) {
    filling_.push_back(std::move(copy));
    if (filling_.size() == kBatch) {
        hand(std::exchange(filling_, {}));
    }
}

void ReceivedCopies::hand(Batch batch) {
    {
        std::lock_guard lock(mutex_);
        if (failure_) {
            return;  // finish() throws it
        }
        waiting_.push_back(std::move(batch));
    }
    handed_.notify_one();
    if (!writer_.joinable()) {
        writer_ = std::thread([this] { writeWaiting(true); });
    }
}

// Writes waiting batches until none is left. The writer waits for more until the response is
// closed; the response's own thread, done with its records, stops when none is waiting rather
// than wait for the writer to come to them.
void ReceivedCopies::writeWaiting(bool waitForMore) {
    for (;;) {
        Batch batch;
        {
            std::unique_lock lock(mutex_);
            if (waitForMore) {
                handed_.wait(lock, [this] { return closed_ || !waiting_.empty(); });
            }
            if (waiting_.empty()) {
                return;
            }
            batch = std::move(waiting_.front());
            waiting_.pop_front();
        }
        try {
            fileSystem_.copyFilesInto(folder_, batch);
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_) {
                failure_ = std::current_exception();
            }
            waiting_.clear();
            return;
        }
    }
}

void ReceivedCopies::finish() {
    if (!writer_.joinable()) {
        // Fewer than a batch: written here, with no thread to start.
        fileSystem_.copyFilesInto(folder_, std::exchange(filling_, {}));
        return;
    }
    if (!filling_.empty()) {
        hand(std::exchange(filling_, {}));
    }
    writeWaiting(false);
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    handed_.notify_one();
    writer_.join();
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

}  // namespace tavro::exchange
