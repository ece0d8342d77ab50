// SPDX-License-Identifier: MIT
#pragma once
// The application's two provisioning identifiers, fixed at build time (CMake cache variables
// TAVRO_APP_GROUP_IDENTIFIER and TAVRO_ICLOUD_CONTAINER_IDENTIFIER).

namespace tavro::platform::configuration {

inline constexpr const char* kAppGroupIdentifier = TAVRO_APP_GROUP_IDENTIFIER;
inline constexpr const char* kICloudContainerIdentifier = TAVRO_ICLOUD_CONTAINER_IDENTIFIER;

}  // namespace tavro::platform::configuration
