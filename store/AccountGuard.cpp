#include "store/AccountGuard.h"

#include "platform/BridgeError.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace tavro::store {

void guardAccount(const std::string& userRecordName, std::string_view storePath,
                  platform::FileSystem& fileSystem) {
    std::string folder = platform::paths::parent(platform::paths::absolute(storePath));
    std::string marker = platform::paths::join(folder, kAccountMarkerName);
    fileSystem.createDirectories(folder);
    if (!fileSystem.exists(marker)) {
        fileSystem.writeFileAtomically(marker, userRecordName);
        return;
    }
    std::string recorded = fileSystem.readFile(marker);
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

}  // namespace tavro::store
