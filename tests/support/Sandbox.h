#pragma once
// A provisioned machine in a folder: data and config homes, an entitlements file with the App
// Group and iCloud entitlements, and a signed-in cloud account, set in this process's
// environment for the length of the scope (and inherited by child processes).

#include <string>

#include "support/Provisioning.h"
#include "support/TempDir.h"

namespace tavro::test {

class Sandbox {
  public:
    Sandbox();

    // Writes <config home>/tavro/cloud-account.json with these members (raw JSON text).
    void setAccount(const std::string& json);
    void signIn(const std::string& userRecordName);

    const std::string& root() const { return temp_.path(); }
    std::string container() const;  // the App Group container, as the library computes it
    std::string storePath() const;  // <container>/Library/Tavro.store
    std::string exchangeDirectory() const;
    ScopedEnvironment& environment() { return environment_; }

  private:
    TempDir temp_;
    ScopedEnvironment environment_;
};

}  // namespace tavro::test
