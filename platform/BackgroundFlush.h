// SPDX-License-Identifier: MIT
#pragma once
// Lets the disk write a batch of new files while the batch is still being written.
//
// A batch of files ends with one flush of their file system before any file takes its final
// name. Left alone, the kernel starts writing them to disk only at that flush, and the writer
// waits there for all of them. Flushing in the background each time a few more megabytes are
// written lets the disk work while the writer goes on, and the batch's own flush then waits for
// the last part only.
//
// A background flush proves nothing and reports nothing: the batch's own flush stays the
// barrier. It is made through a descriptor opened for it, so the kernel still reports a failed
// write to the batch's own flush (it reports each one to every open folder that flushes after
// it). Batches of less than a few megabytes never start one.
//
// Used by one thread; the destructor waits for the flush under way.

#include <cstdint>
#include <future>

namespace tavro::platform {

class BackgroundFlush {
  public:
    // `folderFd` is an open folder on the batch's file system, kept open by the caller for the
    // life of this object; with -1, nothing is flushed.
    explicit BackgroundFlush(int folderFd) : folderFd_(folderFd) {}
    ~BackgroundFlush();
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;

    // After each file: `bytes` more are waiting for the disk.
    void wrote(uint64_t bytes);

  private:
    bool flushing();

    int folderFd_;
    uint64_t unflushed_ = 0;
    std::future<void> running_;
};

}  // namespace tavro::platform
