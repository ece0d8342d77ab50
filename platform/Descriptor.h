// SPDX-License-Identifier: MIT
#pragma once
// An open file descriptor owned by one scope: closed when the scope ends, whatever path leaves
// it. Not copyable.

#include <unistd.h>

namespace tavro::platform {

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing is where some file systems report a failed write, so it is checked.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

}  // namespace tavro::platform
