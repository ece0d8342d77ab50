// SPDX-License-Identifier: MIT
#include "exchange/ReceivedAhead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/Paths.h"
#include "platform/ThreadPriority.h"

namespace tavro::exchange {

ReceivedAhead::ReceivedAhead(platform::FileSystem& fileSystem, std::string receivedPath,
                             HostFileCopies host)
    : path_(std::move(receivedPath)), host_(std::move(host)) {
    if (host_.copies.empty()) {
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
    const std::thread::id caller = std::this_thread::get_id();
    // When no thread is to be had, the writing is deferred to the hand-over, after the commit.
    writing_ = std::async(std::launch::async | std::launch::deferred, [this, &fileSystem, caller] {
        if (std::this_thread::get_id() != caller) {
            platform::giveWayToOtherThreads();  // the save decides when the exchange ends
        }
        try {
            prepared_ = fileSystem.prepareCopiesInto(*folder_, host_.copies, &stop_);
        } catch (...) {
            prepared_ = {};  // the response writes its files itself
        }
    });
}

ReceivedAhead::~ReceivedAhead() {
    stop_ = true;
    if (writing_.valid() && !handedOver_) {
        writing_.wait();  // one deferred to now stops at once
    }
    prepared_ = {};  // removes the files never placed, while the folder is open
    folder_.reset();
    if (madeFolder_ && !handedOver_) {
        ::rmdir(path_.c_str());  // only when empty: never a file of the host's
    }
}

platform::PreparedCopies& ReceivedAhead::handOver() {
    if (writing_.valid()) {
        writing_.get();
    }
    handedOver_ = true;
    host_ = {};
    return prepared_;
}

}  // namespace tavro::exchange
