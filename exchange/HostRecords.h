// SPDX-License-Identifier: MIT
#pragma once
// Bringing the host's records into the store in one unit of work: load and index, create what
// is missing, apply in request order (newer wins; linked things merged three-way by file
// fingerprints, with a conflict copy when both sides changed the file), delete, refuse a
// project cycle. The caller saves, and rolls back on any failure, so a request is applied
// whole or not at all.

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Uuid.h"

namespace tavro::model {
class Thing;
class Tag;
class Project;
}  // namespace tavro::model

namespace tavro::store {
class UnitOfWork;
}  // namespace tavro::store

namespace tavro::exchange {

using store::UnitOfWork;

class AssetReader;
class ExchangeRequest;

// The exchange's view of the store: every record by identifier, and which things existed
// before this request was applied.
struct ExchangeIndexes {
    std::unordered_map<platform::Uuid, model::Thing*> things;
    std::unordered_map<platform::Uuid, model::Tag*> tags;
    std::unordered_map<platform::Uuid, model::Project*> projects;
    std::unordered_set<platform::Uuid> priorThings;
    // The things that took a content from one of the host's files, as they were applied.
    std::vector<model::Thing*> givenHostFiles;
};

// Loads every record of the unit of work and indexes it; two records of one type with the same
// identifier fail with the duplicates message.
ExchangeIndexes loadIndexes(UnitOfWork& unitOfWork);

// Applies the request's records (create, apply, delete) and checks the project tree. Does not
// save. Throws the exchange's errors; the caller rolls back.
void applyHostRecords(UnitOfWork& unitOfWork, const ExchangeRequest& request, AssetReader& assets,
                      ExchangeIndexes& indexes);

// Fails with "The library contains a project cycle." when following parents from any project
// meets an identifier twice.
void checkProjectCycles(const ExchangeIndexes& indexes);

}  // namespace tavro::exchange
