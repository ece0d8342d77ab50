// SPDX-License-Identifier: MIT
#include "support/Sandbox.h"

#include "platform/Configuration.h"
#include "platform/FileSystem.h"

namespace tavro::test {

namespace configuration = platform::configuration;

Sandbox::Sandbox(Reach reach) {
    auto& files = platform::FileSystem::real();
    files.writeFileAtomically(temp_.file("entitlements.plist"),
                              fullEntitlements(configuration::kAppGroupIdentifier,
                                               configuration::kICloudContainerIdentifier));
    files.createDirectories(exchangeDirectory());
    if (reach == Reach::ChildProcesses) {
        exported_.emplace();
    }
    set("TAVRO_ENTITLEMENTS", temp_.file("entitlements.plist"));
    set("XDG_DATA_HOME", temp_.file("data"));
    set("XDG_CONFIG_HOME", temp_.file("config"));
    // The stand-in starts without the availability switches; a child must not inherit the
    // ones the test run itself may have been started with.
    unset("TAVRO_DISABLE_CLOUDKIT");
    unset("TAVRO_CLOUDKIT_ENABLED");
    signIn("_user-one");
}

void Sandbox::set(const std::string& name, const std::string& value) {
    env_.set(name, value);
    if (exported_) {
        exported_->set(name, value);
    }
}

void Sandbox::unset(const std::string& name) {
    env_.unset(name);
    if (exported_) {
        exported_->unset(name);
    }
}

void Sandbox::setAccount(const std::string& json) {
    auto& files = platform::FileSystem::real();
    files.createDirectories(temp_.file("config/tavro"));
    files.writeFileAtomically(temp_.file("config/tavro/cloud-account.json"), json);
}

void Sandbox::signIn(const std::string& userRecordName) {
    setAccount(R"({"status":"available","userRecordName":")" + userRecordName + "\"}");
}

std::string Sandbox::container() const {
    return temp_.file(std::string("data/group-containers/") + configuration::kAppGroupIdentifier);
}

std::string Sandbox::storePath() const {
    return container() + "/Library/Tavro.store";
}

std::string Sandbox::exchangeDirectory() const {
    return temp_.file("exchange");
}

}  // namespace tavro::test
