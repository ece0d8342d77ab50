#pragma once
// Writes the changes of one save inside a transaction: rows of inserted records in full, of
// changed records only the columns of the changed fields, deleted rows with their join rows.
// Statements are prepared once per store and reused.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/Sqlite.h"

namespace tavro::store {

class ChangeWriter {
  public:
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

    void writeTags(const model::Thing& thing);

    sqlite::Database& db_;
    sqlite::Statement begin_, commit_, rollback_;
    TableStatements things_, tags_, projects_;
    sqlite::Statement deleteThingTags_, insertThingTag_;
    sqlite::Statement blobReferenced_;
    std::unordered_map<uint64_t, sqlite::Statement> updates_;  // by type and field bits
};

}  // namespace tavro::store
