#pragma once
// Where a JSON document stops being valid, for the debug description of a parse error. The
// document parser only says what went wrong; a second, streaming pass over the same text finds
// the place. Used only after a parse has failed, so its cost does not matter.

#include <cstddef>
#include <string>

namespace tavro::platform::json {

// `padded` holds the document in its first `length` bytes followed by the parser's padding.
// Returns text such as "at byte 12 (line 2, column 5)", or an empty string when the streaming
// pass finds no fault of its own.
std::string locateParseError(const std::string& padded, size_t length, size_t maxDepth);

}  // namespace tavro::platform::json
