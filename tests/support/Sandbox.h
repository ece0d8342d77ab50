// SPDX-License-Identifier: MIT
#pragma once
// A provisioned machine in a folder: data and config homes, an entitlements file with the App
// Group and iCloud entitlements, and a signed-in cloud account.
//
// In-process library calls see it through env(), a stand-in for the process environment, so
// the real one is never changed under the main executor. Child processes (tavro, the probe)
// can only learn it from their environment: a sandbox made for them also sets these variables
// in this process's environment for the length of the scope, for the children to inherit. A
// test that makes one must run no exchange in this process meanwhile.

#include <optional>
#include <string>

#include "platform/Env.h"
#include "support/FakeEnv.h"
#include "support/Provisioning.h"
#include "support/TempDir.h"

namespace tavro::test {

class Sandbox {
  public:
    // Who reads the provisioning: library calls in this process given env(), or child
    // processes as well, through the inherited environment.
    enum class Reach { InProcess, ChildProcesses };

    explicit Sandbox(Reach reach = Reach::InProcess);

    // Writes <config home>/tavro/cloud-account.json with these members (raw JSON text).
    void setAccount(const std::string& json);
    void signIn(const std::string& userRecordName);

    // Changes one variable of the provisioned environment (the children's too, if they see it).
    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

    // The environment to hand to library calls in this process.
    const platform::Env& env() const { return env_; }

    const std::string& root() const { return temp_.path(); }
    std::string container() const;  // the App Group container, as the library computes it
    std::string storePath() const;  // <container>/Library/Tavro.store
    std::string exchangeDirectory() const;

  private:
    TempDir temp_;
    FakeEnv env_;
    std::optional<ScopedEnvironment> exported_;  // only for child processes
};

}  // namespace tavro::test
