// SPDX-License-Identifier: MIT
#pragma once
// Everything the library learns from the machine it runs on, behind one interface: the
// process's environment variables, its executable's path and the clock. Entitlements, the data
// and config homes, the cloud-account file and the availability switches are all derived from
// these, the same way for every Env, so that a test can provision a process without touching
// the real environment (which the library's own thread may be reading at the same moment).
//
// Env::real() is the process itself and reads it afresh at every call; nothing is cached.
// Every Env must be safe to call from any thread.

#include <optional>
#include <string>

#include "platform/Time.h"

namespace tavro::platform {

class Env {
  public:
    // The running process: getenv, /proc/self/exe and the system clock. Never destroyed.
    static const Env& real();

    virtual ~Env() = default;

    // The value of `name`, or nothing when it is not set (set but empty is an empty string).
    virtual std::optional<std::string> variable(const char* name) const = 0;
    // The running executable's path, or nothing when it cannot be told.
    virtual std::optional<std::string> executablePath() const = 0;
    // The current time.
    virtual Timestamp now() const = 0;

    // $TAVRO_ENTITLEMENTS when set and not empty, else the executable's path + ".entitlements"
    // when that exists, else <prefix>/share/tavro/NAME.entitlements for an executable
    // <prefix>/bin/NAME when that exists, else the path beside the executable. The only answer
    // that looks at the file system, which it does afresh at every call.
    std::optional<std::string> entitlementsPath() const;
    // $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; nothing without
    // either.
    std::optional<std::string> dataHome() const;
    // $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; nothing without either.
    std::optional<std::string> configHome() const;
    // <config home>/tavro/cloud-account.json.
    std::optional<std::string> cloudAccountPath() const;

  private:
    std::optional<std::string> baseFolder(const char* variable, const char* underHome) const;
};

}  // namespace tavro::platform
