// SPDX-License-Identifier: MIT
#pragma once
// A unit of work's stored records by identifier, for finding a few records of a large library
// without a walk over all of them (UnitOfWork::findThing and its kind). It keys each record by the
// uuid it is stored with: the unit of work moves a record's entry when a save writes it a new
// uuid, adds what a save inserted and drops what a save removed, so the index always describes
// the stored records. It is built at the first lookup after the library was read, and handed
// on with the records the store keeps for the next unit of work, so that the walk that builds
// it is paid once per reading of the library rather than once per unit.
//
// A uuid may repeat within a store: a key may hold several records.

#include <unordered_map>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "platform/Uuid.h"

namespace tavro::store {

template <typename Record>
class UuidIndex {
  public:
    void add(const platform::Uuid& uuid, Record* record) { records_.emplace(uuid, record); }

    void remove(const platform::Uuid& uuid, const Record* record) {
        auto [first, last] = records_.equal_range(uuid);
        for (auto entry = first; entry != last; ++entry) {
            if (entry->second == record) {
                records_.erase(entry);
                return;
            }
        }
    }

    // The first record under `uuid` that `accepts` takes, or null.
    template <typename Accepts>
    Record* find(const platform::Uuid& uuid, Accepts&& accepts) const {
        auto [first, last] = records_.equal_range(uuid);
        for (auto entry = first; entry != last; ++entry) {
            if (accepts(*entry->second)) {
                return entry->second;
            }
        }
        return nullptr;
    }

  private:
    std::unordered_multimap<platform::Uuid, Record*> records_;
};

struct UuidIndexes {
    bool built = false;
    UuidIndex<model::Thing> things;
    UuidIndex<model::Tag> tags;
    UuidIndex<model::Project> projects;
};

}  // namespace tavro::store
