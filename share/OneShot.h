// SPDX-License-Identifier: MIT
#pragma once
// Waiting for a callback that fires once: the bridge between a provider's completion and the
// loader, which runs on a worker thread and handles one provider at a time.
//
// The first value delivered wins; later calls are ignored. A callback that is destroyed
// without ever being called delivers `whenDropped`, so a provider that loses its completion
// cannot leave the loader waiting for ever.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tavro::share {

template <typename T>
class OneShot {
  public:
    explicit OneShot(T whenDropped) : state_(std::make_shared<State>()) {
        trigger_ = std::make_shared<Trigger>(state_, std::move(whenDropped));
    }

    // The callback to hand out; copies share one trigger. Call once.
    std::function<void(T)> callback() {
        std::shared_ptr<Trigger> trigger = std::move(trigger_);
        return [trigger](T value) { trigger->fire(std::move(value)); };
    }

    // Blocks until the callback fired or every copy of it was destroyed.
    T wait() {
        std::unique_lock lock(state_->mutex);
        state_->ready.wait(lock, [&] { return state_->value.has_value(); });
        return std::move(*state_->value);
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::optional<T> value;

        void deliver(T value) {
            std::lock_guard lock(mutex);
            if (this->value)
                return;
            this->value = std::move(value);
            ready.notify_all();
        }
    };

    struct Trigger {
        Trigger(std::shared_ptr<State> state, T whenDropped)
            : state(std::move(state)), whenDropped(std::move(whenDropped)) {}
        ~Trigger() { state->deliver(std::move(whenDropped)); }
        void fire(T value) { state->deliver(std::move(value)); }

        std::shared_ptr<State> state;
        T whenDropped;
    };

    std::shared_ptr<State> state_;
    std::shared_ptr<Trigger> trigger_;
};

}  // namespace tavro::share
