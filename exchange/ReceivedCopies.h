// SPDX-License-Identifier: MIT
#pragma once
// The files a response hands to its host in the "received" folder: a library's first exchange
// hands over thousands of them, so two threads write them, one of its own and the caller's.
//
// They go in batches of kBatch, each written through temporary files, flushed once and then put
// in place (FileSystem::copyFilesInto). A full batch goes to the writing thread as soon as it is
// added; at finish() the caller's thread writes the batches still waiting, beside the writer. A
// response with fewer copies writes them in one batch at finish(), on the caller's thread, and
// starts no thread. The first failure stops the writing;
// finish() throws it. Files already put in place stay, as they do when a later step of the
// response fails.
//
// Used by one thread (the exchange's). The file system is used by the writing thread between
// the first full batch and finish(), and by both threads at once in finish(): it must allow
// that, as the real one does.

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"

namespace tavro::exchange {

class ReceivedCopies {
  public:
    static constexpr size_t kBatch = 1024;

    ReceivedCopies(platform::FileSystem& fileSystem, const platform::OpenFolder& folder);
    // Stops the writing (no further batch begins) and waits for the thread.
    ~ReceivedCopies();
    ReceivedCopies(const ReceivedCopies&) = delete;
    ReceivedCopies& operator=(const ReceivedCopies&) = delete;

    void add(platform::FileSystem::FileCopy copy);
    // Writes what is left and waits until every file is in place; throws the first failure.
    void finish();

  private:
    using Batch = std::vector<platform::FileSystem::FileCopy>;
    void hand(Batch batch);
    void writeWaiting(bool waitForMore);

    platform::FileSystem& fileSystem_;
    const platform::OpenFolder& folder_;
    Batch filling_;
    std::mutex mutex_;
    std::condition_variable handed_;
    std::deque<Batch> waiting_;   // with mutex_
    bool closed_ = false;         // with mutex_: no batch follows
    std::exception_ptr failure_;  // with mutex_
    std::thread writer_;
};

}  // namespace tavro::exchange
