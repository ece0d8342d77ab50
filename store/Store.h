#pragma once
// The native store: the library's records in one SQLite database file, byte-field contents in
// a blob folder beside it ("<store file name>-blobs"). Work on records happens in units of
// work (store/UnitOfWork.h); the store holds the connection, hands out permanent identifiers
// and serialises saves.
//
// Thread safety: open(), blobPath() and syncEvents() may be used from any thread; a unit of
// work is used on one thread at a time.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "model/Content.h"
#include "model/PersistentId.h"
#include "platform/FileSystem.h"
#include "store/BlobStore.h"
#include "store/Sqlite.h"
#include "store/SyncEvent.h"

namespace tavro::store {

class ChangeWriter;

class Store {
  public:
    // Opens the store at `path`, creating the file, its folder and the blob folder as needed.
    // A file that is not a database, or one of another schema version, fails with
    // platform::Error and is left as it was. Unreferenced blobs are removed on the way.
    static std::unique_ptr<Store> open(
        const std::string& path, platform::FileSystem& fileSystem = platform::FileSystem::real());
    ~Store();

    const std::string& path() const { return path_; }
    SyncEventSource& syncEvents() { return syncEvents_; }

    // Where the blob of a stored content with this digest lies; the file is not read.
    std::string blobPath(const std::string& sha256) const { return blobs_.path(sha256); }
    // Streams a content's bytes, stored or pending, without holding them whole.
    void readContent(const model::Content& content,
                     const std::function<void(std::string_view)>& sink) const;
    // The bytes whole, for small contents.
    std::string readBytes(const model::Content& content) const;

  private:
    friend class UnitOfWork;
    friend class ChangeWriter;
    friend class RecordLoader;

    Store(std::string path, sqlite::Database db, platform::FileSystem& fileSystem);
    void readRowCounters();
    void collectUnreferencedBlobs();
    int64_t allocateRow(model::RecordType type);

    std::string path_;
    sqlite::Database db_;
    platform::FileSystem& fileSystem_;
    BlobStore blobs_;
    SyncEventSource syncEvents_;
    std::mutex dbMutex_;  // one transaction (a load, or a save with its blob collection) at a time
    std::mutex rowMutex_;
    std::array<int64_t, 3> lastRow_{};
    std::unique_ptr<ChangeWriter> writer_;  // made at the first save; before db_ goes away
};

}  // namespace tavro::store
