// SPDX-License-Identifier: MIT
#include "platform/BackgroundFlush.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

#include "platform/Descriptor.h"

namespace tavro::platform {

namespace {

// Enough to be worth a flush of its own: a flush costs a few milliseconds however little it
// writes, and a batch's files are a few kilobytes to a few megabytes each.
constexpr uint64_t kFlushEvery = 4u << 20;

}  // namespace

BackgroundFlush::~BackgroundFlush() {
    if (running_.valid()) {
        running_.wait();
    }
}

bool BackgroundFlush::flushing() {
    return running_.valid() &&
           running_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void BackgroundFlush::wrote(uint64_t bytes) {
    unflushed_ += bytes;
    if (unflushed_ < kFlushEvery || flushing()) {
        return;
    }
    // A descriptor of its own: one shared with the batch would take the report of a failed
    // write away from the batch's own flush.
    const int fd = ::openat(folderFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    try {
        running_ = std::async(std::launch::async, [fd] {
            Descriptor folder(fd);
            ::syncfs(folder.get());
        });
        unflushed_ = 0;
    } catch (const std::system_error&) {
        ::close(fd);  // no thread to be had: the batch's own flush does all the work
    }
}

}  // namespace tavro::platform
