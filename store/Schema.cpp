// SPDX-License-Identifier: MIT
#include "store/Schema.h"

#include "platform/Error.h"
#include "platform/Paths.h"
#include "store/Migrations.h"
#include "store/RecordTables.h"

namespace tavro::store::schema {

namespace {

[[noreturn]] void notADatabase(const std::string& path) {
    // The platform's "corrupt file" reading error.
    platform::throwError(platform::kCocoaErrorDomain, 259,
                         "The file \u201c" + platform::paths::lastComponent(path) +
                             "\u201d couldn\u2019t be opened because it isn\u2019t in the "
                             "correct format.",
                         path + " is not a library store database");
}

[[noreturn]] void incompatible(const std::string& path, const std::string& found) {
    // The platform's "incompatible version" error of persistent stores.
    platform::throwError(platform::kCocoaErrorDomain, 134100,
                         "The library store \u201c" + platform::paths::lastComponent(path) +
                             "\u201d was made with another version of the schema (" + found +
                             ") and cannot be opened with version " + kVersion + ".",
                         path);
}

int64_t tableCount(sqlite::Database& db, const std::string& path) {
    sqlite3_stmt* raw = nullptr;
    int code =
        sqlite3_prepare_v2(db.handle(), "SELECT count(*) FROM sqlite_master", -1, &raw, nullptr);
    if (code == SQLITE_OK && sqlite3_step(raw) == SQLITE_ROW) {
        int64_t count = sqlite3_column_int64(raw, 0);
        sqlite3_finalize(raw);
        return count;
    }
    code = raw != nullptr ? sqlite3_errcode(db.handle()) : code;
    sqlite3_finalize(raw);
    if ((code & 0xff) == SQLITE_NOTADB || (code & 0xff) == SQLITE_CORRUPT) {
        notADatabase(path);
    }
    sqlite::fail(db.handle(), code, "reading the store's tables");
}

std::string metadataValue(sqlite::Database& db, const char* key) {
    auto statement = db.prepare("SELECT value FROM StoreMetadata WHERE key = ?1");
    statement.bind(1, std::string_view(key));
    return statement.step() ? std::string(statement.text(0)) : std::string();
}

// Returns false when another process created the tables first (both saw an empty file).
bool create(sqlite::Database& db, const std::string& path) {
    db.execute("BEGIN IMMEDIATE");
    try {
        if (tableCount(db, path) != 0) {
            db.execute("COMMIT");
            return false;
        }
        db.execute(tables::createStatements());
        std::string insert =
            std::string("INSERT INTO StoreMetadata(key, value) VALUES ('schemaVersion', '") +
            kVersion + "'), ('configuration', '" + kConfiguration +
            "'), ('entities', 'Thing,Tag,Project')";
        db.execute(insert);
        // A new store is made in the current layout directly, not through the steps.
        migrations::recordLayout(db, migrations::kCurrentLayout);
        db.execute("COMMIT");
        return true;
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void check(sqlite::Database& db, const std::string& path) {
    auto probe = db.prepare(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'StoreMetadata'");
    probe.step();
    if (probe.integer(0) == 0) {
        incompatible(path, "no schema version");
    }
    std::string version = metadataValue(db, "schemaVersion");
    if (version != kVersion) {
        incompatible(path, version.empty() ? "no schema version" : "version " + version);
    }
    std::string configuration = metadataValue(db, "configuration");
    if (configuration != kConfiguration) {
        incompatible(path, "configuration \u201c" + configuration + "\u201d");
    }
}

}  // namespace

void prepare(sqlite::Database& db, const std::string& path,
             const std::vector<migrations::Step>& steps) {
    if (tableCount(db, path) != 0 || !create(db, path)) {
        check(db, path);
        migrations::upgrade(db, path, steps);
    }
}

}  // namespace tavro::store::schema
