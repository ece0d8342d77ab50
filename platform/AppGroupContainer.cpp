// SPDX-License-Identifier: MIT
#include "platform/AppGroupContainer.h"

#include "platform/Entitlements.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace tavro::platform {

namespace {

constexpr const char* kApplicationGroupsKey = "com.apple.security.application-groups";

}  // namespace

std::optional<std::string> appGroupContainerPath(const std::string& identifier, const Env& env) {
    // An identifier that is not one plain folder name could lead the lookup out of the
    // containers folder.
    if (identifier.empty() || identifier == "." || identifier == ".." ||
        identifier.find('/') != std::string::npos) {
        return std::nullopt;
    }
    if (!hasEntitlement(kApplicationGroupsKey, identifier, env)) {
        return std::nullopt;
    }
    auto home = env.dataHome();
    if (!home) {
        return std::nullopt;
    }
    std::string container =
        paths::join(paths::join(paths::normalize(*home), "group-containers"), identifier);
    try {
        FileSystem& files = FileSystem::real();
        // Private to the user, like everything made inside it: it holds the user's library.
        files.createDirectories(container, Permissions::privateToUser);
        // One made by an earlier version may still be readable by others.
        makeOwnFolderPrivate(container);
        if (!files.isDirectory(container)) {
            return std::nullopt;
        }
    } catch (const std::exception&) {
        // The lookup reports a folder it cannot provide as no container at all.
        return std::nullopt;
    }
    return container;
}

std::optional<std::string> applicationSupportPath(const Env& env) {
    auto home = env.dataHome();
    if (!home) {
        return std::nullopt;
    }
    return paths::join(paths::normalize(*home), "tavro");
}

}  // namespace tavro::platform
