// SPDX-License-Identifier: MIT
#pragma once
// A private data home and entitlements file for tests of the inbox: the App Group container
// lies in a fresh temporary folder, and the process is entitled to the group or not.
//
// The inbox sees them only through env(), handed to each call; the process environment is
// never changed, since the library's threads may read it at any moment. A child process is
// told them on its command line.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Configuration.h"
#include "support/FakeEnv.h"

namespace tavro::testing {

class InboxTestEnvironment : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tavro-inbox-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        env_.set("XDG_DATA_HOME", dataHome()).set("TAVRO_ENTITLEMENTS", entitlementsPath());
        entitleToGroup(true);
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // Writes an entitlements file that lists the App Group, or one that lists another group.
    void entitleToGroup(bool entitled) {
        std::ofstream file(entitlementsPath(), std::ios::trunc);
        file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\"><dict>"
                "<key>com.apple.security.application-groups</key><array><string>"
             << (entitled ? platform::configuration::kAppGroupIdentifier : "group.other")
             << "</string></array></dict></plist>\n";
    }

    // The provisioning to hand to the inbox: XDG_DATA_HOME and TAVRO_ENTITLEMENTS naming the
    // folder and file below, and nothing else (no executable path, so no entitlements beside
    // one).
    test::FakeEnv& env() { return env_; }

    std::string dataHome() const { return root_ + "/data"; }
    std::string entitlementsPath() const { return root_ + "/test.entitlements"; }
    std::string containerPath() const {
        return dataHome() + "/group-containers/" + platform::configuration::kAppGroupIdentifier;
    }
    std::string inboxPath() const { return containerPath() + "/SharedInbox"; }
    std::string fallbackInboxPath() const { return dataHome() + "/tavro/SharedInbox"; }

    static std::string readFile(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    static void writeFile(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

  private:
    std::string root_;
    test::FakeEnv env_;
};

}  // namespace tavro::testing
