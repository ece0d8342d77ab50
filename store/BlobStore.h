// SPDX-License-Identifier: MIT
#pragma once
// The folder of byte-field contents beside the store file, one file per content named by its
// SHA-256 digest. A content is written once, durably, before any transaction refers to it; it
// is removed only when no committed row refers to it any more.
//
// Several processes may write one store. A writer that has put a blob in place (or found it
// there) commits its reference to it later, so a blob that no committed row names is not
// necessarily garbage: it may be about to be referenced. Writers therefore hold the folder's
// shared lock from their first blob check until their commit, and whoever removes blobs holds
// its exclusive lock, taken without waiting. When the exclusive lock is not to be had, some
// writer is between its blobs and its commit, and the removal is left for a later time.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "model/Content.h"
#include "platform/FileSystem.h"

namespace tavro::store {

class BlobStore {
  public:
    BlobStore(std::string folder, platform::FileSystem& fileSystem);

    const std::string& folder() const { return folder_; }
    std::string path(const std::string& sha256) const;

    // A lock on the blob folder, held while it lives. Shared: blobs may be written and relied
    // on, but none is removed. Exclusive: no writer is between its blobs and its commit.
    class Lock {
      public:
        Lock() = default;
        Lock(Lock&& other) noexcept;
        Lock& operator=(Lock&& other) noexcept;
        ~Lock();
        explicit operator bool() const { return fd_ >= 0; }

      private:
        friend class BlobStore;
        explicit Lock(int fd) : fd_(fd) {}
        int fd_ = -1;
    };
    // Waits for the shared lock (an exclusive holder only lists the folder and removes files).
    // Throws when the folder cannot be opened.
    Lock lockShared() const;
    // The exclusive lock, or nothing at once when anyone holds the folder or the folder is a
    // symbolic link (nothing is ever deleted through a link).
    std::optional<Lock> tryLockExclusive() const;

    // Makes sure the blob of `content` exists: a stored content must already be there; a
    // pending file is copied with its digest verified on the way (a file that changed since it
    // was hashed fails); pending bytes are written. Existing blobs are never rewritten.
    void ensure(const model::Content& content);
    // The same for many contents (each digest once). The missing blobs that come from files are
    // written as one batch and flushed to disk together before any takes its final name.
    void ensureAll(const std::vector<const model::Content*>& contents);
    // ensureAll in two steps, for a caller that writes on another thread: which blobs are
    // missing (one stat each, each digest once), then writing them.
    struct Missing {
        std::vector<platform::FileSystem::FileCopy> fromFiles;
        std::vector<const model::Content*> fromBytes;
        bool empty() const { return fromFiles.empty() && fromBytes.empty(); }
    };
    Missing missing(const std::vector<const model::Content*>& contents) const;
    // With `extra`, the contents copied from files also fill its names (see
    // platform::ExtraCopies), read and checked once for both.
    void write(const Missing& missing, platform::ExtraCopies* extra = nullptr);

    // Streams the bytes of a content, wherever they are.
    void read(const model::Content& content,
              const std::function<void(std::string_view)>& sink) const;

    // With the exclusive lock held: removes the blobs among `candidates` that
    // `isReferenced` does not claim. Never fails; never deletes through a link.
    void removeUnreferenced(const Lock& exclusive, const std::vector<std::string>& candidates,
                            const std::function<bool(const std::string&)>& isReferenced);
    // With the exclusive lock held: removes every blob not in `referenced`, and the leftover
    // temporary files of interrupted writes. Only plain files directly in the folder go, and
    // nothing at all when the folder is a link.
    void collectGarbage(const Lock& exclusive, const std::unordered_set<std::string>& referenced);

  private:
    int openFolder() const;

    std::string folder_;
    platform::FileSystem& fileSystem_;
};

}  // namespace tavro::store
