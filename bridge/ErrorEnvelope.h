#pragma once
// The error envelope: what the host receives instead of a response when an exchange fails,
// {"version":1,"error":"<description>"}, written compactly.

#include <exception>
#include <string>

#include "platform/Error.h"

namespace tavro::bridge {

// The envelope for `error`, described for the user. Never throws for lack of a description;
// the text is valid UTF-8 (ill-formed bytes in a description become U+FFFD).
std::string errorEnvelope(const platform::ErrorRef& error);

// The envelope for whatever an exchange threw: a platform error keeps its tree for the
// description, anything else is described by its own text.
std::string errorEnvelope(const std::exception& exception);

}  // namespace tavro::bridge
