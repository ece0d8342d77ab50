// SPDX-License-Identifier: MIT
#include "exchange/ReceivedAhead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Paths.h"

namespace tavro::exchange {

ReceivedAhead::ReceivedAhead(platform::FileSystem& fileSystem, std::string receivedPath,
                             HostFileCopies host)
    : fileSystem_(fileSystem), path_(std::move(receivedPath)) {
    if (host.empty()) {
        return;
    }
    struct stat info {};
    const bool existed = ::lstat(path_.c_str(), &info) == 0 || errno != ENOENT;
    try {
        folder_.emplace(fileSystem.openSubfolder(platform::paths::parent(path_), "received"));
    } catch (const std::exception&) {
        return;  // the response meets the same cause and reports it
    }
    madeFolder_ = !existed;
    copies_.folder = &*folder_;
    copies_.namesByDigest = std::move(host);
}

ReceivedAhead::~ReceivedAhead() {
    if (folder_ && !handedOver_) {
        fileSystem_.withdrawCopiesPlacedAhead(*folder_, copies_.prepared);
    }
    copies_.prepared = {};  // removes the files never placed, while the folder is open
    folder_.reset();
    if (madeFolder_ && !handedOver_) {
        ::rmdir(path_.c_str());  // only when empty: never a file of the host's
    }
}

void ReceivedAhead::placeAhead(const std::vector<platform::FileSystem::FileCopy>& handedOver) {
    if (folder_ && copies_.onDisk.await()) {
        fileSystem_.placePreparedCopiesAhead(*folder_, copies_.prepared, handedOver);
    }
}

platform::PreparedCopies& ReceivedAhead::handOver() {
    handedOver_ = true;
    return copies_.prepared;
}

}  // namespace tavro::exchange
