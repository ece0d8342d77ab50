// SPDX-License-Identifier: MIT
#include "platform/Env.h"

#include <sys/stat.h>

#include "platform/Environment.h"
#include "platform/Paths.h"

namespace tavro::platform {

namespace {

// The process itself. Each answer is a fresh system call: a host may change its environment
// or entitlements file between two calls and expects the second to see it.
class RealEnv final : public Env {
  public:
    std::optional<std::string> variable(const char* name) const override {
        return environment::value(name);
    }
    std::optional<std::string> executablePath() const override {
        return environment::executablePath();
    }
    Timestamp now() const override { return platform::now(); }
};

}  // namespace

const Env& Env::real() {
    // Never destroyed: the executor may still ask while the process exits.
    static const Env* instance = new RealEnv();
    return *instance;
}

std::optional<std::string> Env::entitlementsPath() const {
    if (auto configured = variable("TAVRO_ENTITLEMENTS"); configured && !configured->empty()) {
        return configured;
    }
    auto executable = executablePath();
    if (!executable) {
        return std::nullopt;
    }
    std::string beside = *executable + ".entitlements";
    // An installed program keeps its entitlements with the rest of its data, not among the
    // programs: <prefix>/bin/NAME reads <prefix>/share/tavro/NAME.entitlements when nothing
    // lies beside it. A file beside the program (a build tree, or one provisioned by hand)
    // still comes first, and with neither the path beside it is the one named.
    struct stat status {};
    if (::lstat(beside.c_str(), &status) == 0) {
        return beside;
    }
    size_t slash = executable->rfind('/');
    if (slash == std::string::npos) {
        return beside;
    }
    std::string folder = executable->substr(0, slash);
    std::string name = executable->substr(slash + 1);
    size_t parentSlash = folder.rfind('/');
    if (parentSlash == std::string::npos) {
        return beside;
    }
    std::string shared = folder.substr(0, parentSlash) + "/share/tavro/" + name + ".entitlements";
    if (::lstat(shared.c_str(), &status) == 0) {
        return shared;
    }
    return beside;
}

std::optional<std::string> Env::baseFolder(const char* name, const char* underHome) const {
    // The XDG rules say relative values are invalid and must be ignored.
    if (auto configured = variable(name); configured && configured->starts_with('/')) {
        return configured;
    }
    // A relative $HOME would put the folder wherever the process happens to run.
    auto home = variable("HOME");
    if (!home || !home->starts_with('/')) {
        return std::nullopt;
    }
    std::string folder = *home;
    if (!folder.ends_with('/')) {
        folder += '/';
    }
    return folder + underHome;
}

std::optional<std::string> Env::dataHome() const {
    return baseFolder("XDG_DATA_HOME", ".local/share");
}

std::optional<std::string> Env::configHome() const {
    return baseFolder("XDG_CONFIG_HOME", ".config");
}

std::optional<std::string> Env::cloudAccountPath() const {
    auto home = configHome();
    if (!home) {
        return std::nullopt;
    }
    return paths::join(paths::join(*home, "tavro"), "cloud-account.json");
}

}  // namespace tavro::platform
