// SPDX-License-Identifier: MIT
#pragma once
// Sync events of the store's mirroring. Linux has no mirroring engine, so nothing in the store
// posts events by itself; the store owner subscribes, and tests (or a future engine) post.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/Time.h"

namespace tavro::store {

struct SyncEvent {
    enum class Type { Setup, Import, Export };
    Type type = Type::Setup;
    std::optional<platform::Timestamp> endDate;  // none while the event is running
    bool succeeded = false;
    platform::ErrorRef error;  // null when there is none
};

// Thread-safe. Handlers run on the posting thread, in subscription order; a handler may
// subscribe or unsubscribe while being called (the change applies from the next post).
class SyncEventSource {
  public:
    using Token = uint64_t;
    using Handler = std::function<void(const SyncEvent&)>;

    Token subscribe(Handler handler);
    void unsubscribe(Token token);
    void post(const SyncEvent& event);

  private:
    std::mutex mutex_;
    Token next_ = 1;
    std::vector<std::pair<Token, std::shared_ptr<Handler>>> handlers_;
};

}  // namespace tavro::store
