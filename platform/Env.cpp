#include "platform/Env.h"

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
    if (auto executable = executablePath()) {
        return *executable + ".entitlements";
    }
    return std::nullopt;
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
