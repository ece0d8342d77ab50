// SPDX-License-Identifier: MIT
#include "exchange/AccountGuard.h"

#include "platform/BridgeError.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace tavro::exchange {

namespace {

// Cocoa's code for a file too large to be read.
constexpr int64_t kFileReadTooLarge = 263;

// A user record name is a few dozen bytes; the bound keeps a marker replaced by something huge
// (a link to an endless device is refused as not a regular file) from filling memory.
constexpr size_t kMaximumMarkerBytes = 64 * 1024;

std::string readMarker(const std::string& marker, platform::FileSystem& fileSystem) {
    std::string recorded;
    fileSystem.readChunks(marker, [&](std::string_view chunk) {
        if (recorded.size() + chunk.size() > kMaximumMarkerBytes) {
            platform::throwError(platform::kCocoaErrorDomain, kFileReadTooLarge,
                                 std::string("The file \u201c") + kAccountMarkerName +
                                     "\u201d is too large to be an iCloud account marker: it "
                                     "holds more than 64 KB, and it should hold only the name "
                                     "of the account\u2019s user record.",
                                 marker);
        }
        recorded.append(chunk);
    });
    return recorded;
}

}  // namespace

void guardAccount(const std::string& userRecordName, std::string_view storePath,
                  platform::FileSystem& fileSystem) {
    std::string folder = platform::paths::parent(platform::paths::absolute(storePath));
    std::string marker = platform::paths::join(folder, kAccountMarkerName);
    fileSystem.createDirectories(folder);
    if (!fileSystem.exists(marker)) {
        fileSystem.writeFileAtomically(marker, userRecordName);
        return;
    }
    std::string recorded = readMarker(marker, fileSystem);
    if (!platform::text::isWellFormedUtf8(recorded)) {
        platform::throwError(platform::kCocoaErrorDomain, 261,
                             std::string("The file \u201c") + kAccountMarkerName +
                                 "\u201d couldn\u2019t be opened using text encoding Unicode "
                                 "(UTF-8).",
                             marker);
    }
    if (recorded != userRecordName) {
        throw platform::BridgeError(platform::message::kAnotherAccount);
    }
}

}  // namespace tavro::exchange
