// SPDX-License-Identifier: MIT
#pragma once
// The native store: the library's records in one SQLite database file, byte-field contents in
// a blob folder beside it ("<store file name>-blobs"). Work on records happens in units of
// work (store/UnitOfWork.h); the store holds the connection, hands out permanent identifiers
// and serialises saves.
//
// Thread safety: open(), blobPath() and syncEvents() may be used from any thread; a unit of
// work is used on one thread at a time.
//
// Several processes may open one store file. SQLite's write lock serialises their commits, a
// writer waits for another's (kBusyWait, from the very first open on), row identifiers are
// taken under that lock, and the blob folder's locks (store/BlobStore.h) keep one writer's
// new contents from being collected before it commits.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/Content.h"
#include "model/PersistentId.h"
#include "platform/FileSystem.h"
#include "store/BlobStore.h"
#include "store/KeptLibrary.h"
#include "store/Sqlite.h"
#include "store/SyncEvent.h"

namespace tavro::store {

class ChangeWriter;

class Store {
  public:
    // How long a statement waits for another connection's lock before failing, and how long
    // a unit of work that writes from its first read waits for another writer to finish (an
    // exchange holds the lock for its whole length, seconds for a large library).
    static constexpr int kBusyWaitMilliseconds = 5000;
    static constexpr int kWriterWaitMilliseconds = 30000;

    // Opens the store at `path`, creating the file, its folder and the blob folder as needed.
    // A file that is not a database, or one of another schema version, fails with
    // platform::Error and is left as it was. The file, its journal and the blob folder are
    // private to the user. Unreferenced blobs are removed on the way when no writer is busy.
    static std::unique_ptr<Store> open(
        const std::string& path, platform::FileSystem& fileSystem = platform::FileSystem::real());
    ~Store();

    const std::string& path() const { return path_; }
    SyncEventSource& syncEvents() { return syncEvents_; }

    // Where the blob of a stored content with this digest lies; the file is not read.
    std::string blobPath(const std::string& sha256) const { return blobs_.path(sha256); }
    // While the returned lock lives no blob is removed, by this process or another: for
    // reading the blobs of a commit after it, when another writer's later commit could
    // otherwise leave them unreferenced and collected. Throws when the folder cannot be opened.
    BlobStore::Lock keepBlobs() const { return blobs_.lockShared(); }

    // Streams a content's bytes, stored or pending, without holding them whole.
    void readContent(const model::Content& content,
                     const std::function<void(std::string_view)>& sink) const;
    // The bytes whole, for small contents.
    std::string readBytes(const model::Content& content) const;

    // Copies the write-ahead log into the store file once saves have made it kCheckpointPages
    // long. SQLite would do that inside the commit that crosses the length, on the time of
    // whoever waits for that save (a host waiting for its answer); the store's owner calls this
    // instead when nobody waits: after an exchange's answer is delivered, after a sync round.
    // Never waits and never fails: while a unit of work of this store is under way, or another
    // connection reads older pages, the rest is copied at a later call. Any thread.
    void checkpointIfDue() noexcept;
    static constexpr int kCheckpointPages = 1000;  // SQLite's own default
    // A log that nobody checkpointed grows no longer than this (128 MiB at the store's 4 KiB
    // pages): the commit that reaches it copies the log itself, as SQLite would.
    static constexpr int kLogPagesLimit = 32768;

  private:
    friend class UnitOfWork;
    friend class ChangeWriter;
    friend class RecordLoader;

    Store(std::string path, sqlite::Database db, platform::FileSystem& fileSystem);
    void readRowCounters();
    // SQLite's write-ahead log hook: called after each commit of this connection with the
    // log's length in pages.
    static int noteLogLength(void* store, sqlite3* db, const char* name, int pages);
    void collectUnreferencedBlobs();
    int64_t allocateRow(model::RecordType type);
    ChangeWriter& writer();
    // With dbMutex_ held: takes the write lock (waiting for other writers) and brings the row
    // counters up to what other connections have committed.
    void beginWriting();
    // SQLite's data version of this connection: it changes when another connection commits.
    int64_t dataVersion();
    // Removes those of `digests` that no committed row names, if no writer is between its
    // blobs and its commit; false when that was not the case and nothing was removed.
    bool removeUnreferencedBlobs(const std::vector<std::string>& digests);

    std::string path_;
    sqlite::Database db_;
    platform::FileSystem& fileSystem_;
    BlobStore blobs_;
    SyncEventSource syncEvents_;
    // One transaction (a load, or a save with its blob collection) at a time; every use of db_
    // holds it, since the connection has no mutex of its own.
    std::mutex dbMutex_;
    std::mutex rowMutex_;
    std::array<int64_t, 3> lastRow_{};
    // With dbMutex_ held: saves of this store's units of work (SQLite's data version does not
    // count a connection's own commits), and the records kept for the next exchange.
    uint64_t saves_ = 0;
    std::atomic<int> logPages_{0};  // as the last commit left the write-ahead log
    KeptLibrary kept_;
    std::unique_ptr<ChangeWriter> writer_;  // made at the first save; before db_ goes away
};

}  // namespace tavro::store
