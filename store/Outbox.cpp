// SPDX-License-Identifier: MIT
#include "store/Outbox.h"

#include <cstring>

#include "model/ThingFields.h"
#include "store/Store.h"

namespace tavro::store {

namespace {

int64_t typeValue(model::RecordType type) {
    return int64_t{static_cast<uint8_t>(type)};
}

// Runs `body` in a write transaction, rolled back when it throws.
template <typename Body>
void writing(sqlite::Database& db, Body&& body) {
    db.execute("BEGIN IMMEDIATE");
    try {
        body();
        db.execute("COMMIT");
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

// "SELECT whether any byte field column names the digest ?1", each by its column's index.
std::string holdsContentSql() {
    std::string sql;
    model::fields::forEach(model::fields::kThingFields, [&](const auto& entry) {
        if (entry.storage == model::fields::Storage::Bytes) {
            sql += sql.empty() ? "SELECT " : " OR ";
            sql += "EXISTS (SELECT 1 FROM Thing WHERE " + std::string(entry.columns[0]) + " = ?1)";
        }
    });
    return sql;
}

}  // namespace

Outbox::Outbox(const std::string& storePath)
    : db_(storePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) {
    sqlite3_busy_timeout(db_.handle(), Store::kWriterWaitMilliseconds);
}

std::optional<std::string> Outbox::account() {
    auto statement = db_.prepare("SELECT value FROM StoreMetadata WHERE key = 'mirrorAccount'");
    if (!statement.step()) {
        return std::nullopt;
    }
    return std::string(statement.text(0));
}

void Outbox::attach(const std::string& account) {
    writing(db_, [&] {
        if (this->account() == account) {
            return;
        }
        // Tags, then projects, then things: pushed in this order, what records name reaches
        // the server, and so a machine pulling, before the records that name it.
        db_.execute(
            "DELETE FROM MirrorRecords;\n"
            "DELETE FROM StoreMetadata WHERE key = 'mirrorCursor';\n"
            "INSERT OR REPLACE INTO Outbox (type, row, uuid, deleted)\n"
            "    SELECT type, row, uuid, 0 FROM (\n"
            "        SELECT 1 AS type, id AS row, uuid FROM Tag UNION ALL\n"
            "        SELECT 2, id, uuid FROM Project UNION ALL\n"
            "        SELECT 0, id, uuid FROM Thing)\n"
            "    ORDER BY (type + 2) % 3, row;");
        auto set = db_.prepare(
            "INSERT OR REPLACE INTO StoreMetadata (key, value) VALUES ('mirrorAccount', ?1)");
        set.bind(1, std::string_view(account));
        set.run();
    });
}

std::vector<Outbox::Entry> Outbox::pending(int limit) {
    auto statement = db_.prepare(
        "SELECT o.change, o.type, o.row, o.uuid, o.deleted, coalesce(m.version, 0)\n"
        "FROM Outbox o LEFT JOIN MirrorRecords m ON m.type = o.type AND m.row = o.row\n"
        "ORDER BY o.change LIMIT ?1");
    statement.bind(1, int64_t{limit});
    std::vector<Entry> entries;
    while (statement.step()) {
        Entry entry;
        entry.change = statement.integer(0);
        entry.type = static_cast<model::RecordType>(statement.integer(1));
        entry.row = statement.integer(2);
        std::string_view uuid = statement.blob(3);
        if (uuid.size() == entry.uuid.bytes.size()) {
            std::memcpy(entry.uuid.bytes.data(), uuid.data(), uuid.size());
        }
        entry.deleted = statement.integer(4) != 0;
        entry.serverVersion = statement.integer(5);
        entries.push_back(entry);
    }
    return entries;
}

void Outbox::acknowledge(const Entry& entry, int64_t version) {
    writing(db_, [&] {
        auto remove = db_.prepare("DELETE FROM Outbox WHERE change = ?1");
        remove.bind(1, entry.change);
        remove.run();
        auto keep = db_.prepare(
            "INSERT OR REPLACE INTO MirrorRecords (type, row, version) VALUES (?1, ?2, ?3)");
        keep.bind(1, typeValue(entry.type));
        keep.bind(2, entry.row);
        keep.bind(3, version);
        keep.run();
    });
}

int64_t Outbox::serverVersion(model::RecordType type, int64_t row) {
    if (!serverVersion_) {
        serverVersion_ =
            db_.prepare("SELECT version FROM MirrorRecords WHERE type = ?1 AND row = ?2");
    }
    serverVersion_.bind(1, typeValue(type));
    serverVersion_.bind(2, row);
    int64_t version = serverVersion_.step() ? serverVersion_.integer(0) : 0;
    serverVersion_.reset();
    return version;
}

bool Outbox::holdsContent(const std::string& sha256) {
    if (!holdsContent_) {
        holdsContent_ = db_.prepare(holdsContentSql());
    }
    holdsContent_.bind(1, std::string_view(sha256));
    holdsContent_.step();
    bool held = holdsContent_.integer(0) != 0;
    holdsContent_.reset();
    return held;
}

int64_t Outbox::cursor() {
    auto statement = db_.prepare("SELECT value FROM StoreMetadata WHERE key = 'mirrorCursor'");
    return statement.step() ? std::stoll(std::string(statement.text(0))) : 0;
}

}  // namespace tavro::store
