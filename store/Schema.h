#pragma once
// The store's tables: one per record type, named as the type, one column per stored field in
// schema order (a byte field takes two: its digest and its size; its bytes live in the blob
// folder), and the tags of a thing as a join table in relationship order. Every column
// carries the field's default, and a NULL read back takes the same default.

#include <array>
#include <string>
#include <vector>

#include "store/Migrations.h"
#include "store/Sqlite.h"

namespace tavro::store::schema {

inline constexpr const char* kVersion = "1.0.0";
inline constexpr const char* kConfiguration = "Tavro";

// Creates the tables in an empty database, or checks that an existing one was made with this
// schema version and configuration and brings its layout up to date (store/Migrations.h).
// Throws platform::Error, having written nothing, for a file that is not a database, that
// holds another schema or that was made by a newer library.
void prepare(sqlite::Database& db, const std::string& path,
             const std::vector<migrations::Step>& steps = migrations::steps());

// The columns of one field, in order (empty for the to-many relationships, which have none).
struct FieldColumns {
    std::vector<const char*> names;
};
const std::vector<FieldColumns>& thingColumns();    // indexed by model::ThingField
const std::vector<FieldColumns>& tagColumns();      // indexed by model::TagField
const std::vector<FieldColumns>& projectColumns();  // indexed by model::ProjectField

}  // namespace tavro::store::schema
