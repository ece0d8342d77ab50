// SPDX-License-Identifier: MIT
// `tavro sync` refuses, in one line and a status, what it cannot sync: a command line it does
// not understand (status 2), a file that is no exchange request, an account without a sync
// server, and a library the library's own guard refuses (another account's). A sync round
// against a real server is shown by scripts/demo --sync.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/Sandbox.h"
#include "support/TempDir.h"

namespace tavro::test {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class SyncCommandTest : public ::testing::Test {
  protected:
    Outcome tavro(const std::string& arguments) {
        std::string command = std::string(TAVRO_CLI_PATH) + " " + arguments + " >" +
                              dir_.file("out") + " 2>" + dir_.file("err") + " </dev/null";
        int status = std::system(command.c_str());
        auto slurp = [](const std::string& path) {
            std::ifstream file(path);
            std::stringstream text;
            text << file.rdbuf();
            return text.str();
        };
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_.file("out")),
                slurp(dir_.file("err"))};
    }

    std::string request() {
        return dir_.write("request.json", "{\"version\":1,\"storePath\":\"" + sandbox_.storePath() +
                                              "\",\"directory\":\"" + sandbox_.exchangeDirectory() +
                                              "\",\"records\":[]}");
    }

    Sandbox sandbox_{Sandbox::Reach::ChildProcesses};
    TempDir dir_;
};

TEST_F(SyncCommandTest, ACommandLineItDoesNotUnderstandEndsWithStatusTwo) {
    std::string ok = request();
    for (const std::string& arguments :
         {std::string("sync"), "sync --frobnicate " + ok, "sync " + ok + " " + ok}) {
        Outcome run = tavro(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.err.rfind("tavro: ", 0), 0u) << arguments << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << arguments;
    }
}

TEST_F(SyncCommandTest, AFileThatIsNoRequestIsNamed) {
    std::string object = dir_.write("object.json", "{\"records\":[]}");
    Outcome run = tavro("sync " + object);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tavro: " + object + ": not an exchange request (it has no \"storePath\")\n");
}

TEST_F(SyncCommandTest, AnAccountWithoutASyncServerHasNothingToSyncWith) {
    Outcome run = tavro("sync " + request());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no sync server is signed in"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(sandbox_.storePath()));
}

TEST_F(SyncCommandTest, ALibraryOfAnotherAccountIsNotSynced) {
    std::string ok = request();
    std::filesystem::create_directories(std::filesystem::path(sandbox_.storePath()).parent_path());
    std::ofstream(std::filesystem::path(sandbox_.storePath()).parent_path() /
                  "ZuvirevaCloudAccount")
        << "_someone_else";
    sandbox_.setAccount(
        R"({"status":"available","userRecordName":"_me","service":"dbname=nowhere"})");
    Outcome run = tavro("sync " + ok);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("tavro: This library belongs to another iCloud account"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(sandbox_.storePath()));
}

}  // namespace
}  // namespace tavro::test
