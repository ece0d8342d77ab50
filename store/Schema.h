// SPDX-License-Identifier: MIT
#pragma once
// Making and checking the store: a new one gets the tables the field tables describe
// (store/RecordTables.h) in the current layout; an existing one must hold this schema version
// and configuration, and is brought to the current layout (store/Migrations.h).

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

}  // namespace tavro::store::schema
