// SPDX-License-Identifier: MIT
#pragma once
// Writes the changes of one save inside a transaction: rows of inserted records in full, of
// changed records only the columns of the changed fields, deleted rows with their join rows.
// Statements are prepared once per store and reused.
//
// In a store attached to a mirror (store/Outbox.h) every save also records, in the same
// transaction, which records it changed: one outbox row per record, its latest change. A store
// never attached records nothing, so a library without a server pays one lookup per save.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/Sqlite.h"

namespace tavro::store {

class ChangeWriter {
  public:
    // While one lives on a thread, the saves made on that thread write what the mirror brought
    // from the server: they record nothing in the outbox and clear the outbox rows of the
    // records they write (what the server holds replaces the local change), and the commit
    // that ends such a save writes `versions` and `cursor` with the change, then empties them
    // (so what is left after a save was not written). A unit of work that writes from its
    // first read (Writing::FromFirstRead) commits when saved, and so writes them, even when it
    // changed no record. Guards nest; the innermost one applies.
    class FromServer {
      public:
        FromServer();
        ~FromServer();
        FromServer(const FromServer&) = delete;
        FromServer& operator=(const FromServer&) = delete;

        struct Version {
            model::RecordType type;
            int64_t row;
            int64_t version;
        };
        std::vector<Version> versions;  // the server's version of records, as now seen
        std::optional<int64_t> cursor;  // the last change sequence now applied
        // Outbox changes the server took: their rows go, while a later save's row of the same
        // record (a newer change number) stays to be pushed in turn.
        std::vector<int64_t> acknowledged;
        // When set, only the records named here (by type and row) are what the server holds:
        // the writes that merely follow from them (things left by a deleted tag, say) keep the
        // store's own change to such a record waiting to be pushed, rather than clearing it.
        std::optional<std::set<std::pair<model::RecordType, int64_t>>> settled;

      private:
        friend class ChangeWriter;
        FromServer* outer_;
    };

    explicit ChangeWriter(sqlite::Database& db);

    void begin();
    void commit();
    void rollbackQuietly();

    void insert(const model::Thing& thing);
    void insert(const model::Tag& tag);
    void insert(const model::Project& project);

    // `fields` has one bit per field position.
    void update(const model::Thing& thing, uint32_t fields);
    void update(const model::Tag& tag, uint32_t fields);
    void update(const model::Project& project, uint32_t fields);

    void remove(const model::Thing& thing);
    void remove(const model::Tag& tag);
    void remove(const model::Project& project);

    // Whether any row still refers to the blob with this digest.
    bool isBlobReferenced(const std::string& sha256);

  private:
    // The statements of one record type's table.
    struct TableStatements {
        sqlite::Statement insert;
        sqlite::Statement remove;
    };

    template <typename Record>
    TableStatements& statementsOf();
    template <typename Record>
    void insertRow(const Record& record);
    template <typename Record>
    void updateRow(const Record& record, uint32_t fields);
    template <typename Record>
    void removeRow(const Record& record);
    template <typename Record>
    sqlite::Statement& updateStatement(uint32_t fields);

    // Replaces a thing's tags; insertTags only adds them, for a thing with none stored.
    void writeTags(const model::Thing& thing);
    void insertTags(const model::Thing& thing);
    // Notes in the outbox, or clears there for a save from the server, the change of a record.
    void noteChange(model::RecordType type, int64_t row, const platform::Uuid& uuid, bool deleted);
    void writeServerState(FromServer& state);

    sqlite::Database& db_;
    sqlite::Statement begin_, commit_, rollback_;
    TableStatements things_, tags_, projects_;
    sqlite::Statement deleteThingTags_, insertThingTag_;
    sqlite::Statement blobReferenced_;
    sqlite::Statement isMirrored_, noteChange_, clearChange_, setVersion_, setCursor_, dropChange_;
    // Whether this transaction's store is attached to a mirror: asked at the first change of
    // each transaction, under the write lock, so that an attachment is either seen here or
    // queues this transaction's records itself.
    std::optional<bool> mirrored_;
    std::unordered_map<uint64_t, sqlite::Statement> updates_;  // by type and field bits
};

}  // namespace tavro::store
