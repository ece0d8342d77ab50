// SPDX-License-Identifier: MIT
// What every Env derives from its variables and executable path (the entitlements file, the
// XDG base folders, the cloud-account file), through a stand-in; and the real one, which must
// read the process afresh at every call.

#include "platform/Env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/CloudAccount.h"
#include "platform/Configuration.h"
#include "platform/Entitlements.h"
#include "support/FakeEnv.h"
#include "support/Provisioning.h"
#include "support/TempDir.h"

namespace tavro::platform {
namespace {

constexpr const char* kGroups = "com.apple.security.application-groups";

TEST(EnvTest, EntitlementsPathPrefersTheVariableThenTheExecutable) {
    test::FakeEnv env;
    EXPECT_FALSE(env.entitlementsPath());  // neither: no entitlements at all

    env.setExecutablePath("/opt/tavro/bin/tavro");
    EXPECT_EQ(env.entitlementsPath(), "/opt/tavro/bin/tavro.entitlements");
    env.set("TAVRO_ENTITLEMENTS", "");  // empty counts as not set
    EXPECT_EQ(env.entitlementsPath(), "/opt/tavro/bin/tavro.entitlements");
    env.set("TAVRO_ENTITLEMENTS", "/etc/tavro/test.plist");
    EXPECT_EQ(env.entitlementsPath(), "/etc/tavro/test.plist");
}

TEST(EnvTest, EntitlementsBesideTheExecutableAreTheProcesss) {
    test::TempDir dir;
    std::ofstream(dir.file("app.entitlements")) << test::entitlementsPlist(
        test::plistKey(kGroups, test::plistStrings({configuration::kAppGroupIdentifier})));
    test::FakeEnv env;
    env.setExecutablePath(dir.file("app"));
    EXPECT_TRUE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env));

    // The variable wins even when the file it names is missing.
    env.set("TAVRO_ENTITLEMENTS", dir.file("missing.plist"));
    EXPECT_FALSE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env));
}

// An installed program's entitlements are data under its prefix; a file beside the program
// and the variable still come first, in that order.
TEST(EnvTest, AnInstalledProgramFindsItsEntitlementsUnderItsPrefixsShareFolder) {
    test::TempDir prefix;
    std::filesystem::create_directories(prefix.file("bin"));
    std::filesystem::create_directories(prefix.file("share/tavro"));
    std::ofstream(prefix.file("share/tavro/app.entitlements")) << test::entitlementsPlist(
        test::plistKey(kGroups, test::plistStrings({configuration::kAppGroupIdentifier})));
    test::FakeEnv env;
    env.setExecutablePath(prefix.file("bin/app"));
    EXPECT_EQ(env.entitlementsPath(), prefix.file("share/tavro/app.entitlements"));
    EXPECT_TRUE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env));
    // Another program of the same prefix does not borrow them.
    env.setExecutablePath(prefix.file("bin/other"));
    EXPECT_EQ(env.entitlementsPath(), prefix.file("bin/other.entitlements"));
    EXPECT_FALSE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env));

    env.setExecutablePath(prefix.file("bin/app"));
    std::ofstream(prefix.file("bin/app.entitlements")) << "not a property list";
    EXPECT_EQ(env.entitlementsPath(), prefix.file("bin/app.entitlements"));
    EXPECT_FALSE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env));
    env.set("TAVRO_ENTITLEMENTS", prefix.file("share/tavro/app.entitlements"));
    EXPECT_TRUE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env));
}

TEST(EnvTest, BaseFoldersFollowTheXdgRules) {
    test::FakeEnv env;
    EXPECT_FALSE(env.dataHome());
    EXPECT_FALSE(env.configHome());
    EXPECT_FALSE(env.cloudAccountPath());

    env.set("HOME", "/home/ada/");
    EXPECT_EQ(env.dataHome(), "/home/ada/.local/share");
    EXPECT_EQ(env.configHome(), "/home/ada/.config");
    EXPECT_EQ(env.cloudAccountPath(), "/home/ada/.config/tavro/cloud-account.json");

    // Relative values are invalid by the XDG rules and ignored, an empty one too.
    env.set("XDG_DATA_HOME", "data").set("XDG_CONFIG_HOME", "");
    EXPECT_EQ(env.dataHome(), "/home/ada/.local/share");
    EXPECT_EQ(env.configHome(), "/home/ada/.config");

    env.set("XDG_DATA_HOME", "/srv/data").set("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(env.dataHome(), "/srv/data");
    EXPECT_EQ(env.cloudAccountPath(), "/srv/config/tavro/cloud-account.json");

    // A relative home would put the folders wherever the process happens to run.
    env.unset("XDG_DATA_HOME").unset("XDG_CONFIG_HOME").set("HOME", "home/ada");
    EXPECT_FALSE(env.dataHome());
    EXPECT_FALSE(env.configHome());
    // Without a config home there is no account file, so nobody is signed in.
    EXPECT_EQ(cloudAccountStatus(env), AccountStatus::NoAccount);
}

// The one place that changes the real environment in-process: this program runs no exchange,
// so no thread of the library is reading the environment meanwhile, and the variable is one
// only this test reads.
TEST(EnvTest, RealEnvReadsTheProcessAfreshEachCall) {
    const char* name = "TAVRO_ENV_TEST_VARIABLE";
    const Env& env = Env::real();
    test::ScopedEnvironment scoped;
    scoped.unset(name);
    EXPECT_FALSE(env.variable(name));
    scoped.set(name, "first");
    EXPECT_EQ(env.variable(name), "first");
    scoped.set(name, "");
    EXPECT_EQ(env.variable(name), "");  // set but empty is not unset

    auto executable = env.executablePath();
    ASSERT_TRUE(executable);
    EXPECT_TRUE(executable->ends_with("/tavro_platform_tests")) << *executable;
    EXPECT_GT(env.now(), 1.5e9);  // seconds since 1970, not some other epoch or unit
}

}  // namespace
}  // namespace tavro::platform
