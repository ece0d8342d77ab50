// SPDX-License-Identifier: MIT
#pragma once
// The store's layout (its tables, columns and indexes) and the steps that bring an older store
// up to date. The layout is counted up by one with every change and recorded in the store's
// metadata; a store that records none was made at layout 1. The record schema's version
// ("1.0.0") is another thing: it names the records as hosts and peers know them, and does not
// change with the layout.
//
// Steps only go forward. Each runs in a transaction of its own together with the new layout
// number, so a store killed during an upgrade holds the layout before the step or after it,
// never a mix, and the next opening carries on. A store made by a newer library is refused
// and left untouched.
//
// Adding a stored field: add it to the record's description (a thing's: model/ThingFieldList.h;
// fresh stores get the column from there), raise kCurrentLayout and add the step that adds the
// column to older stores, written out as literal SQL so that the step keeps meaning what it
// meant when later layouts change the field again. The column must match what a fresh store
// gets (same type and default, no NOT NULL): the layout test compares an upgraded store with a
// fresh one. A new exchange key also belongs in docs/schema/exchange-response.schema.json.

#include <functional>
#include <string>
#include <vector>

#include "store/Sqlite.h"

namespace tavro::store::migrations {

inline constexpr int kFirstLayout = 1;
inline constexpr int kCurrentLayout = 2;

struct Step {
    int to;            // the layout this step makes out of layout `to - 1`
    std::string what;  // what it changes, for the error text of a failed step
    std::function<void(sqlite::Database&)> apply;
};

// The steps of this library, in order; every step's `to` is one more than the one before.
const std::vector<Step>& steps();

// The layout a store records (kFirstLayout when it records none).
int recordedLayout(sqlite::Database& db);
// Records `layout` in the store's metadata, inside the caller's transaction.
void recordLayout(sqlite::Database& db, int layout);

// Applies the steps the store still lacks, one transaction each. Refuses, having written
// nothing, a store whose layout is newer than the last of `steps` (or than kCurrentLayout).
// Throws platform::Error naming the store and the step for a step that fails.
void upgrade(sqlite::Database& db, const std::string& path,
             const std::vector<Step>& steps = migrations::steps());

}  // namespace tavro::store::migrations
