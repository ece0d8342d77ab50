// SPDX-License-Identifier: MIT
#include "exchange/ConflictCopy.h"

#include "platform/Time.h"
#include "store/UnitOfWork.h"

namespace tavro::exchange {

void preserveConflict(model::Thing& thing, const std::string& fingerprint,
                      std::unordered_map<platform::Uuid, model::Thing*>& things,
                      UnitOfWork& unitOfWork) {
    platform::Uuid identifier = conflictCopyIdentifier(thing.uuid(), fingerprint);
    if (things.count(identifier) != 0) {
        return;  // this conflict has been preserved already
    }
    model::Thing* inserted = unitOfWork.insert(
        model::makeConflictCopy(thing.state(), thing.uuid(), fingerprint, platform::now()));
    inserted->setProject(thing.project());
    inserted->setTags(thing.tags());
    things.emplace(identifier, inserted);
}

}  // namespace tavro::exchange
