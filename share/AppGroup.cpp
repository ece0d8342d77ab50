// SPDX-License-Identifier: MIT
#include "share/AppGroup.h"

#include "platform/AppGroupContainer.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace tavro::share {

std::string AppGroup::requiredContainerURL(const platform::Env& env) {
    if (auto container = platform::appGroupContainerPath(identifier, env))
        return *container;
    platform::throwError(kErrorDomain, 1, kUnavailableMessage);
}

std::optional<std::string> AppGroup::containerURL(const platform::Env& env) {
    if (auto container = platform::appGroupContainerPath(identifier, env))
        return container;
    auto fallback = platform::applicationSupportPath(env);
    if (!fallback)
        return std::nullopt;
    try {
        // Private to the user, as the App Group container it stands in for.
        platform::FileSystem::real().createDirectories(*fallback,
                                                       platform::Permissions::privateToUser);
    } catch (...) {
        // Reading and removal never fail; a missing folder simply lists nothing.
    }
    return fallback;
}

}  // namespace tavro::share
