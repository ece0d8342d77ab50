// SPDX-License-Identifier: MIT
#pragma once
// Keeps a library with the cloud account it was first synced under. The first exchange on a
// store location writes the signed-in user's record name into "ZuvirevaCloudAccount" beside the
// store file; every later exchange must be signed in as exactly that user (byte for byte), or it
// is refused before the store is opened. The marker is never rewritten or removed.

#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace tavro::exchange {

inline constexpr const char* kAccountMarkerName = "ZuvirevaCloudAccount";

// Throws "This library belongs to another iCloud account. …" for another user, and the file
// system's error when the folder or the marker cannot be created or read (a marker that is not
// a regular file, or holds more than 64 KB, cannot be read). The folder and the marker are
// created private to the user.
void guardAccount(const std::string& userRecordName, std::string_view storePath,
                  platform::FileSystem& fileSystem);

}  // namespace tavro::exchange
