// SPDX-License-Identifier: MIT
#pragma once
// A process whose provisioning a test sets directly: environment variables, the executable's
// path and the clock, none of them the real process's. Library calls given a FakeEnv never
// read the real environment, so a test can change what they see while the main executor runs,
// without the data race of setenv against the executor's getenv.
//
// Safe to read from any thread while a test changes it.

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Env.h"

namespace tavro::test {

class FakeEnv final : public platform::Env {
  public:
    // Starts with no variables at all, no executable path and the clock at `now`.
    explicit FakeEnv(platform::Timestamp now = 0) : now_(now) {}

    FakeEnv& set(const std::string& name, const std::string& value);
    FakeEnv& unset(const std::string& name);
    FakeEnv& setExecutablePath(std::optional<std::string> path);
    FakeEnv& setNow(platform::Timestamp now);

    std::optional<std::string> variable(const char* name) const override;
    std::optional<std::string> executablePath() const override;
    platform::Timestamp now() const override;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> variables_;
    std::optional<std::string> executablePath_;
    platform::Timestamp now_;
};

}  // namespace tavro::test
