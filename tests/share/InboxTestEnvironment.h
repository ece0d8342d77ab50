#pragma once
// A private data home and entitlements file for tests of the inbox: the App Group container
// lies in a fresh temporary folder, and the process is entitled to the group or not.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/Configuration.h"

namespace tavro::testing {

class InboxTestEnvironment : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tavro-inbox-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        saveVariable("XDG_DATA_HOME", dataHome_);
        saveVariable("TAVRO_ENTITLEMENTS", entitlements_);
        setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
        setenv("TAVRO_ENTITLEMENTS", entitlementsPath().c_str(), 1);
        entitleToGroup(true);
    }

    void TearDown() override {
        restoreVariable("XDG_DATA_HOME", dataHome_);
        restoreVariable("TAVRO_ENTITLEMENTS", entitlements_);
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
    static void saveVariable(const char* name, std::optional<std::string>& slot) {
        if (const char* value = getenv(name))
            slot = value;
    }
    static void restoreVariable(const char* name, const std::optional<std::string>& slot) {
        if (slot) {
            setenv(name, slot->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }

    std::string root_;
    std::optional<std::string> dataHome_;
    std::optional<std::string> entitlements_;
};

}  // namespace tavro::testing
