// SPDX-License-Identifier: MIT
#pragma once
// The error envelope: what the host receives instead of a response when an exchange fails,
// {"version":1,"error":"<description>"}, written compactly.

#include <exception>
#include <string>

#include "platform/Error.h"

namespace tavro::bridge {

// What the user reads when an exchange ran out of memory, wherever that happened: in the
// library's own code (std::bad_alloc), in the request parser or in SQLite.
inline constexpr const char* kOutOfMemoryDescription =
    "There isn\u2019t enough memory to complete the exchange.";
// What the user reads when an exchange failed in a way nothing describes.
inline constexpr const char* kUnknownFailureDescription =
    "The operation couldn\u2019t be completed.";

// Envelopes written in advance, for when building one is what failed: they need no memory.
inline constexpr const char* kOutOfMemoryEnvelope =
    "{\"version\":1,\"error\":\"There isn\u2019t enough memory to complete the exchange.\"}";
inline constexpr const char* kUnknownFailureEnvelope =
    "{\"version\":1,\"error\":\"The operation couldn\u2019t be completed.\"}";

// The envelope for `error`, described for the user. Never throws for lack of a description;
// the text is valid UTF-8 (ill-formed bytes in a description become U+FFFD). Throws
// std::bad_alloc when the envelope itself cannot be built.
std::string errorEnvelope(const platform::ErrorRef& error);

// The envelope for whatever an exchange threw: running out of memory is said as such, a
// platform error keeps its tree for the description, anything else is described by its own
// text.
std::string errorEnvelope(const std::exception& exception);

}  // namespace tavro::bridge
