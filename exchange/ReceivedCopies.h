// SPDX-License-Identifier: MIT
#pragma once
// The files a response hands to its host in the "received" folder. A library's first exchange
// hands over thousands of them, and one thread would leave a processor idle through their
// creation and through each wait for the disk: from kSharedFrom files on, two threads write
// them, half each.
//
// Each share is written through temporary files, flushed once and then put in place
// (FileSystem::copyFilesInto), so a share lands whole or not at all. Should one share fail, the
// other still lands; the first failure is thrown once both have ended. The file system is used
// by both threads at once: it must allow that, as the real one does.

#include <cstddef>
#include <vector>

#include "platform/FileSystem.h"

namespace tavro::exchange {

inline constexpr size_t kSharedFrom = 256;

// Writes `copies` into `folder` and returns once every file is in place; throws the first
// failure. Called on the exchange's thread; returns only after any thread it started has ended.
void writeReceivedCopies(platform::FileSystem& fileSystem, const platform::OpenFolder& folder,
                         std::vector<platform::FileSystem::FileCopy> copies);

}  // namespace tavro::exchange
