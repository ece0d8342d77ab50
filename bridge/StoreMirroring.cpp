// SPDX-License-Identifier: MIT
#include "bridge/StoreMirroring.h"

#include <exception>
#include <future>
#include <vector>

#include "mirror/MirrorThread.h"
#include "platform/MainExecutor.h"

namespace tavro::bridge {

namespace {

// Runs a store step of the sync thread on the main executor and waits for it there.
void onMainExecutor(const std::function<void()>& step) {
    std::promise<void> done;
    platform::MainExecutor::shared().submit([&] {
        try {
            step();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

class StoreMirroring : public exchange::Mirroring {
  public:
    void start(store::Store& store, const std::string& service,
               const std::string& account) override {
        stop();
        thread_ = std::make_unique<mirror::MirrorThread>(store, service, account, onMainExecutor);
    }
    // Runs on the main executor, which the thread's store steps wait for: the thread is asked
    // to end and kept until it has, then released at a later start or stop (or with this).
    void stop() override {
        std::erase_if(retired_, [](const auto& thread) { return thread->ended(); });
        if (thread_) {
            thread_->stopSoon();
            retired_.push_back(std::move(thread_));
        }
    }
    void exchanged() override {
        if (thread_) {
            thread_->wake();
        }
    }

  private:
    std::unique_ptr<mirror::MirrorThread> thread_;
    std::vector<std::unique_ptr<mirror::MirrorThread>> retired_;
};

}  // namespace

std::unique_ptr<exchange::Mirroring> makeStoreMirroring() {
    return std::make_unique<StoreMirroring>();
}

}  // namespace tavro::bridge
