#include "store/BlobStore.h"

#include <atomic>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/Error.h"
#include "platform/Paths.h"

namespace tavro::store {

BlobStore::BlobStore(std::string folder, platform::FileSystem& fileSystem)
    : folder_(std::move(folder)), fileSystem_(fileSystem) {}

std::string BlobStore::path(const std::string& sha256) const {
    return platform::paths::join(folder_, sha256);
}

void BlobStore::ensure(const model::Content& content) {
    std::string target = path(content.sha256);
    if (fileSystem_.exists(target)) {
        return;
    }
    if (content.isStored()) {
        platform::throwFileError(ENOENT, target, "opened");
    }
    if (content.isPendingFile()) {
        fileSystem_.copyFileAtomically(content.pending->path, target, content.sha256);
    } else {
        fileSystem_.writeFileAtomically(target, content.pending->bytes);
    }
}

void BlobStore::ensureAll(const std::vector<const model::Content*>& contents) {
    std::vector<const model::Content*> unique;
    std::unordered_set<std::string> seen;
    for (const model::Content* content : contents) {
        if (seen.insert(content->sha256).second) {
            unique.push_back(content);
        }
    }
    constexpr size_t kMaxWriters = 8;
    size_t writers = std::min(kMaxWriters, unique.size());
    if (writers <= 1) {
        for (const model::Content* content : unique) {
            ensure(*content);
        }
        return;
    }
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto work = [&] {
        for (size_t i = next++; i < unique.size() && !failed; i = next++) {
            try {
                ensure(*unique[i]);
            } catch (...) {
                std::lock_guard lock(failureMutex);
                if (!failure) {
                    failure = std::current_exception();
                }
                failed = true;
            }
        }
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < writers; ++i) {
        threads.emplace_back(work);
    }
    work();
    for (auto& thread : threads) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void BlobStore::read(const model::Content& content,
                     const std::function<void(std::string_view)>& sink) const {
    if (content.isStored()) {
        fileSystem_.readChunks(path(content.sha256), sink);
    } else if (content.isPendingFile()) {
        fileSystem_.readChunks(content.pending->path, sink);
    } else {
        sink(content.pending->bytes);
    }
}

void BlobStore::removeQuietly(const std::string& sha256) {
    try {
        fileSystem_.removeAll(path(sha256));
    } catch (const platform::Error&) {
    }
}

void BlobStore::collectGarbage(const std::unordered_set<std::string>& referenced) {
    std::error_code error;
    std::vector<std::string> unreferenced;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        std::string name = entry.path().filename().string();
        if (referenced.count(name) == 0) {
            unreferenced.push_back(name);
        }
    }
    for (const auto& name : unreferenced) {
        removeQuietly(name);
    }
}

}  // namespace tavro::store
