// SPDX-License-Identifier: MIT
#pragma once
// Reads the whole library in one read transaction: every project, tag and thing as record
// objects with their permanent identifiers, and every relationship linked at both ends.
// A relationship to a row that does not exist reads as absent.

#include <memory>
#include <vector>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"

namespace tavro::store {

class Store;

struct LoadedLibrary {
    std::vector<std::unique_ptr<model::Project>> projects;
    std::vector<std::unique_ptr<model::Tag>> tags;
    std::vector<std::unique_ptr<model::Thing>> things;
};

class RecordLoader {
  public:
    // In a read transaction of its own.
    static LoadedLibrary load(Store& store);
    // In the transaction the caller holds open, with the store's database mutex held.
    static LoadedLibrary loadWithinTransaction(Store& store);
};

}  // namespace tavro::store
