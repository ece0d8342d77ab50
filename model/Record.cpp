// SPDX-License-Identifier: MIT
#include "model/Record.h"

#include <algorithm>
#include <atomic>

namespace tavro::model {

Record::~Record() = default;

uint64_t Record::nextRevision() {
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

Record::ObserverToken Record::observe(Observer observer) {
    if (!observers_) {
        observers_ = std::make_unique<Observers>();
    }
    ObserverToken token = observers_->next++;
    observers_->list.emplace_back(token, std::move(observer));
    return token;
}

void Record::unobserve(ObserverToken token) {
    if (!observers_) {
        return;
    }
    auto& list = observers_->list;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [token](const auto& entry) { return entry.first == token; }),
               list.end());
}

void Record::announce(int field) const {
    if (!observers_) {
        return;
    }
    // A copy, so that an observer may unsubscribe while being called.
    auto list = observers_->list;
    for (const auto& entry : list) {
        entry.second(*this, field);
    }
}

}  // namespace tavro::model
