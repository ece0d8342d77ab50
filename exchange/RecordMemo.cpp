// SPDX-License-Identifier: MIT
#include "exchange/RecordMemo.h"

#include <utility>

namespace tavro::exchange {

void RecordMemo::begin(const std::string& receivedPath) {
    ++response_;
    if (receivedPath != receivedPath_) {
        entries_.clear();  // their records name files in another folder
        receivedPath_ = receivedPath;
    }
}

const RecordMemo::Entry* RecordMemo::find(uint64_t revision) const {
    auto found = entries_.find(revision);
    return found == entries_.end() ? nullptr : &found->second.entry;
}

void RecordMemo::keep(uint64_t revision) {
    auto found = entries_.find(revision);
    if (found != entries_.end()) {
        found->second.response = response_;
    }
}

void RecordMemo::keep(uint64_t revision, Entry entry) {
    entries_.insert_or_assign(revision, Stamped{std::move(entry), response_});
}

void RecordMemo::finish() {
    // A response that failed half way never gets here: its entries stay, exact as they are,
    // until a later response ends without them.
    std::erase_if(entries_, [this](const auto& item) { return item.second.response != response_; });
}

void RecordMemo::reuseText(std::string text) noexcept {
    constexpr size_t kSmallestKept = size_t{1} << 20;
    if (text.capacity() >= kSmallestKept && text.capacity() > spareText_.capacity()) {
        spareText_ = std::move(text);
    }
}

std::string RecordMemo::takeText() noexcept {
    std::string text = std::exchange(spareText_, {});
    text.clear();
    return text;
}

}  // namespace tavro::exchange
