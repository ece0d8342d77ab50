#include "store/ChangeWriter.h"

#include "store/RecordAccess.h"
#include "store/RecordRows.h"
#include "store/Schema.h"

namespace tavro::store {

namespace {

using model::RecordType;

const char* tableName(RecordType type) {
    switch (type) {
        case RecordType::Thing:
            return "Thing";
        case RecordType::Tag:
            return "Tag";
        case RecordType::Project:
            return "Project";
    }
    return "";
}

const std::vector<schema::FieldColumns>& columnsOf(RecordType type) {
    switch (type) {
        case RecordType::Thing:
            return schema::thingColumns();
        case RecordType::Tag:
            return schema::tagColumns();
        case RecordType::Project:
            return schema::projectColumns();
    }
    return schema::thingColumns();
}

// "INSERT INTO T (id, every column) VALUES (?1, ...)".
std::string insertSql(RecordType type) {
    std::string names = "id";
    std::string values = "?1";
    int index = 2;
    for (const auto& field : columnsOf(type)) {
        for (const char* name : field.names) {
            names += std::string(", ") + name;
            values += ", ?" + std::to_string(index++);
        }
    }
    return std::string("INSERT INTO ") + tableName(type) + " (" + names + ") VALUES (" + values +
           ")";
}

// "UPDATE T SET col = ?1, ... WHERE id = ?N" for the fields in `fields`, in schema order.
std::string updateSql(RecordType type, uint32_t fields) {
    std::string sets;
    int index = 1;
    const auto& columns = columnsOf(type);
    for (size_t field = 0; field < columns.size(); ++field) {
        if ((fields & (1u << field)) == 0) {
            continue;
        }
        for (const char* name : columns[field].names) {
            sets +=
                (sets.empty() ? "" : ", ") + std::string(name) + " = ?" + std::to_string(index++);
        }
    }
    return std::string("UPDATE ") + tableName(type) + " SET " + sets + " WHERE id = ?" +
           std::to_string(index);
}

// The bits of fields that have columns in the row.
uint32_t rowFields(RecordType type, uint32_t fields) {
    const auto& columns = columnsOf(type);
    uint32_t mask = 0;
    for (size_t field = 0; field < columns.size(); ++field) {
        if (!columns[field].names.empty()) {
            mask |= 1u << field;
        }
    }
    return fields & mask;
}

template <typename Field, typename State, typename Bind>
int bindFields(sqlite::Statement& statement, int index, const State& state, uint32_t fields,
               int fieldCount, Bind bind) {
    for (int field = 0; field < fieldCount; ++field) {
        if ((fields & (1u << field)) != 0) {
            index = bind(statement, index, state, static_cast<Field>(field));
        }
    }
    return index;
}

}  // namespace

ChangeWriter::ChangeWriter(sqlite::Database& db)
    : db_(db),
      begin_(db.prepare("BEGIN IMMEDIATE")),
      commit_(db.prepare("COMMIT")),
      rollback_(db.prepare("ROLLBACK")),
      insertThing_(db.prepare(insertSql(RecordType::Thing))),
      insertTag_(db.prepare(insertSql(RecordType::Tag))),
      insertProject_(db.prepare(insertSql(RecordType::Project))),
      deleteThing_(db.prepare("DELETE FROM Thing WHERE id = ?1")),
      deleteTag_(db.prepare("DELETE FROM Tag WHERE id = ?1")),
      deleteProject_(db.prepare("DELETE FROM Project WHERE id = ?1")),
      deleteThingTags_(db.prepare("DELETE FROM ThingTags WHERE thing = ?1")),
      insertThingTag_(
          db.prepare("INSERT INTO ThingTags (thing, position, tag) VALUES (?1, ?2, ?3)")),
      blobReferenced_(db.prepare("SELECT EXISTS (SELECT 1 FROM Thing WHERE dataSha256 = ?1) OR "
                                 "EXISTS (SELECT 1 FROM Thing WHERE thumbnailDataSha256 = ?1) OR "
                                 "EXISTS (SELECT 1 FROM Thing WHERE iconDataSha256 = ?1)")) {}

void ChangeWriter::begin() {
    begin_.run();
}
void ChangeWriter::commit() {
    commit_.run();
}

void ChangeWriter::rollbackQuietly() {
    if (!sqlite3_get_autocommit(db_.handle())) {
        try {
            rollback_.run();
        } catch (...) {
        }
    }
}

void ChangeWriter::insert(const model::Thing& thing) {
    auto& state = RecordAccess::state(const_cast<model::Thing&>(thing));
    insertThing_.bind(1, thing.id().row);
    bindFields<model::ThingField>(insertThing_, 2, state, ~0u, model::kThingFieldCount,
                                  rows::bindThingField);
    insertThing_.run();
    writeTags(thing);
}

void ChangeWriter::insert(const model::Tag& tag) {
    auto& state = RecordAccess::state(const_cast<model::Tag&>(tag));
    insertTag_.bind(1, tag.id().row);
    bindFields<model::TagField>(insertTag_, 2, state, ~0u, model::kTagFieldCount,
                                rows::bindTagField);
    insertTag_.run();
}

void ChangeWriter::insert(const model::Project& project) {
    auto& state = RecordAccess::state(const_cast<model::Project&>(project));
    insertProject_.bind(1, project.id().row);
    bindFields<model::ProjectField>(insertProject_, 2, state, ~0u, model::kProjectFieldCount,
                                    rows::bindProjectField);
    insertProject_.run();
}

sqlite::Statement& ChangeWriter::updateStatement(RecordType type, uint32_t fields) {
    uint64_t key = (uint64_t{static_cast<uint8_t>(type)} << 32) | fields;
    auto found = updates_.find(key);
    if (found == updates_.end()) {
        found = updates_.emplace(key, db_.prepare(updateSql(type, fields))).first;
    }
    return found->second;
}

void ChangeWriter::update(const model::Thing& thing, uint32_t fields) {
    uint32_t columns = rowFields(RecordType::Thing, fields);
    if (columns != 0) {
        auto& statement = updateStatement(RecordType::Thing, columns);
        auto& state = RecordAccess::state(const_cast<model::Thing&>(thing));
        int next = bindFields<model::ThingField>(statement, 1, state, columns,
                                                 model::kThingFieldCount, rows::bindThingField);
        statement.bind(next, thing.id().row);
        statement.run();
    }
    if ((fields & (1u << static_cast<int>(model::ThingField::tags))) != 0) {
        writeTags(thing);
    }
}

void ChangeWriter::update(const model::Tag& tag, uint32_t fields) {
    uint32_t columns = rowFields(RecordType::Tag, fields);
    if (columns == 0) {
        return;
    }
    auto& statement = updateStatement(RecordType::Tag, columns);
    auto& state = RecordAccess::state(const_cast<model::Tag&>(tag));
    int next = bindFields<model::TagField>(statement, 1, state, columns, model::kTagFieldCount,
                                           rows::bindTagField);
    statement.bind(next, tag.id().row);
    statement.run();
}

void ChangeWriter::update(const model::Project& project, uint32_t fields) {
    uint32_t columns = rowFields(RecordType::Project, fields);
    if (columns == 0) {
        return;
    }
    auto& statement = updateStatement(RecordType::Project, columns);
    auto& state = RecordAccess::state(const_cast<model::Project&>(project));
    int next = bindFields<model::ProjectField>(statement, 1, state, columns,
                                               model::kProjectFieldCount, rows::bindProjectField);
    statement.bind(next, project.id().row);
    statement.run();
}

void ChangeWriter::remove(RecordType type, int64_t row) {
    switch (type) {
        case RecordType::Thing:
            deleteThingTags_.bind(1, row);
            deleteThingTags_.run();
            deleteThing_.bind(1, row);
            deleteThing_.run();
            break;
        case RecordType::Tag:
            deleteTag_.bind(1, row);
            deleteTag_.run();
            break;
        case RecordType::Project:
            deleteProject_.bind(1, row);
            deleteProject_.run();
            break;
    }
}

void ChangeWriter::writeTags(const model::Thing& thing) {
    deleteThingTags_.bind(1, thing.id().row);
    deleteThingTags_.run();
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
