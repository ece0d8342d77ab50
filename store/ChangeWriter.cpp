// SPDX-License-Identifier: MIT
#include "store/ChangeWriter.h"

#include "store/RecordRows.h"
#include "store/RecordTables.h"

namespace tavro::store {

namespace {

using model::fields::kIsInverse;
using model::fields::Storage;

// "INSERT INTO T (id, every column) VALUES (?1, ...)".
template <typename Record>
std::string insertSql() {
    std::string values = "?1";
    int index = 2;
    model::fields::forEach(tables::fieldsOf<Record>(), [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            for (std::string_view column : entry.columns) {
                if (!column.empty()) {
                    values += ", ?" + std::to_string(index++);
                }
            }
        }
    });
    return std::string("INSERT INTO ") + tables::tableName<Record>() + " (" +
           tables::columnList<Record>() + ") VALUES (" + values + ")";
}

// "UPDATE T SET col = ?1, ... WHERE id = ?N" for the fields in `fields`, in schema order.
template <typename Record>
std::string updateSql(uint32_t fields) {
    std::string sets;
    int index = 1;
    model::fields::forEach(tables::fieldsOf<Record>(), [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            if ((fields & (1u << entry.index)) == 0) {
                return;
            }
            for (std::string_view column : entry.columns) {
                if (!column.empty()) {
                    sets += (sets.empty() ? "" : ", ") + std::string(column) + " = ?" +
                            std::to_string(index++);
                }
            }
        }
    });
    return std::string("UPDATE ") + tables::tableName<Record>() + " SET " + sets + " WHERE id = ?" +
           std::to_string(index);
}

template <typename Record>
std::string deleteSql() {
    return std::string("DELETE FROM ") + tables::tableName<Record>() + " WHERE id = ?1";
}

// "SELECT whether any byte field column names the digest ?1".
std::string blobReferencedSql() {
    std::string sql;
    model::fields::forEach(model::fields::kThingFields, [&](const auto& entry) {
        if (entry.storage == Storage::Bytes) {
            sql += sql.empty() ? "SELECT " : " OR ";
            sql += "EXISTS (SELECT 1 FROM Thing WHERE " + std::string(entry.columns[0]) + " = ?1)";
        }
    });
    return sql;
}

thread_local ChangeWriter::FromServer* fromServer = nullptr;

template <typename Record>
constexpr model::RecordType recordType() {
    if constexpr (std::is_same_v<Record, model::Thing>) {
        return model::RecordType::Thing;
    } else if constexpr (std::is_same_v<Record, model::Tag>) {
        return model::RecordType::Tag;
    } else {
        return model::RecordType::Project;
    }
}

}  // namespace

ChangeWriter::FromServer::FromServer() : outer_(fromServer) {
    fromServer = this;
}

ChangeWriter::FromServer::~FromServer() {
    fromServer = outer_;
}

ChangeWriter::ChangeWriter(sqlite::Database& db)
    : db_(db),
      begin_(db.prepare("BEGIN IMMEDIATE")),
      commit_(db.prepare("COMMIT")),
      rollback_(db.prepare("ROLLBACK")),
      things_{db.prepare(insertSql<model::Thing>()), db.prepare(deleteSql<model::Thing>())},
      tags_{db.prepare(insertSql<model::Tag>()), db.prepare(deleteSql<model::Tag>())},
      projects_{db.prepare(insertSql<model::Project>()), db.prepare(deleteSql<model::Project>())},
      deleteThingTags_(db.prepare("DELETE FROM ThingTags WHERE thing = ?1")),
      insertThingTag_(
          db.prepare("INSERT INTO ThingTags (thing, position, tag) VALUES (?1, ?2, ?3)")),
      blobReferenced_(db.prepare(blobReferencedSql())),
      isMirrored_(db.prepare("SELECT 1 FROM StoreMetadata WHERE key = 'mirrorAccount'")),
      noteChange_(db.prepare("INSERT OR REPLACE INTO Outbox (type, row, uuid, deleted) "
                             "VALUES (?1, ?2, ?3, ?4)")),
      clearChange_(db.prepare("DELETE FROM Outbox WHERE type = ?1 AND row = ?2")),
      setVersion_(db.prepare(
          "INSERT OR REPLACE INTO MirrorRecords (type, row, version) VALUES (?1, ?2, ?3)")),
      setCursor_(db.prepare("INSERT OR REPLACE INTO StoreMetadata (key, value) "
                            "VALUES ('mirrorCursor', ?1)")),
      dropChange_(db.prepare("DELETE FROM Outbox WHERE change = ?1")) {}

void ChangeWriter::begin() {
    mirrored_.reset();
    begin_.run();
}

void ChangeWriter::commit() {
    FromServer* state = fromServer;
    if (state != nullptr) {
        writeServerState(*state);
    }
    mirrored_.reset();
    commit_.run();
    if (state != nullptr) {
        state->versions.clear();
        state->cursor.reset();
        state->acknowledged.clear();
        state->settled.reset();
    }
}

void ChangeWriter::writeServerState(FromServer& state) {
    for (const FromServer::Version& version : state.versions) {
        setVersion_.bind(1, int64_t{static_cast<uint8_t>(version.type)});
        setVersion_.bind(2, version.row);
        setVersion_.bind(3, version.version);
        setVersion_.run();
    }
    for (int64_t change : state.acknowledged) {
        dropChange_.bind(1, change);
        dropChange_.run();
    }
    if (state.cursor) {
        setCursor_.bind(1, std::string_view(std::to_string(*state.cursor)));
        setCursor_.run();
    }
}

void ChangeWriter::noteChange(model::RecordType type, int64_t row, const platform::Uuid& uuid,
                              bool deleted) {
    if (fromServer != nullptr) {
        if (fromServer->settled && !fromServer->settled->contains({type, row})) {
            return;
        }
        clearChange_.bind(1, int64_t{static_cast<uint8_t>(type)});
        clearChange_.bind(2, row);
        clearChange_.run();
        return;
    }
    if (!mirrored_) {
        mirrored_ = isMirrored_.step();
        isMirrored_.reset();
    }
    if (!*mirrored_) {
        return;
    }
    noteChange_.bind(1, int64_t{static_cast<uint8_t>(type)});
    noteChange_.bind(2, row);
    noteChange_.bindBlob(3, uuid.bytes.data(), uuid.bytes.size());
    noteChange_.bind(4, int64_t{deleted ? 1 : 0});
    noteChange_.run();
}

void ChangeWriter::rollbackQuietly() {
    mirrored_.reset();
    if (!sqlite3_get_autocommit(db_.handle())) {
        try {
            rollback_.run();
        } catch (...) {
        }
    }
}

template <typename Record>
ChangeWriter::TableStatements& ChangeWriter::statementsOf() {
    if constexpr (std::is_same_v<Record, model::Thing>) {
        return things_;
    } else if constexpr (std::is_same_v<Record, model::Tag>) {
        return tags_;
    } else {
        static_assert(std::is_same_v<Record, model::Project>);
        return projects_;
    }
}

template <typename Record>
void ChangeWriter::insertRow(const Record& record) {
    sqlite::Statement& statement = statementsOf<Record>().insert;
    statement.bind(1, record.id().row);
    rows::bindFields(statement, 2, record.state(), ~0u);
    statement.run();
    if constexpr (std::is_same_v<Record, model::Thing>) {
        // The row just inserted has tags of no earlier thing to replace: a row is never used
        // twice (Store::allocateRow), and removing a thing removes its tags with it.
        insertTags(record);
    }
    noteChange(recordType<Record>(), record.id().row, record.uuid(), false);
}

template <typename Record>
sqlite::Statement& ChangeWriter::updateStatement(uint32_t fields) {
    uint64_t key = (uint64_t{static_cast<uint8_t>(recordType<Record>())} << 32) | fields;
    auto found = updates_.find(key);
    if (found == updates_.end()) {
        found = updates_.emplace(key, db_.prepare(updateSql<Record>(fields))).first;
    }
    return found->second;
}

template <typename Record>
void ChangeWriter::updateRow(const Record& record, uint32_t fields) {
    uint32_t columns = fields & rows::columnFields(recordType<Record>());
    if (columns != 0) {
        sqlite::Statement& statement = updateStatement<Record>(columns);
        int next = rows::bindFields(statement, 1, record.state(), columns);
        statement.bind(next, record.id().row);
        statement.run();
    }
    if constexpr (std::is_same_v<Record, model::Thing>) {
        if ((fields & (1u << static_cast<int>(model::ThingField::tags))) != 0) {
            writeTags(record);
        }
    }
    noteChange(recordType<Record>(), record.id().row, record.uuid(), false);
}

template <typename Record>
void ChangeWriter::removeRow(const Record& record) {
    if constexpr (std::is_same_v<Record, model::Thing>) {
        deleteThingTags_.bind(1, record.id().row);
        deleteThingTags_.run();
    }
    sqlite::Statement& statement = statementsOf<Record>().remove;
    statement.bind(1, record.id().row);
    statement.run();
    noteChange(recordType<Record>(), record.id().row, record.uuid(), true);
}

void ChangeWriter::insert(const model::Thing& thing) {
    insertRow(thing);
}
void ChangeWriter::insert(const model::Tag& tag) {
    insertRow(tag);
}
void ChangeWriter::insert(const model::Project& project) {
    insertRow(project);
}

void ChangeWriter::update(const model::Thing& thing, uint32_t fields) {
    updateRow(thing, fields);
}
void ChangeWriter::update(const model::Tag& tag, uint32_t fields) {
    updateRow(tag, fields);
}
void ChangeWriter::update(const model::Project& project, uint32_t fields) {
    updateRow(project, fields);
}

void ChangeWriter::remove(const model::Thing& thing) {
    removeRow(thing);
}
void ChangeWriter::remove(const model::Tag& tag) {
    removeRow(tag);
}
void ChangeWriter::remove(const model::Project& project) {
    removeRow(project);
}

void ChangeWriter::writeTags(const model::Thing& thing) {
    deleteThingTags_.bind(1, thing.id().row);
    deleteThingTags_.run();
    insertTags(thing);
}

void ChangeWriter::insertTags(const model::Thing& thing) {
    int64_t position = 0;
    for (const model::Tag* tag : thing.tags()) {
        insertThingTag_.bind(1, thing.id().row);
        insertThingTag_.bind(2, position++);
        insertThingTag_.bind(3, tag->id().row);
        insertThingTag_.run();
    }
}

bool ChangeWriter::isBlobReferenced(const std::string& sha256) {
    blobReferenced_.bind(1, std::string_view(sha256));
    blobReferenced_.step();
    bool referenced = blobReferenced_.integer(0) != 0;
    blobReferenced_.reset();
    return referenced;
}

}  // namespace tavro::store
