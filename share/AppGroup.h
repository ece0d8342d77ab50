// SPDX-License-Identifier: MIT
#pragma once
// The application's App Group: its configuration constants and the two container lookups the
// inbox uses. The writer insists on the real container (an entry written anywhere else would
// never reach the host); the reading side falls back to the user's Application Support folder
// so that listing and removal still work in an unprovisioned build. Both read the provisioning
// through the Env given: the running process's own unless a test stands in for it.

#include <optional>
#include <string>

#include "platform/Configuration.h"
#include "platform/Env.h"

namespace tavro::share {

struct AppGroup {
    static constexpr const char* identifier = platform::configuration::kAppGroupIdentifier;
    static constexpr const char* cloudKitContainer =
        platform::configuration::kICloudContainerIdentifier;
    static constexpr const char* urlScheme = "tavro";

    static constexpr const char* kErrorDomain = "TavroAppGroup";
    static constexpr const char* kUnavailableMessage =
        "Tavro\u2019s shared storage is unavailable. Reinstall the signed Tavro app and try "
        "again.";

    // The App Group container folder. Throws platform::Error (domain "TavroAppGroup", code 1)
    // when the process may not use the group or the container cannot be made.
    static std::string requiredContainerURL(const platform::Env& env = platform::Env::real());

    // The container, or else <data home>/tavro (created when missing, a failure ignored).
    // Nothing only when the process has no data home at all.
    static std::optional<std::string> containerURL(
        const platform::Env& env = platform::Env::real());
};

}  // namespace tavro::share
