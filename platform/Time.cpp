// SPDX-License-Identifier: MIT
#include "platform/Time.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace tavro::platform {

Timestamp now() {
    using namespace std::chrono;
    const auto sinceEpoch = system_clock::now().time_since_epoch();
    return duration_cast<duration<double>>(sinceEpoch).count();
}

int64_t toMilliseconds(Timestamp seconds) {
    const double milliseconds = std::round(seconds * 1000.0);  // halves away from zero
    // 2^63 is exactly representable; every double below it converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(milliseconds)) {
        return 0;
    }
    if (milliseconds >= kLimit) {
        return std::numeric_limits<int64_t>::max();
    }
    if (milliseconds < -kLimit) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(milliseconds);
}

}  // namespace tavro::platform
