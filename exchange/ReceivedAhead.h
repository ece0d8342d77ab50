// SPDX-License-Identifier: MIT
#pragma once
// The "received" files of an exchange's new contents, written while its save runs.
//
// A first import hands every content it brings back to its host. Written only after the
// commit, those thousands of files would wait for the save, and the save's waits for the disk
// would leave a processor idle. The contents that come from the host's own files are known
// before the save, and so are their names in "received": they are written there beside the
// save, on a thread of their own, under temporary names, and flushed to disk. Once the save
// has committed, the response puts in place those it hands over
// (FileSystem::placePreparedCopies); the rest are removed.
//
// A failed save still hands over no file: what was written is removed, and so is "received"
// when it was made here. A folder that cannot be opened, or a file that cannot be written,
// only ends the writing ahead: the response then writes its files itself, and reports the cause
// if it fails too.
//
// Used on the exchange's thread; the thread it starts has ended when handOver() returns or
// this ends.

#include <atomic>
#include <future>
#include <optional>
#include <string>

#include "exchange/ExchangeResponse.h"
#include "platform/FileSystem.h"

namespace tavro::exchange {

class ReceivedAhead {
  public:
    // Starts writing `host`'s copies into the folder `receivedPath` (made when missing).
    ReceivedAhead(platform::FileSystem& fileSystem, std::string receivedPath, HostFileCopies host);
    ~ReceivedAhead();
    ReceivedAhead(const ReceivedAhead&) = delete;
    ReceivedAhead& operator=(const ReceivedAhead&) = delete;

    // The folder written into; nullptr when nothing was written ahead.
    const platform::OpenFolder* folder() const { return folder_ ? &*folder_ : nullptr; }
    // Waits for the writing and hands over what it prepared (nothing when it failed); the
    // folder stays from here on, whatever happens to the response.
    platform::PreparedCopies& handOver();

  private:
    std::string path_;
    bool madeFolder_ = false;
    bool handedOver_ = false;
    std::optional<platform::OpenFolder> folder_;
    HostFileCopies host_;
    std::atomic<bool> stop_{false};
    platform::PreparedCopies prepared_;
    std::future<void> writing_;
};

}  // namespace tavro::exchange
