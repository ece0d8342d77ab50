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

    void remove(model::RecordType type, int64_t row);

    // Whether any row still refers to the blob with this digest.
    bool isBlobReferenced(const std::string& sha256);

  private:
    void writeTags(const model::Thing& thing);
    sqlite::Statement& updateStatement(model::RecordType type, uint32_t fields);

    sqlite::Database& db_;
    sqlite::Statement begin_, commit_, rollback_;
    sqlite::Statement insertThing_, insertTag_, insertProject_;
    sqlite::Statement deleteThing_, deleteTag_, deleteProject_;
    sqlite::Statement deleteThingTags_, insertThingTag_;
    sqlite::Statement blobReferenced_;
    std::unordered_map<uint64_t, sqlite::Statement> updates_;  // by type and field bits
};

}  // namespace tavro::store
