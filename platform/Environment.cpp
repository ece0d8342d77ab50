#include "platform/Environment.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tavro::platform::environment {

namespace {

// An XDG base folder: the variable when it holds an absolute path (the XDG rules say relative
// values are invalid and must be ignored), else the given folder under an absolute $HOME.
std::optional<std::string> baseFolder(const char* variable, const char* underHome) {
    if (auto configured = value(variable); configured && configured->starts_with('/')) {
        return configured;
    }
    // A relative $HOME would put the folder wherever the process happens to run.
    auto home = value("HOME");
    if (!home || !home->starts_with('/')) {
        return std::nullopt;
    }
    std::string folder = *home;
    if (!folder.ends_with('/')) {
        folder += '/';
    }
    return folder + underHome;
}

}  // namespace

std::optional<std::string> value(const char* name) {
    const char* found = std::getenv(name);
    if (found == nullptr) {
        return std::nullopt;
    }
    return std::string(found);
}

std::optional<std::string> dataHome() {
    return baseFolder("XDG_DATA_HOME", ".local/share");
}

std::optional<std::string> configHome() {
    return baseFolder("XDG_CONFIG_HOME", ".config");
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
