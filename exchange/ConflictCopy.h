// SPDX-License-Identifier: MIT
#pragma once
// Keeping the store's version of a linked thing whose file both sides changed, as a conflict
// copy (model/ConflictCopy.h) stamped with the time it was kept.

#include <string>
#include <unordered_map>

#include "model/ConflictCopy.h"
#include "platform/Uuid.h"

namespace tavro::model {
class Thing;
}

namespace tavro::store {
class UnitOfWork;
}  // namespace tavro::store

namespace tavro::exchange {

using store::UnitOfWork;

using model::conflictCopyIdentifier;
using model::conflictFileName;
using model::conflictMetadata;
using model::kConflictSuffix;

// Inserts the copy into `unitOfWork` and `things`, unless `things` already holds it.
void preserveConflict(model::Thing& thing, const std::string& fingerprint,
                      std::unordered_map<platform::Uuid, model::Thing*>& things,
                      UnitOfWork& unitOfWork);

}  // namespace tavro::exchange
