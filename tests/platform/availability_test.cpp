// SPDX-License-Identifier: MIT
// Entitlements file reading, the App Group container and the availability decision, all
// in-process through a stand-in environment (the real one is read by the process tests of the
// bridge, in a child of their own).

#include "platform/Availability.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/AppGroupContainer.h"
#include "platform/Configuration.h"
#include "platform/Entitlements.h"
#include "platform/FileSystem.h"
#include "support/FakeEnv.h"
#include "support/Provisioning.h"
#include "support/TempDir.h"

namespace tavro::platform {
namespace {

using test::entitlementsPlist;
using test::plistKey;
using test::plistString;
using test::plistStrings;

constexpr const char* kGroups = "com.apple.security.application-groups";
constexpr const char* kContainers = "com.apple.developer.icloud-container-identifiers";
constexpr const char* kServices = "com.apple.developer.icloud-services";

class AvailabilityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.path();
        entitlements_ = root_ + "/app.entitlements";
        env_.set("TAVRO_ENTITLEMENTS", entitlements_).set("XDG_DATA_HOME", root_ + "/data");
    }

    void writeFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    void provision(const std::string& members) {
        writeFile(entitlements_, entitlementsPlist(members));
    }
    void provisionFully() {
        provision(plistKey(kGroups, plistStrings({configuration::kAppGroupIdentifier})) +
                  plistKey(kContainers, plistStrings({configuration::kICloudContainerIdentifier})) +
                  plistKey(kServices, plistStrings({"CloudKit"})));
    }

    test::TempDir dir_;
    std::string root_;
    std::string entitlements_;
    test::FakeEnv env_;
};

TEST_F(AvailabilityTest, EntitlementValuesKeepTheirShape) {
    provision(plistKey("single", plistString("one")) + plistKey("list", plistStrings({"a", "b"})) +
              plistKey("empty", "<array/>") +
              plistKey("mixed", "<array><string>a</string><integer>5</integer></array>") +
              plistKey("flag", "<true/>") + plistKey("nested", "<dict/>"));
    auto entitlements = Entitlements::fromFile(entitlements_);
    ASSERT_TRUE(entitlements);

    auto single = entitlements->value("single");
    ASSERT_TRUE(single);
    EXPECT_EQ(single->kind, EntitlementValue::Kind::String);
    EXPECT_EQ(single->string, "one");

    auto list = entitlements->value("list");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->kind, EntitlementValue::Kind::StringArray);
    EXPECT_EQ(list->strings, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(entitlements->value("empty")->kind, EntitlementValue::Kind::StringArray);

    for (const char* other : {"mixed", "flag", "nested"}) {
        auto value = entitlements->value(other);
        ASSERT_TRUE(value) << other;
        EXPECT_EQ(value->kind, EntitlementValue::Kind::Other) << other;
    }
    EXPECT_FALSE(entitlements->value("absent"));
}

TEST_F(AvailabilityTest, UnusableFilesMeanNoEntitlements) {
    EXPECT_FALSE(Entitlements::fromFile(root_ + "/missing.entitlements"));
    EXPECT_FALSE(Entitlements::fromFile(root_));  // a folder
    ASSERT_EQ(::mkfifo((root_ + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(Entitlements::fromFile(root_ + "/fifo"));  // would block a reader forever

    const std::pair<const char*, std::string> unusable[] = {
        {"empty", ""},
        {"truncated", entitlementsPlist(plistKey(kGroups, plistString("x"))).substr(0, 150)},
        {"not xml", "com.apple.security.application-groups = group.app.tavro"},
        {"array at the top",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array>"
         "</plist>"},
        {"string at the top", "<?xml version=\"1.0\"?><plist><string>a</string></plist>"},
    };
    for (const auto& [name, bytes] : unusable) {
        writeFile(entitlements_, bytes);
        EXPECT_FALSE(Entitlements::fromFile(entitlements_)) << name;
        EXPECT_FALSE(hasEntitlement(kGroups, configuration::kAppGroupIdentifier, env_)) << name;
    }
}

TEST_F(AvailabilityTest, HasEntitlementMatchesExactlyAndRereadsTheFile) {
    provision(plistKey(kGroups, plistString("group.app.tavro")) +
              plistKey(kServices, plistStrings({"CloudDocuments", "CloudKit"})) +
              plistKey(kContainers, "<array><string>iCloud.app.tavro</string><true/></array>"));
    EXPECT_TRUE(hasEntitlement(kGroups, "group.app.tavro", env_));
    EXPECT_FALSE(hasEntitlement(kGroups, "group.app.Tavro", env_));
    EXPECT_FALSE(hasEntitlement(kGroups, "group.app.tavro ", env_));
    EXPECT_TRUE(hasEntitlement(kServices, "CloudKit", env_));
    EXPECT_FALSE(hasEntitlement(kServices, "Cloud", env_));
    EXPECT_FALSE(hasEntitlement(kContainers, "iCloud.app.tavro", env_));  // array with a non-string
    EXPECT_FALSE(hasEntitlement("com.example.absent", "group.app.tavro", env_));

    provision(plistKey(kServices, plistString("CloudDocuments")));
    EXPECT_FALSE(hasEntitlement(kServices, "CloudKit", env_));
    EXPECT_FALSE(hasEntitlement(kGroups, "group.app.tavro", env_));
}

TEST_F(AvailabilityTest, DecisionTableFirstMatchingRowDecides) {
    provisionFully();
    EXPECT_TRUE(cloudAvailable(env_));

    for (const char* value : {"", "0", "1", "NO"}) {
        env_.set("TAVRO_DISABLE_CLOUDKIT", value);
        EXPECT_FALSE(cloudAvailable(env_)) << "TAVRO_DISABLE_CLOUDKIT=" << value;
        // The first row decides: no value of the other switch brings sync back.
        env_.set("TAVRO_CLOUDKIT_ENABLED", "yes");
        EXPECT_FALSE(cloudAvailable(env_)) << "TAVRO_DISABLE_CLOUDKIT=" << value;
        env_.unset("TAVRO_DISABLE_CLOUDKIT").unset("TAVRO_CLOUDKIT_ENABLED");
    }
    for (const char* value : {"no", "No", "nO", "NO"}) {
        env_.set("TAVRO_CLOUDKIT_ENABLED", value);
        EXPECT_FALSE(cloudAvailable(env_)) << "TAVRO_CLOUDKIT_ENABLED=" << value;
    }
    for (const char* value : {"0", "false", "", "NO ", " NO", "NOT", "yes", "N"}) {
        env_.set("TAVRO_CLOUDKIT_ENABLED", value);
        EXPECT_TRUE(cloudAvailable(env_)) << "TAVRO_CLOUDKIT_ENABLED=" << value;
    }
    env_.unset("TAVRO_CLOUDKIT_ENABLED");

    // Each entitlement missing in turn.
    std::string group = plistKey(kGroups, plistStrings({configuration::kAppGroupIdentifier}));
    std::string container =
        plistKey(kContainers, plistStrings({configuration::kICloudContainerIdentifier}));
    provision(container + plistKey(kServices, plistStrings({"CloudKit"})));
    EXPECT_FALSE(cloudAvailable(env_));
    provision(group + plistKey(kServices, plistStrings({"CloudKit"})));
    EXPECT_FALSE(cloudAvailable(env_));
    EXPECT_TRUE(groupPath(env_));  // the group alone still gives a container
    provision(group + container);
    EXPECT_FALSE(cloudAvailable(env_));
    provision(group + container + plistKey(kServices, plistString("CloudKit")));
    EXPECT_TRUE(cloudAvailable(env_));
}

TEST_F(AvailabilityTest, GroupContainerIsCreatedUnderTheDataHome) {
    provisionFully();
    auto path = groupPath(env_);
    ASSERT_TRUE(path);
    EXPECT_EQ(*path,
              root_ + "/data/group-containers/" + std::string(configuration::kAppGroupIdentifier));
    EXPECT_TRUE(FileSystem::real().isDirectory(*path));
    EXPECT_EQ(groupPath(env_), path);  // an existing container is fine

    env_.set("XDG_DATA_HOME", root_ + "/data//");
    EXPECT_EQ(groupPath(env_), path);

    EXPECT_EQ(applicationSupportPath(env_), root_ + "/data/tavro");
    EXPECT_FALSE(appGroupContainerPath("group.other", env_));  // not entitled
}

TEST_F(AvailabilityTest, DataHomeFallsBackToHomeAndFailsSoftly) {
    provisionFully();
    env_.set("HOME", root_ + "/home").set("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(groupPath(env_), root_ + "/home/.local/share/group-containers/" +
                                   std::string(configuration::kAppGroupIdentifier));
    env_.unset("XDG_DATA_HOME");
    EXPECT_EQ(applicationSupportPath(env_), root_ + "/home/.local/share/tavro");

    env_.set("HOME", "relative/home");
    EXPECT_FALSE(groupPath(env_));
    env_.unset("HOME");
    EXPECT_FALSE(groupPath(env_));
    EXPECT_FALSE(applicationSupportPath(env_));

    // A data home below a regular file cannot be created, even by root.
    writeFile(root_ + "/plain-file", "x");
    env_.set("XDG_DATA_HOME", root_ + "/plain-file/data");
    EXPECT_FALSE(groupPath(env_));

    // The container's own name taken by a file is not a container either.
    env_.set("XDG_DATA_HOME", root_ + "/data2");
    FileSystem::real().createDirectories(root_ + "/data2/group-containers");
    writeFile(root_ + "/data2/group-containers/" + std::string(configuration::kAppGroupIdentifier),
              "x");
    EXPECT_FALSE(groupPath(env_));
}

}  // namespace
}  // namespace tavro::platform
