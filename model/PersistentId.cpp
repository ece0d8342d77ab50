// SPDX-License-Identifier: MIT
#include "model/PersistentId.h"

#include <atomic>

namespace tavro::model {

int64_t nextTemporaryRow() {
    static std::atomic<int64_t> counter{0};
    return -(counter.fetch_add(1, std::memory_order_relaxed) + 1);
}

}  // namespace tavro::model
