#pragma once
// The process environment and the XDG base folders the Linux stand-ins live in. Read afresh
// at every call; nothing is cached.

#include <optional>
#include <string>

namespace tavro::platform::environment {

// The value of `name`, or nothing when it is not set (set but empty is an empty string).
std::optional<std::string> value(const char* name);

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; nothing without either.
std::optional<std::string> dataHome();
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; nothing without either.
std::optional<std::string> configHome();

// The running executable's path (/proc/self/exe).
std::optional<std::string> executablePath();

}  // namespace tavro::platform::environment
