// SPDX-License-Identifier: MIT
#pragma once
// Points in time as seconds since 1970-01-01T00:00:00Z in a double (better than a
// millisecond for any date people save). The exchange carries milliseconds.

#include <cstdint>

namespace tavro::platform {

using Timestamp = double;

// The current time from the system clock.
Timestamp now();

// Exchange milliseconds to seconds: divided by 1000.0, fractions kept (62.5 -> 0.0625).
inline Timestamp fromMilliseconds(double milliseconds) { return milliseconds / 1000.0; }

// Seconds to whole milliseconds: × 1000, rounded half away from zero (0.0625 -> 63,
// -0.0625 -> -63). Values beyond the 64-bit range saturate.
int64_t toMilliseconds(Timestamp seconds);

}  // namespace tavro::platform
