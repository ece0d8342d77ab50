// SPDX-License-Identifier: MIT
#pragma once
// The "received" files of an exchange's new contents, written by its save.
//
// A first import hands every content it brings back to its host. Written only after the
// commit, those thousands of files would wait for the save, and each content would be read and
// hashed once more. The save reads and checks every new content from the host's file as it
// stores it, and the names of the contents' files in "received" are known before the save: it
// writes them from the same bytes (platform::ExtraCopies), under temporary names, on disk with
// its own files. Those the response hands over under names no file has yet are put in place
// as soon as they are on disk, while the save commits (FileSystem::placePreparedCopiesAhead):
// putting ten thousand files in place takes a fifth of a second, which the host then need not
// wait for. Once the save has committed, the response puts the others in place
// (FileSystem::placePreparedCopies); the rest are removed.
//
// A failed save still hands over no file: what was written is removed, what was put in place
// early is taken back, and so is "received" when it was made here. A folder that cannot be opened,
// or a file that cannot be written, only ends the writing ahead: the response then writes its files
// itself, and reports the cause if it fails too.
//
// Used on the exchange's thread; the save writes into it only while it runs, and placeAhead()
// runs beside the save.

#include <optional>
#include <string>
#include <vector>

#include "exchange/ExchangeResponse.h"
#include "platform/FileSystem.h"

namespace tavro::exchange {

class ReceivedAhead {
  public:
    // Opens the folder `receivedPath` (made when missing) for `host`'s copies.
    ReceivedAhead(platform::FileSystem& fileSystem, std::string receivedPath, HostFileCopies host);
    ~ReceivedAhead();
    ReceivedAhead(const ReceivedAhead&) = delete;
    ReceivedAhead& operator=(const ReceivedAhead&) = delete;

    // The folder written into; nullptr when nothing is written ahead.
    const platform::OpenFolder* folder() const { return folder_ ? &*folder_ : nullptr; }
    // The copies for the save to make; nullptr when none.
    platform::ExtraCopies* copies() { return folder_ ? &copies_ : nullptr; }
    // Beside the save: once the copies are on disk, puts in place those of `handedOver` that
    // take free names. Waits for the save to have written its blobs; never fails.
    void placeAhead(const std::vector<platform::FileSystem::FileCopy>& handedOver);
    // Hands over what the save prepared; the folder stays from here on, whatever happens to
    // the response.
    platform::PreparedCopies& handOver();

  private:
    platform::FileSystem& fileSystem_;
    std::string path_;
    bool madeFolder_ = false;
    bool handedOver_ = false;
    std::optional<platform::OpenFolder> folder_;
    platform::ExtraCopies copies_;
};

}  // namespace tavro::exchange
