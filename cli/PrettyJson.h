// SPDX-License-Identifier: MIT
#pragma once
// Indented JSON for people reading a response in a terminal (two spaces a level, keys in the
// order given), written by the library's one writer in its indented form.

#include <string>
#include <string_view>

namespace tavro::cli {

// Throws the JSON parser's error when `compact` is not JSON.
std::string prettyJson(std::string_view compact);

}  // namespace tavro::cli
