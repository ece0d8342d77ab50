// SPDX-License-Identifier: MIT
#include "platform/Environment.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tavro::platform::environment {

std::optional<std::string> value(const char* name) {
    const char* found = std::getenv(name);
    if (found == nullptr) {
        return std::nullopt;
    }
    return std::string(found);
}

std::optional<std::string> executablePath() {
    // readlink does not say how long the target is; grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return std::nullopt;
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace tavro::platform::environment
