// SPDX-License-Identifier: MIT
#pragma once
// The library's own error: one field, `message`, which is also its localized description.
// Every message the library raises is defined here once, spelled exactly as users see it.

#include <string>

#include "platform/Error.h"

namespace tavro::platform {

namespace message {
inline constexpr const char* kInvalidBridgeRequest = "Invalid bridge request.";
inline constexpr const char* kNotProvisioned = "This build is not provisioned for iCloud.";
inline constexpr const char* kStoreNotInAppGroup =
    "The iCloud store must be in Tavro\u2019s App Group.";
inline constexpr const char* kSignInToICloud = "Sign in to iCloud in System Settings to sync.";
inline constexpr const char* kStoreOpenElsewhere =
    "The native store is already open at a different location.";
inline constexpr const char* kAnotherAccount =
    "This library belongs to another iCloud account. Sign back into that account to resume "
    "sync.";
inline constexpr const char* kDuplicateIdentifiers =
    "The iCloud library contains duplicate identifiers. Sync paused to preserve your data.";
inline constexpr const char* kInvalidRecordIdentifier = "Invalid record identifier.";
inline constexpr const char* kUnknownRecordType = "Unknown iCloud record type.";
inline constexpr const char* kProjectCycle = "The library contains a project cycle.";
inline constexpr const char* kInvalidAssetPath = "Invalid asset path.";
}  // namespace message

class BridgeError : public Error {
public:
    explicit BridgeError(std::string message);
    const std::string& message() const noexcept { return value()->localizedDescription; }
};

}  // namespace tavro::platform
