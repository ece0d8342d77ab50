// SPDX-License-Identifier: MIT
#pragma once
// Conversion between record fields and the columns of their rows, driven by the field tables:
// binding fields' values to a statement, and reading a row back with NULL taking the field's
// schema default.

#include <cstdint>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/Sqlite.h"

namespace tavro::store::rows {

// Binds, from `index` on, every field whose bit is set in `fields` that has columns (a byte
// field takes two parameters), in schema order; returns the next index. Texts and blobs are
// bound borrowed (Statement::bindBorrowed): `state` stays as it is until the statement is reset.
int bindFields(sqlite::Statement& statement, int index, const model::ThingState& state,
               uint32_t fields);
int bindFields(sqlite::Statement& statement, int index, const model::TagState& state,
               uint32_t fields);
int bindFields(sqlite::Statement& statement, int index, const model::ProjectState& state,
               uint32_t fields);

// The bits of the fields that have columns in the row (not the to-many relationships).
uint32_t columnFields(model::RecordType type);

// Read a row of "SELECT <tables::columnList()>"; relationships are left empty. The row id of
// the to-one relationship's column comes back through `projectRow` / `parentRow`.
model::ThingState readThing(const sqlite::Statement& row, int64_t& projectRow);
model::TagState readTag(const sqlite::Statement& row);
model::ProjectState readProject(const sqlite::Statement& row, int64_t& parentRow);

}  // namespace tavro::store::rows
