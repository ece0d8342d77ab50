// SPDX-License-Identifier: MIT
#pragma once
// Reads the whole library in one read transaction: every project, tag and thing as record
// objects with their permanent identifiers, and every relationship linked at both ends.
// A relationship to a row that does not exist reads as absent.

#include <memory>
#include <vector>

#include "model/PersistentId.h"
#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/UuidIndex.h"

namespace tavro::store {

class Store;

struct LoadedLibrary {
    std::vector<std::unique_ptr<model::Project>> projects;
    std::vector<std::unique_ptr<model::Tag>> tags;
    std::vector<std::unique_ptr<model::Thing>> things;
    // Left unbuilt by the loader; a unit of work builds it when first asked, and it travels
    // with the records from then on.
    UuidIndexes uuids;
};

class RecordLoader {
  public:
    // In a read transaction of its own.
    static LoadedLibrary load(Store& store);
    // In the transaction the caller holds open, with the store's database mutex held.
    static LoadedLibrary loadWithinTransaction(Store& store);
    // Only the records named, in a read transaction of its own, with what their relationships
    // reach: a thing's project and tags, a project's parent, up to the top of the tree. For a
    // reader that needs a few records of a large library (the mirror's push), at the cost of
    // one indexed lookup each. A row that does not exist is left out. The inverse lists (a
    // project's children and things, a tag's things) hold only what was read.
    static LoadedLibrary loadNamed(Store& store, const std::vector<model::PersistentId>& ids);
};

}  // namespace tavro::store
