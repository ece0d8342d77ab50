// SPDX-License-Identifier: MIT
#include "platform/CloudAccount.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/CloudErrorDescription.h"
#include "platform/FileSystem.h"
#include "support/FakeEnv.h"
#include "support/TempDir.h"

namespace tavro::platform {
namespace {

class CloudAccountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.path();
        env_.set("XDG_CONFIG_HOME", root_);  // a stand-in: the real environment stays as is
    }

    std::string accountFile() const { return root_ + "/tavro/cloud-account.json"; }
    void writeAccount(const std::string& json) {
        FileSystem::real().createDirectories(root_ + "/tavro");
        std::ofstream(accountFile(), std::ios::binary) << json;
    }
    // The user-facing text of what `call` throws, or "" when it does not throw.
    template <typename Call>
    std::string failureOf(Call call) {
        try {
            call();
        } catch (const Error& error) {
            return cloudErrorDescription(error.value());
        }
        return "";
    }

    test::TempDir dir_;
    std::string root_;
    test::FakeEnv env_;
};

TEST_F(CloudAccountTest, ReadsEachOfTheFiveStatusesAfreshEveryCall) {
    EXPECT_EQ(cloudAccountStatus(env_), AccountStatus::NoAccount);  // no file

    const std::pair<const char*, AccountStatus> statuses[] = {
        {"available", AccountStatus::Available},
        {"noAccount", AccountStatus::NoAccount},
        {"restricted", AccountStatus::Restricted},
        {"couldNotDetermine", AccountStatus::CouldNotDetermine},
        {"temporarilyUnavailable", AccountStatus::TemporarilyUnavailable},
    };
    for (const auto& [name, status] : statuses) {
        writeAccount(std::string("{\"status\":\"") + name + "\"}");
        EXPECT_EQ(cloudAccountStatus(env_), status) << name;
    }
}

TEST_F(CloudAccountTest, BadFilesFailWithAFullSentence) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\"status\":", "isn\u2019t in the correct format."},
        {"", "isn\u2019t in the correct format."},
        {"[\"available\"]", "isn\u2019t in the correct format."},
        {"{\"status\":\"Available\"}", "known account status."},
        {"{\"status\":1}", "known account status."},
        {"{}", "known account status."},
    };
    for (const auto& [json, ending] : cases) {
        writeAccount(json);
        std::string failure = failureOf([this] { cloudAccountStatus(env_); });
        EXPECT_TRUE(failure.starts_with("The cloud account file ")) << json << ": " << failure;
        EXPECT_TRUE(failure.ends_with(ending)) << json << ": " << failure;
    }

    // A folder where the file should be cannot be read.
    FileSystem::real().removeAll(accountFile());
    FileSystem::real().createDirectories(accountFile());
    EXPECT_EQ(failureOf([this] { cloudAccountStatus(env_); }),
              "The cloud account file couldn\u2019t be read.");
}

TEST_F(CloudAccountTest, UserRecordNameMustBeText) {
    writeAccount(R"({"status":"available","userRecordName":"_a1b2c3"})");
    EXPECT_EQ(cloudUserRecordName(env_), "_a1b2c3");

    // Of duplicate members the last counts, as everywhere in our JSON.
    writeAccount(R"({"status":"available","userRecordName":"_old","userRecordName":"_new"})");
    EXPECT_EQ(cloudUserRecordName(env_), "_new");

    for (const char* json :
         {R"({"status":"available"})", R"({"status":"available","userRecordName":42})",
          R"({"status":"available","userRecordName":null})",
          R"({"status":"available","userRecordName":""})"}) {
        writeAccount(json);
        EXPECT_EQ(cloudAccountStatus(env_), AccountStatus::Available);
        std::string failure = failureOf([this] { cloudUserRecordName(env_); });
        EXPECT_TRUE(failure.starts_with("The cloud account file ")) << json << ": " << failure;
        EXPECT_TRUE(failure.ends_with(".")) << failure;
    }
    FileSystem::real().removeAll(accountFile());
    EXPECT_FALSE(failureOf([this] { cloudUserRecordName(env_); }).empty());
}

}  // namespace
}  // namespace tavro::platform
