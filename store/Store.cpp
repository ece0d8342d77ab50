#include "store/Store.h"

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

void configure(sqlite::Database& db) {
    // Write-ahead logging with a full sync at commit: a save is durable when it returns and a
    // killed process never leaves a half-written change; one sync per save, not per row.
    db.execute("PRAGMA journal_mode = WAL");
    db.execute("PRAGMA synchronous = FULL");
    // Room for the pages a large save dirties (1,000 changed things spread over the table),
    // so that they are not spilled and read again in the middle of the transaction.
    db.execute("PRAGMA cache_size = -16384");
    sqlite3_busy_timeout(db.handle(), 5000);
}

}  // namespace

std::unique_ptr<Store> Store::open(const std::string& path, platform::FileSystem& fileSystem) {
    std::string absolute = platform::paths::absolute(path);
    fileSystem.createDirectories(platform::paths::parent(absolute));
    sqlite::Database db(absolute,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    // The schema is checked before anything is written, so a foreign file stays untouched.
    schema::prepare(db, absolute);
    configure(db);
    fileSystem.createDirectories(blobFolderFor(absolute));
    std::unique_ptr<Store> store(new Store(absolute, std::move(db), fileSystem));
    store->readRowCounters();
    store->collectUnreferencedBlobs();
    return store;
}

Store::Store(std::string path, sqlite::Database db, platform::FileSystem& fileSystem)
    : path_(std::move(path)),
      db_(std::move(db)),
      fileSystem_(fileSystem),
      blobs_(blobFolderFor(path_), fileSystem) {}

Store::~Store() = default;

void Store::readRowCounters() {
    const char* tables[] = {"Thing", "Tag", "Project"};
    for (size_t i = 0; i < 3; ++i) {
        // The highest row ever used, deleted ones included: identifiers are never reused.
        std::string table = tables[i];
        auto statement =
            db_.prepare("SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = '" +
                        table + "'), 0), coalesce((SELECT max(id) FROM " + table + "), 0))");
        statement.step();
        lastRow_[i] = statement.integer(0);
    }
}

void Store::collectUnreferencedBlobs() {
    std::unordered_set<std::string> referenced;
    auto statement = db_.prepare(
        "SELECT dataSha256 FROM Thing WHERE dataSha256 IS NOT NULL "
        "UNION SELECT thumbnailDataSha256 FROM Thing WHERE thumbnailDataSha256 IS NOT NULL "
        "UNION SELECT iconDataSha256 FROM Thing WHERE iconDataSha256 IS NOT NULL");
    while (statement.step()) {
        referenced.emplace(statement.text(0));
    }
    blobs_.collectGarbage(referenced);
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
