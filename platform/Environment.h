// SPDX-License-Identifier: MIT
#pragma once
// The running process's own environment: what Env::real() answers with. Read afresh at every
// call; nothing is cached. The rest of the library asks an Env (platform/Env.h), never these.

#include <optional>
#include <string>

namespace tavro::platform::environment {

// The value of `name`, or nothing when it is not set (set but empty is an empty string).
std::optional<std::string> value(const char* name);

// The running executable's path (/proc/self/exe).
std::optional<std::string> executablePath();

}  // namespace tavro::platform::environment
