#include "platform/Availability.h"

#include "platform/AppGroupContainer.h"
#include "platform/Configuration.h"
#include "platform/Entitlements.h"
#include "platform/Environment.h"
#include "platform/Text.h"

namespace tavro::platform {

namespace {

constexpr const char* kApplicationGroupsKey = "com.apple.security.application-groups";
constexpr const char* kICloudContainersKey = "com.apple.developer.icloud-container-identifiers";
constexpr const char* kICloudServicesKey = "com.apple.developer.icloud-services";

// Any value at all switches sync off, the empty string included.
bool disabledByEnvironment() {
    if (environment::value("TAVRO_DISABLE_CLOUDKIT")) {
        return true;
    }
    auto enabled = environment::value("TAVRO_CLOUDKIT_ENABLED");
    if (!enabled) {
        return false;
    }
    // Only "no" in any case switches sync off; "0", "false" or "NO " leave it to the
    // entitlements. The value is taken as text first, as the environment is UTF-8 by contract.
    return text::uppercased(text::replaceIllFormedUtf8(*enabled)) == "NO";
}

}  // namespace

std::optional<std::string> groupPath() {
    try {
        return appGroupContainerPath(configuration::kAppGroupIdentifier);
    } catch (const std::exception&) {
        return std::nullopt;  // only memory exhaustion gets here; still no answer, no failure
    }
}

namespace {

bool decideCloudAvailable() {
    if (disabledByEnvironment()) {
        return false;
    }
    if (!hasEntitlement(kApplicationGroupsKey, configuration::kAppGroupIdentifier)) {
        return false;
    }
    if (!hasEntitlement(kICloudContainersKey, configuration::kICloudContainerIdentifier)) {
        return false;
    }
    return hasEntitlement(kICloudServicesKey, "CloudKit");
}

}  // namespace

bool cloudAvailable() {
    try {
        return decideCloudAvailable();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tavro::platform
