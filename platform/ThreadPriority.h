// SPDX-License-Identifier: MIT
#pragma once
// A thread that works beside a more pressing one gives way to it. With fewer processors than
// busy threads, the scheduler shares them evenly, and the thread whose end everything waits for
// would be slowed by one whose result is needed only after it.

namespace tavro::platform {

// Lowers the calling thread's scheduling priority for the rest of its life. Only for a thread
// the library starts for one task and ends after it. A refusal is ignored: the work is the same,
// only its order on a busy machine changes. Any thread.
void giveWayToOtherThreads() noexcept;

}  // namespace tavro::platform
