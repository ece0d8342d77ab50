// SPDX-License-Identifier: MIT
#pragma once
// The App Group container: <data home>/group-containers/<identifier>, created with its parents
// on lookup. Answers only when the running process's entitlements list the identifier under
// "com.apple.security.application-groups".

#include <optional>
#include <string>

#include "platform/Env.h"

namespace tavro::platform {

// Nothing when the process is not entitled to the group, when there is no data home, or when
// the folder cannot be created.
std::optional<std::string> appGroupContainerPath(const std::string& identifier,
                                                 const Env& env = Env::real());

// The "Application Support" fallback of the inbox's reading side: <data home>/tavro.
std::optional<std::string> applicationSupportPath(const Env& env = Env::real());

}  // namespace tavro::platform
