// SPDX-License-Identifier: MIT
#include "platform/Availability.h"

#include "platform/AppGroupContainer.h"
#include "platform/Configuration.h"
#include "platform/Entitlements.h"
#include "platform/Text.h"

namespace tavro::platform {

namespace {

constexpr const char* kApplicationGroupsKey = "com.apple.security.application-groups";
constexpr const char* kICloudContainersKey = "com.apple.developer.icloud-container-identifiers";
constexpr const char* kICloudServicesKey = "com.apple.developer.icloud-services";

// Any value at all switches sync off, the empty string included.
bool disabledByEnvironment(const Env& env) {
    if (env.variable("TAVRO_DISABLE_CLOUDKIT")) {
        return true;
    }
    auto enabled = env.variable("TAVRO_CLOUDKIT_ENABLED");
    if (!enabled) {
        return false;
    }
    // Only "no" in any case switches sync off; "0", "false" or "NO " leave it to the
    // entitlements. The value is taken as text first, as the environment is UTF-8 by contract.
    return text::uppercased(text::replaceIllFormedUtf8(*enabled)) == "NO";
}

}  // namespace

std::optional<std::string> groupPath(const Env& env) {
    try {
        return appGroupContainerPath(configuration::kAppGroupIdentifier, env);
    } catch (const std::exception&) {
        return std::nullopt;  // only memory exhaustion gets here; still no answer, no failure
    }
}

namespace {

bool decideCloudAvailable(const Env& env) {
    if (disabledByEnvironment(env)) {
        return false;
    }
    if (!hasEntitlement(kApplicationGroupsKey, configuration::kAppGroupIdentifier, env)) {
        return false;
    }
    if (!hasEntitlement(kICloudContainersKey, configuration::kICloudContainerIdentifier, env)) {
        return false;
    }
    return hasEntitlement(kICloudServicesKey, "CloudKit", env);
}

}  // namespace

bool cloudAvailable(const Env& env) {
    try {
        return decideCloudAvailable(env);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tavro::platform
