// SPDX-License-Identifier: MIT
#pragma once
// The records of the last unit of work that held the store from its first read, kept by the
// store once that unit ended cleanly, so that the next such unit (the next exchange) starts
// from them instead of reading and building every row again.
//
// They are handed over only while they still are what the database holds: SQLite's data
// version of the connection is unchanged (no other connection, in this process or another,
// has committed since) and no unit of work of this store has saved since they were kept.
// Otherwise they are dropped and the rows are read afresh.
//
// Used with the store's database mutex held; take() inside the transaction the taker reads in.

#include <cstdint>
#include <optional>

#include "store/RecordLoader.h"

namespace tavro::store {

class KeptLibrary {
  public:
    std::optional<LoadedLibrary> take(int64_t dataVersion, uint64_t saves);
    void keep(LoadedLibrary library, int64_t dataVersion, uint64_t saves);
    void drop();

  private:
    std::optional<LoadedLibrary> library_;
    int64_t dataVersion_ = 0;
    uint64_t saves_ = 0;
};

// Clears every relationship of the records, at both ends, so that destroying them is one
// pass without each record searching the lists of the others.
void unlinkAll(std::vector<std::unique_ptr<model::Thing>>& things,
               std::vector<std::unique_ptr<model::Tag>>& tags,
               std::vector<std::unique_ptr<model::Project>>& projects);

}  // namespace tavro::store
