#pragma once
// Conversion between record fields and the columns of their rows: binding a field's value
// to a statement, and reading a row back with NULL taking the field's schema default.

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/Sqlite.h"

namespace tavro::store::rows {

// Bind one field at `index` (a byte field takes two parameters); returns the next index.
int bindThingField(sqlite::Statement& statement, int index, const model::ThingState& thing,
                   model::ThingField field);
int bindTagField(sqlite::Statement& statement, int index, const model::TagState& tag,
                 model::TagField field);
int bindProjectField(sqlite::Statement& statement, int index, const model::ProjectState& project,
                     model::ProjectField field);

// Read a row of "SELECT id, <every column in schema order>"; relationships are left empty.
// The row ids of the relationship columns come back through `projectRow` / `parentRow`.
model::ThingState readThing(const sqlite::Statement& row, int64_t& projectRow);
model::TagState readTag(const sqlite::Statement& row);
model::ProjectState readProject(const sqlite::Statement& row, int64_t& parentRow);

// "id, col, col, ..." of every column of a table, in schema order.
std::string thingColumnList();
std::string tagColumnList();
std::string projectColumnList();

}  // namespace tavro::store::rows
