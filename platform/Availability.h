// SPDX-License-Identifier: MIT
#pragma once
// Whether this process may use the App Group and iCloud sync, from its entitlements and two
// environment variables. Both functions run on any thread, keep no state and never fail.

#include <optional>
#include <string>

#include "platform/Env.h"

namespace tavro::platform {

// The App Group container's path, or nothing when the process may not use the group or the
// container cannot be located.
std::optional<std::string> groupPath(const Env& env = Env::real());

// The decision table: TAVRO_DISABLE_CLOUDKIT present -> false; TAVRO_CLOUDKIT_ENABLED
// upper-cased equal to "NO" -> false; then the App Group, iCloud container and CloudKit
// service entitlements.
bool cloudAvailable(const Env& env = Env::real());

}  // namespace tavro::platform
