// SPDX-License-Identifier: MIT
#pragma once
// Large buffers filled once per exchange (the response text, the padded copy of the request)
// are fresh memory every time, and touching them page by page costs one fault per 4 KiB: tens
// of thousands of faults for a large library, which virtual machines make expensive. Asking
// for transparent huge pages on such a buffer turns them into one fault per 2 MiB where the
// system allows it (its "madvise" mode); elsewhere the advice is ignored. It changes nothing
// of what the memory holds.

#include <cstddef>

namespace tavro::platform {

// Advises huge pages for the whole 2 MiB blocks inside [begin, begin + bytes).
void adviseLargePages(void* begin, size_t bytes) noexcept;

}  // namespace tavro::platform
