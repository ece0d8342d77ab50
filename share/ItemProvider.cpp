// SPDX-License-Identifier: MIT
#include "share/ItemProvider.h"

#include "platform/TypeIdentifiers.h"

namespace tavro::share {

bool ItemProvider::hasItemConformingToTypeIdentifier(const std::string& typeIdentifier) const {
    for (const std::string& offered : registeredTypeIdentifiers()) {
        if (offered == typeIdentifier || platform::conforms(offered, typeIdentifier))
            return true;
    }
    return false;
}

}  // namespace tavro::share
