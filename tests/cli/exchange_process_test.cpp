// SPDX-License-Identifier: MIT
// Whole exchanges through the real library, driven by the real `tavro` program in a child
// process per scenario: the store is opened once per process, so each scenario starts fresh.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "support/ExchangeFixture.h"
#include "support/Sandbox.h"
#include "support/WireCapture.h"

namespace tavro::test {
namespace {

namespace json = platform::json;
namespace fs = std::filesystem;

struct ProcessRun {
    int status = -1;
    std::vector<std::string> lines;  // one response per request
};

class ExchangeProcessTest : public ::testing::Test {
  protected:
    std::string writeRequest(const std::string& name, json::Array records,
                             const std::string& storePath = {}) {
        std::string path = sandbox_.root() + "/" + name;
        platform::FileSystem::real().writeFileAtomically(
            path, json::write(json::Object{
                      {"version", 1},
                      {"storePath", storePath.empty() ? sandbox_.storePath() : storePath},
                      {"directory", sandbox_.exchangeDirectory()},
                      {"records", std::move(records)}}));
        return path;
    }

    ProcessRun tavro(const std::string& arguments) {
        ProcessRun run;
        std::string command = std::string(TAVRO_CLI_PATH) + " " + arguments + " 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        std::string line;
        for (int c; (c = fgetc(pipe)) != EOF;) {
            if (c == '\n') {
                captureWireText(WireText::Answer, line);
                run.lines.push_back(line);
                line.clear();
            } else {
                line.push_back(static_cast<char>(c));
            }
        }
        int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    Sandbox sandbox_{Sandbox::Reach::ChildProcesses};  // the tavro processes read it
};

TEST_F(ExchangeProcessTest, RoundTripThenUnchangedSecondExchangeWritesNothing) {
    std::string data = sandbox_.exchangeDirectory() + "/in/photo.png";
    fs::create_directories(fs::path(data).parent_path());
    platform::FileSystem::real().writeFileAtomically(data, "png bytes");
    std::string first = writeRequest(
        "first.json", {project("10000000-0000-0000-0000-000000000001", {{"name", "Trips"}}),
                       tag("20000000-0000-0000-0000-000000000001", {{"name", "sea"}}),
                       thing("30000000-0000-0000-0000-000000000001",
                             {{"kind", "image"},
                              {"data", data},
                              {"thumbnail", data},
                              {"tags", json::Array{"20000000-0000-0000-0000-000000000001"}},
                              {"project", "10000000-0000-0000-0000-000000000001"}})});
    ProcessRun run = tavro("exchange " + first);
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 1u);
    Parsed response(run.lines[0]);
    EXPECT_EQ(response.records("Thing").size(), 1u);
    std::string received = sandbox_.exchangeDirectory() + "/received";
    EXPECT_TRUE(fs::exists(received + "/30000000-0000-0000-0000-000000000001.thumbnail"));

    platform::FileSystem::real().writeFileAtomically(sandbox_.root() + "/first-response.json",
                                                     run.lines[0]);
    fs::remove_all(received);
    std::string second = writeRequest("second.json", {});
    ProcessRun again =
        tavro("exchange --known-from " + sandbox_.root() + "/first-response.json " + second);
    ASSERT_EQ(again.status, 0);
    EXPECT_TRUE(fs::is_empty(received));
    EXPECT_EQ(Parsed(again.lines[0]).records("Thing").size(), 1u);
}

TEST_F(ExchangeProcessTest, DetourFirstThenPlainFormInOneProcess) {
    std::string detour =
        writeRequest("detour.json", {}, sandbox_.container() + "/Library/../Library/./Tavro.store");
    std::string plain = writeRequest("plain.json", {});
    ProcessRun run = tavro("exchange " + detour + " " + plain);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0].find("\"error\""), std::string::npos);
    EXPECT_EQ(
        run.lines[1],
        R"({"version":1,"error":"The native store is already open at a different location."})");
    EXPECT_EQ(run.status, 1);
}

TEST_F(ExchangeProcessTest, HugeAndDeepRequestsAnswerWithoutCrashing) {
    // About 50 MB of records.
    json::Array records;
    std::string padding(100000, 'x');
    for (int i = 0; i < 500; ++i) {
        char uuid[37];
        std::snprintf(uuid, sizeof uuid, "30000000-0000-0000-0000-%012d", i);
        records.push_back(thing(uuid, {{"content", padding}, {"updatedAt", i}}));
    }
    std::string big = writeRequest("big.json", std::move(records));
    ProcessRun run = tavro("exchange " + big);
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(Parsed(run.lines[0]).records("Thing").size(), 500u);

    std::string deep = sandbox_.root() + "/deep.json";
    platform::FileSystem::real().writeFileAtomically(
        deep, std::string(100000, '[') + std::string(100000, ']'));
    ProcessRun nested = tavro("exchange " + deep);
    EXPECT_EQ(nested.status, 1);
    ASSERT_EQ(nested.lines.size(), 1u);
    EXPECT_EQ(nested.lines[0],
              "{\"version\":1,\"error\":\"The data couldn\u2019t be read because it isn\u2019t in "
              "the correct format.\"}");
}

}  // namespace
}  // namespace tavro::test
