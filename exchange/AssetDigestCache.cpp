// SPDX-License-Identifier: MIT
#include "exchange/AssetDigestCache.h"

namespace tavro::exchange {

namespace {

bool equal(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

double seconds(const struct timespec& time) {
    return time.tv_sec + time.tv_nsec / 1e9;
}

// A file changed this recently may change again within the same clock tick without its
// change time moving, so its digest is not remembered.
constexpr double kSettledSeconds = 2.0;

}  // namespace

bool AssetDigestCache::sameFile(const Entry& entry, const struct stat& status) {
    return entry.device == status.st_dev && entry.inode == status.st_ino &&
           entry.size == status.st_size && equal(entry.modified, status.st_mtim) &&
           equal(entry.changed, status.st_ctim);
}

std::optional<AssetDigestCache::Digest> AssetDigestCache::find(const std::string& path,
                                                               const struct stat& now) const {
    auto found = entries_.find(path);
    if (found == entries_.end() || !sameFile(found->second, now)) {
        return std::nullopt;
    }
    return found->second.digest;
}

void AssetDigestCache::remember(const std::string& path, const struct stat& before,
                                const struct stat& after, double hashStart, Digest digest) {
    Entry entry{before.st_dev,  before.st_ino,  before.st_size,
                before.st_mtim, before.st_ctim, std::move(digest)};
    if (!S_ISREG(before.st_mode) || !sameFile(entry, after) ||
        seconds(before.st_ctim) > hashStart - kSettledSeconds) {
        entries_.erase(path);
        return;
    }
    if (entries_.size() >= kMaximumEntries) {
        entries_.clear();
    }
    entries_.insert_or_assign(path, std::move(entry));
}

}  // namespace tavro::exchange
