// SPDX-License-Identifier: MIT
// tavro-share as a program: the scriptable mode's output, statuses and messages, its help,
// and the entitlements file beside it that lets it find its container with no environment.

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "SheetTestSupport.h"
#include "platform/Configuration.h"
#include "share/InboxTestEnvironment.h"
#include "share/ui/ProgramArguments.h"

namespace tavro::share::ui {
namespace {

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string shellQuoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

class ShareProgramTest : public testing::InboxTestEnvironment {
  protected:
    // Runs the program with env()'s provisioning: the two variables are set or removed on the
    // child's command line (through env(1)), everything else it inherits.
    ProgramRun runProgram(const std::vector<std::string>& args, const std::string& input = "") {
        std::string inputPath = dataHome() + "/stdin";
        std::string errorPath = dataHome() + "/stderr";
        writeFile(inputPath, input);
        std::string unsets, assignments;
        for (const char* name : {"XDG_DATA_HOME", "TAVRO_ENTITLEMENTS"}) {
            if (auto value = env().variable(name)) {
                assignments += " " + shellQuoted(std::string(name) + "=" + *value);
            } else {
                unsets += std::string(" -u ") + name;
            }
        }
        std::string command = "env" + unsets + assignments + " " + shellQuoted(TAVRO_SHARE_PROGRAM);
        for (const auto& arg : args)
            command += " " + shellQuoted(arg);
        command += " <" + shellQuoted(inputPath) + " 2>" + shellQuoted(errorPath);
        ProgramRun result;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return result;
        char buffer[4096];
        size_t count;
        while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            result.out.append(buffer, count);
        int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = readFile(errorPath);
        return result;
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);)
            result.push_back(line);
        return result;
    }
};

TEST_F(ShareProgramTest, NoGuiSavesEveryItemAndPrintsUpperCaseIds) {
    std::string file = dataHome() + "/photo.png";
    writeFile(file, "\x89PNG");
    ProgramRun result = runProgram({"--no-gui", "--title", " T ", "--tags", "a, b", "--note", "",
                                    "--text", "--title", "https://example.org", file, "-"},
                                   "from stdin\n");
    ASSERT_EQ(result.status, 0) << result.err;
    auto ids = lines(result.out);
    ASSERT_EQ(ids.size(), 4u);
    auto entries = testing::inboxEntries(env());
    ASSERT_EQ(entries.size(), 4u);
    const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    for (const auto& id : ids) {
        EXPECT_TRUE(std::regex_match(id, canonical)) << id;
        ASSERT_TRUE(entries.count(id)) << id;
        EXPECT_EQ(entries.at(id).tags, (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(entries.at(id).note, "");
    }
    EXPECT_EQ(entries.at(ids[0]).text, "--title");  // the text of --text, not an option
    EXPECT_EQ(entries.at(ids[0]).title, "T");
    EXPECT_FALSE(entries.at(ids[1]).title);
    EXPECT_EQ(entries.at(ids[1]).url, "https://example.org");
    EXPECT_EQ(entries.at(ids[2]).fileName, "photo.png");
    EXPECT_EQ(readFile(inboxPath() + "/" + ids[2] + "/photo.png"), "\x89PNG");
    EXPECT_EQ(entries.at(ids[3]).text, "from stdin");
}

TEST_F(ShareProgramTest, NothingLoadedFailsWithoutWriting) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--no-gui"}, {"--no-gui", "-"}, {"--no-gui", dataHome() + "/missing.txt"}}) {
        ProgramRun result = runProgram(args, " \n");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.ends_with("Nothing tavro can save was shared.\n")) << result.err;
    }
    EXPECT_EQ(testing::entryFolderCount(inboxPath()), 0u);
}

// An item that cannot be read does not stop the others, and is named on standard error.
TEST_F(ShareProgramTest, UnreadItemsAreNamedAndTheRestSaved) {
    ProgramRun result =
        runProgram({"--no-gui", dataHome() + "/missing.png", "https://example.org"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines(result.out).size(), 1u);
    EXPECT_NE(result.err.find("\u201cmissing.png\u201d"), std::string::npos) << result.err;
    EXPECT_EQ(testing::inboxEntries(env()).size(), 1u);
}

TEST_F(ShareProgramTest, FailedWriteIsReported) {
    entitleToGroup(false);
    ProgramRun result = runProgram({"--no-gui", "https://example.org"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "Couldn't save: Tavro\u2019s shared storage is unavailable. Reinstall the signed "
              "Tavro app and try again.\n");
}

TEST_F(ShareProgramTest, UsageErrorsAndHelp) {
    EXPECT_EQ(runProgram({"--no-gui", "--bogus"}).status, 2);
    EXPECT_EQ(runProgram({"--no-gui", "--title"}).status, 2);
    EXPECT_EQ(testing::entryFolderCount(inboxPath()), 0u);
    EXPECT_EQ(runProgram({"--help"}).status, 0);
}

// Qt is handed its own options with their values and nothing of ours: under X11 it would take
// "--title" for the window's title and the form's title would stay empty.
TEST(ProgramArgumentsTest, QtGetsOnlyItsOwnOptionsAndNeverOurs) {
    const std::vector<std::string> ours = {"--title",  "T",      "--tags",    "a",
                                           "--note",   "-name",  "--text",    "-style",
                                           "--no-gui", "-h",     "--help",    "--render-states",
                                           "d",        "-title", "x",         "https://example.org",
                                           "-",        "--",     "-platform", "xcb",
                                           "--reverse"};
    const std::vector<std::string> qts = {"-platform", "offscreen", "--style=Fusion", "-display",
                                          ":1",        "-reverse",  "--name",         "n",
                                          "-geometry", "10x10"};
    // Ours between Qt's options and after them.
    std::vector<std::string> mixed = qts;
    mixed.insert(mixed.begin() + 2, ours.begin(), ours.begin() + 8);
    mixed.insert(mixed.end(), ours.begin() + 8, ours.end());
    ProgramArguments split = splitProgramArguments(mixed);
    EXPECT_EQ(split.program, ours);
    EXPECT_EQ(split.qt, qts);
}

// The build places "tavro-share.entitlements" beside the program, as installing does.
TEST_F(ShareProgramTest, FindsItsContainerThroughTheEntitlementsBesideIt) {
    std::string entitlements = readFile(std::string(TAVRO_SHARE_PROGRAM) + ".entitlements");
    for (const std::string& key : std::vector<std::string>{
             "com.apple.security.app-sandbox", "com.apple.security.application-groups",
             "com.apple.security.files.user-selected.read-only",
             std::string("<string>") + platform::configuration::kAppGroupIdentifier + "</string>"})
        EXPECT_NE(entitlements.find(key), std::string::npos) << key;

    env().unset("TAVRO_ENTITLEMENTS");
    ProgramRun result = runProgram({"--no-gui", "--text", "no environment"});
    ASSERT_EQ(result.status, 0) << result.err;
    env().set("TAVRO_ENTITLEMENTS", entitlementsPath());  // for reading the inbox back here
    EXPECT_EQ(testing::inboxEntries(env()).size(), 1u);
}

}  // namespace
}  // namespace tavro::share::ui
