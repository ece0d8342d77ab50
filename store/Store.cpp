// SPDX-License-Identifier: MIT
#include "store/Store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_set>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "store/ChangeWriter.h"
#include "store/Schema.h"

namespace tavro::store {

namespace {

std::string blobFolderFor(const std::string& path) {
    return path + "-blobs";
}

// The store file is created private to the user whatever the umask, and SQLite gives its
// journal files the mode of the store file. A store made before it was private is made so.
// The file is never opened here once it exists: closing a descriptor of a database file would
// drop the locks SQLite holds on it in this process.
void makePrivate(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
        return;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::string file = path + suffix;
        struct stat status {};
        if (::lstat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            status.st_uid == ::geteuid() && (status.st_mode & 077) != 0) {
            ::chmod(file.c_str(), status.st_mode & 0700);
        }
    }
}

// Write-ahead logging is switched on by the first opening of a new store. The switch reads the
// store's header and then writes it within one statement, and SQLite answers "busy" at once,
// without waiting, when another connection is doing the same (each would wait for the other).
// So the switch itself is tried again, for as long as any other statement waits for a busy store.
void useWriteAheadLog(sqlite::Database& db) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(Store::kBusyWaitMilliseconds);
    for (;;) {
        int code =
            sqlite3_exec(db.handle(), "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        if (code == SQLITE_OK) {
            return;
        }
        if ((code & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            sqlite::fail(db.handle(), code, "PRAGMA journal_mode = WAL");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void configure(sqlite::Database& db) {
    // Write-ahead logging with a full sync at commit: a save is durable when it returns and a
    // killed process never leaves a half-written change; one sync per save, not per row.
    useWriteAheadLog(db);
    db.execute("PRAGMA synchronous = FULL");
    // Room for the pages a large save dirties (1,000 changed things spread over the table),
    // so that they are not spilled and read again in the middle of the transaction.
    db.execute("PRAGMA cache_size = -16384");
}

}  // namespace

std::unique_ptr<Store> Store::open(const std::string& path, platform::FileSystem& fileSystem) {
    std::string absolute = platform::paths::absolute(path);
    fileSystem.createDirectories(platform::paths::parent(absolute));
    platform::makeOwnFolderPrivate(platform::paths::parent(absolute));
    makePrivate(absolute);
    // Without SQLite's own mutex: every use of the connection after this function holds
    // dbMutex_, so the connection's lock would be taken uncontended on every bind and step
    // (a first import binds millions of values).
    sqlite::Database db(absolute,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    // Before the first statement: a store another process is writing is waited for whether
    // or not it has tables yet.
    sqlite3_busy_timeout(db.handle(), kBusyWaitMilliseconds);
    // The schema is checked before anything is written, so a foreign file stays untouched.
    schema::prepare(db, absolute);
    configure(db);
    fileSystem.createDirectories(blobFolderFor(absolute));
    platform::makeOwnFolderPrivate(blobFolderFor(absolute));
    std::unique_ptr<Store> store(new Store(absolute, std::move(db), fileSystem));
    store->readRowCounters();
    store->collectUnreferencedBlobs();
    return store;
}

Store::Store(std::string path, sqlite::Database db, platform::FileSystem& fileSystem)
    : path_(std::move(path)),
      db_(std::move(db)),
      fileSystem_(fileSystem),
      blobs_(blobFolderFor(path_), fileSystem) {
    // In place of SQLite's own checkpoint inside commits: see checkpointIfDue().
    sqlite3_wal_hook(db_.handle(), &Store::noteLogLength, this);
}

int Store::noteLogLength(void* store, sqlite3* db, const char*, int pages) {
    static_cast<Store*>(store)->logPages_.store(pages, std::memory_order_relaxed);
    if (pages >= kLogPagesLimit) {
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    return SQLITE_OK;
}

void Store::checkpointIfDue() noexcept {
    if (logPages_.load(std::memory_order_relaxed) < kCheckpointPages) {
        return;
    }
    std::unique_lock lock(dbMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        return;  // a unit of work is under way; its owner calls again when it is done
    }
    int logged = 0;
    int copied = 0;
    int code = sqlite3_wal_checkpoint_v2(db_.handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                         &logged, &copied);
    if (code == SQLITE_OK && copied == logged) {
        logPages_.store(0, std::memory_order_relaxed);
    }
}

Store::~Store() {
    kept_.drop();
}

int64_t Store::dataVersion() {
    auto statement = db_.prepare("PRAGMA data_version");
    statement.step();
    return statement.integer(0);
}

void Store::readRowCounters() {
    const char* tables[] = {"Thing", "Tag", "Project"};
    for (size_t i = 0; i < 3; ++i) {
        // The highest row ever used, deleted ones included: identifiers are never reused.
        std::string table = tables[i];
        auto statement =
            db_.prepare("SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = '" +
                        table + "'), 0), coalesce((SELECT max(id) FROM " + table + "), 0))");
        statement.step();
        // Never lower: this connection may have handed out rows not yet committed.
        std::lock_guard lock(rowMutex_);
        lastRow_[i] = std::max(lastRow_[i], statement.integer(0));
    }
}

void Store::collectUnreferencedBlobs() {
    // Another process may be between writing its blobs and committing them: then the folder
    // is left as it is, and collected by a later opening.
    auto exclusive = blobs_.tryLockExclusive();
    if (!exclusive) {
        return;
    }
    std::lock_guard lock(dbMutex_);
    // The references are read after the lock is held, so every writer that wrote blobs before
    // has committed them.
    std::unordered_set<std::string> referenced;
    auto statement = db_.prepare(
        "SELECT dataSha256 FROM Thing WHERE dataSha256 IS NOT NULL "
        "UNION SELECT thumbnailDataSha256 FROM Thing WHERE thumbnailDataSha256 IS NOT NULL "
        "UNION SELECT iconDataSha256 FROM Thing WHERE iconDataSha256 IS NOT NULL");
    while (statement.step()) {
        referenced.emplace(statement.text(0));
    }
    statement = {};
    blobs_.collectGarbage(*exclusive, referenced);
}

bool Store::removeUnreferencedBlobs(const std::vector<std::string>& digests) {
    if (digests.empty()) {
        return true;
    }
    auto exclusive = blobs_.tryLockExclusive();
    if (!exclusive) {
        return false;
    }
    std::lock_guard lock(dbMutex_);
    ChangeWriter& changes = writer();
    blobs_.removeUnreferenced(*exclusive, digests, [&changes](const std::string& digest) {
        return changes.isBlobReferenced(digest);
    });
    return true;
}

ChangeWriter& Store::writer() {
    if (!writer_) {
        writer_ = std::make_unique<ChangeWriter>(db_);
    }
    return *writer_;
}

void Store::beginWriting() {
    // A writer that holds the lock for a whole exchange is waited for longer than a statement
    // waits; the usual wait comes back once the lock is held.
    sqlite3_busy_timeout(db_.handle(), kWriterWaitMilliseconds);
    int code = sqlite3_exec(db_.handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_.handle(), kBusyWaitMilliseconds);
    if ((code & 0xff) == SQLITE_BUSY) {
        platform::throwError(sqlite::kErrorDomain, code,
                             "The library store is busy: another program has been writing to it "
                             "for more than 30 seconds.",
                             path_);
    }
    if (code != SQLITE_OK) {
        sqlite::fail(db_.handle(), code, "BEGIN IMMEDIATE");
    }
    try {
        readRowCounters();
    } catch (...) {
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int64_t Store::allocateRow(model::RecordType type) {
    std::lock_guard lock(rowMutex_);
    return ++lastRow_[static_cast<size_t>(type)];
}

void Store::readContent(const model::Content& content,
                        const std::function<void(std::string_view)>& sink) const {
    blobs_.read(content, sink);
}

std::string Store::readBytes(const model::Content& content) const {
    std::string bytes;
    bytes.reserve(content.size);
    readContent(content, [&bytes](std::string_view chunk) { bytes.append(chunk); });
    return bytes;
}

}  // namespace tavro::store
