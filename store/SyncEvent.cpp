// SPDX-License-Identifier: MIT
#include "store/SyncEvent.h"

#include <algorithm>

namespace tavro::store {

SyncEventSource::Token SyncEventSource::subscribe(Handler handler) {
    std::lock_guard lock(mutex_);
    Token token = next_++;
    handlers_.emplace_back(token, std::make_shared<Handler>(std::move(handler)));
    return token;
}

void SyncEventSource::unsubscribe(Token token) {
    std::lock_guard lock(mutex_);
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(),
                                   [token](const auto& entry) { return entry.first == token; }),
                    handlers_.end());
}

void SyncEventSource::post(const SyncEvent& event) {
    std::vector<std::shared_ptr<Handler>> handlers;
    {
        // Called outside the lock, so that a handler may subscribe or post in turn.
        std::lock_guard lock(mutex_);
        for (const auto& entry : handlers_) {
            handlers.push_back(entry.second);
        }
    }
    for (const auto& handler : handlers) {
        (*handler)(event);
    }
}

}  // namespace tavro::store
