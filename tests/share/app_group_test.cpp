// SPDX-License-Identifier: MIT
// The share target's two container lookups, given a stand-in environment: the writer's, which
// insists on the App Group, and the reader's, which falls back to <data home>/tavro.

#include "share/AppGroup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/Error.h"
#include "support/FakeEnv.h"
#include "support/Provisioning.h"
#include "support/TempDir.h"

namespace tavro::share {
namespace {

constexpr const char* kGroups = "com.apple.security.application-groups";

class AppGroupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.set("TAVRO_ENTITLEMENTS", dir_.file("app.entitlements"))
            .set("XDG_DATA_HOME", dir_.file("data"));
    }
    void entitleTo(const std::string& group) {
        std::ofstream(dir_.file("app.entitlements"))
            << test::entitlementsPlist(test::plistKey(kGroups, test::plistStrings({group})));
    }
    std::string container() const {
        return dir_.file(std::string("data/group-containers/") + AppGroup::identifier);
    }

    test::TempDir dir_;
    test::FakeEnv env_;
};

TEST_F(AppGroupTest, EntitledProcessGetsTheContainerFromBoth) {
    entitleTo(AppGroup::identifier);
    EXPECT_EQ(AppGroup::requiredContainerURL(env_), container());
    EXPECT_EQ(AppGroup::containerURL(env_), container());
}

TEST_F(AppGroupTest, WriterRefusesAndReaderFallsBackWithoutTheGroup) {
    entitleTo("group.other");
    try {
        AppGroup::requiredContainerURL(env_);
        ADD_FAILURE() << "an unentitled process got a container";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.value()->domain, AppGroup::kErrorDomain);
        EXPECT_EQ(error.value()->code, 1);
        EXPECT_EQ(error.value()->localizedDescription, AppGroup::kUnavailableMessage);
    }
    const std::string fallback = dir_.file("data/tavro");
    EXPECT_EQ(AppGroup::containerURL(env_), fallback);
    struct stat info {};
    ASSERT_EQ(::stat(fallback.c_str(), &info), 0);  // made, and private like the container
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // No data home at all: nowhere to fall back to.
    env_.unset("XDG_DATA_HOME");
    EXPECT_FALSE(AppGroup::containerURL(env_));
}

}  // namespace
}  // namespace tavro::share
