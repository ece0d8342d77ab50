// SPDX-License-Identifier: MIT
#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tavro::platform {

namespace {
// Nice values run from -20 to 19; ten steps gives the other threads most of a shared processor
// while this one still advances.
constexpr int kSteps = 10;
constexpr int kLowest = 19;
}  // namespace

void giveWayToOtherThreads() noexcept {
    // On Linux a nice value belongs to the thread, named by its thread identifier.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, thread, std::min(now + kSteps, kLowest));
    }
}

}  // namespace tavro::platform
