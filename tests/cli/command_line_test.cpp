// SPDX-License-Identifier: MIT
// What `tavro` says when it cannot do what it was asked: every failure ends with a status and
// one line "tavro: ..." naming its cause, never with an uncaught exception; a command line it
// does not understand points to --help and ends with status 2. Answers about iCloud
// provisioning stay the library's own and gain a hint about what provisions them here.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/Sandbox.h"
#include "support/TempDir.h"
#include "support/WireCapture.h"

namespace tavro::test {
namespace {

struct Outcome {
    int status = -1;  // -1 when the program did not exit by itself (a signal, an abort)
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class CommandLineTest : public ::testing::Test {
  protected:
    Outcome tavro(const std::string& arguments) {
        std::string command = std::string(TAVRO_CLI_PATH) + " " + arguments + " >" +
                              dir_.file("out") + " 2>" + dir_.file("err") + " </dev/null";
        int status = std::system(command.c_str());
        Outcome run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = slurp(dir_.file("out"));
        run.err = slurp(dir_.file("err"));
        return run;
    }

    std::string request() {
        return dir_.write("request.json", "{\"version\":1,\"storePath\":\"" + sandbox_.storePath() +
                                              "\",\"directory\":\"" + sandbox_.exchangeDirectory() +
                                              "\",\"records\":[]}");
    }

    Sandbox sandbox_{Sandbox::Reach::ChildProcesses};
    TempDir dir_;
};

TEST_F(CommandLineTest, EveryFailureIsOneLineNamingItsCauseAndAStatus) {
    std::string folder = dir_.path();
    std::string missing = dir_.file("missing.json");
    std::string notJson = dir_.write("bad.json", "{\"records\": [");
    std::string notAResponse = dir_.write("object.json", "{}");
    std::string ok = request();
    struct Case {
        std::string arguments;
        int status;
        std::string firstLine;  // the start of the first line on standard error
    };
    const std::vector<Case> cases = {
        {"exchange " + folder, 1, "tavro: " + folder + ": Is a directory"},
        {"exchange " + missing, 1, "tavro: " + missing + ": No such file or directory"},
        {"exchange --known-from " + notJson + " " + ok, 1, "tavro: " + notJson + ": "},
        {"exchange --known-from " + notAResponse + " " + ok, 1, "tavro: " + notAResponse + ": "},
        {"exchange --known-from " + folder + " " + ok, 1, "tavro: " + folder + ": Is a directory"},
        {"--library " + missing + " group-path", 1, "tavro: " + missing + ": "},
        {"frobnicate", 2, "tavro: unknown command 'frobnicate'"},
        {"--frobnicate group-path", 2, "tavro: unknown option '--frobnicate'"},
        {"exchange --frobnicate " + ok, 2, "tavro: unknown option '--frobnicate'"},
        {"exchange", 2, "tavro: "},
        {"exchange --known-from", 2, "tavro: "},
        {"", 2, "tavro: "},
    };
    for (const Case& c : cases) {
        Outcome run = tavro(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
        EXPECT_EQ(run.err.rfind(c.firstLine, 0), 0u) << c.arguments << "\n" << run.err;
        // A usage error points to the help; a failure is the one line alone.
        size_t lines = static_cast<size_t>(std::count(run.err.begin(), run.err.end(), '\n'));
        if (c.status == 2) {
            EXPECT_NE(run.err.find("'tavro --help'"), std::string::npos) << c.arguments;
        } else {
            EXPECT_EQ(lines, 1u) << c.arguments << "\n" << run.err;
        }
    }
}

TEST_F(CommandLineTest, HelpAndVersionAnswerOnStandardOutput) {
    Outcome help = tavro("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* name : {"TAVRO_ENTITLEMENTS", "TAVRO_LIBRARY", "TAVRO_DISABLE_CLOUDKIT",
                             "TAVRO_CLOUDKIT_ENABLED", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                             "cloud-account.json", "share/tavro/tavro.entitlements"}) {
        EXPECT_NE(help.out.find(name), std::string::npos) << name;
    }
    Outcome version = tavro("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tavro ", 0), 0u) << version.out;
}

TEST_F(CommandLineTest, ProvisioningAnswersStayTheLibrarysAndGainAHint) {
    std::filesystem::remove(*sandbox_.env().cloudAccountPath());
    sandbox_.set("TAVRO_DISABLE_CLOUDKIT", "");
    std::string ok = request();
    for (std::string answer : {"This build is not provisioned for iCloud.",
                               "Sign in to iCloud in System Settings to sync."}) {
        Outcome run = tavro("exchange " + ok);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "{\"version\":1,\"error\":\"" + answer + "\"}\n");
        captureWireText(WireText::Answer, run.out.substr(0, run.out.size() - 1));
        EXPECT_EQ(run.err.rfind("tavro: " + answer + "\n", 0), 0u) << run.err;
        std::string hint = run.err.substr(run.err.find('\n') + 1);
        for (const std::string& named :
             {std::string("TAVRO_ENTITLEMENTS"), *sandbox_.env().entitlementsPath(),
              *sandbox_.env().cloudAccountPath()}) {
            EXPECT_NE(hint.find(named), std::string::npos) << answer << ": " << named;
        }
        sandbox_.unset("TAVRO_DISABLE_CLOUDKIT");  // entitled, but nobody is signed in
    }
}

}  // namespace
}  // namespace tavro::test
