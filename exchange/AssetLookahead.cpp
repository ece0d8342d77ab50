// SPDX-License-Identifier: MIT
#include "exchange/AssetLookahead.h"

#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "exchange/Asset.h"
#include "model/ThingFields.h"

namespace tavro::exchange {

namespace json = platform::json;

namespace {

// The asset keys in the order the exchange reads a thing's files: "data" first (the merge
// decides on it), then the others as the schema lists them.
std::vector<std::string_view> assetKeysInReadingOrder() {
    std::vector<std::string_view> keys{"data"};
    model::fields::forEach(model::fields::kThingFields, [&keys](const auto& entry) {
        using Value = typename std::remove_cvref_t<decltype(entry)>::Value;
        if constexpr (std::is_same_v<Value, model::OptionalContent>) {
            if (entry.key != keys.front()) {
                keys.push_back(entry.key);
            }
        }
    });
    return keys;
}

}  // namespace

AssetLookahead::AssetLookahead(AssetReader& reader, const std::vector<json::ObjectView>& records,
                               std::function<bool(const json::Fields&)> applied)
    : reader_(reader), records_(records), applied_(std::move(applied)) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return;  // no thread: the reader reads on the spot
    }
    reader_.lookahead_ = this;
}

AssetLookahead::~AssetLookahead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    reader_.lookahead_ = nullptr;
}

void AssetLookahead::run() {
    static const std::vector<std::string_view> kKeys = assetKeysInReadingOrder();
    try {
        json::Fields record;
        for (json::ObjectView object : records_) {
            record.assign(object);
            if (!applied_(record)) {
                continue;
            }
            for (std::string_view key : kKeys) {
                auto path = json::asString(record.get(key));
                if (!path) {
                    continue;
                }
                if (stopping()) {
                    return end();
                }
                Found found{path->data(), {}};
                try {
                    found.reading.content = reader_.readNow(*path);
                } catch (...) {
                    found.reading.error = std::current_exception();
                }
                publish(std::move(found));
            }
        }
    } catch (...) {
        // Whatever stopped the thread (memory) is met again where the exchange reads on the spot.
    }
    end();
}

bool AssetLookahead::stopping() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void AssetLookahead::end() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    published_.notify_all();
}

void AssetLookahead::publish(Found found) {
    std::lock_guard lock(mutex_);
    found_.push_back(std::move(found));
    published_.notify_all();
}

std::optional<AssetLookahead::Reading> AssetLookahead::take(const char* path) {
    std::deque<Found> passed;  // let go outside the lock: each closes its file
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!found_.empty()) {
            Found next = std::move(found_.front());
            found_.pop_front();
            if (next.path == path) {
                lock.unlock();
                return std::move(next.reading);
            }
            passed.push_back(std::move(next));
        }
        if (ended_) {
            return std::nullopt;
        }
        published_.wait(lock);
    }
}

}  // namespace tavro::exchange
