// SPDX-License-Identifier: MIT
// The wire-format check: the JSON Schemas of docs/schema and the script that holds every
// exchange text the tests produce against them. A check that passes everything is worse than
// none, so these tests feed it real texts and texts one step off the format.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/ExchangeFixture.h"
#include "support/TempDir.h"
#include "support/WireCapture.h"

namespace tavro::test {
namespace {

namespace json = platform::json;
namespace fs = std::filesystem;

struct CheckRun {
    int status = -1;
    std::string output;
};

// Runs the check on a folder holding exactly the given files.
CheckRun check(const std::vector<std::pair<std::string, std::string>>& files) {
    TempDir folder;
    for (const auto& [name, text] : files) {
        std::ofstream(folder.file(name), std::ios::binary) << text;
    }
    std::string command = std::string(TAVRO_PYTHON) + " " + TAVRO_WIRE_CHECKER + " " +
                          TAVRO_SCHEMA_DIR + " " + folder.path() + " 2>&1";
    CheckRun run;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; (c = fgetc(pipe)) != EOF;) {
        run.output.push_back(static_cast<char>(c));
    }
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Replaces the first `from` in `text`; fails the test when there is none.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from << " not in " << text;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

constexpr const char* kProject = "10000000-0000-0000-0000-00000000000a";
constexpr const char* kChild = "10000000-0000-0000-0000-00000000000b";
constexpr const char* kTag = "20000000-0000-0000-0000-00000000000a";
constexpr const char* kThing = "30000000-0000-0000-0000-00000000000a";

class WireSchemaTest : public ExchangeFixture {
  protected:
    // A response with every optional key present somewhere: parent, project, tags, trashedAt,
    // all three assets, lastSync.
    std::string fullResponse() {
        sync_.lastSync = 1733650010.5;
        std::string file = writeAsset("in/harbour.png", "png bytes");
        return exchange({project(kProject, {{"name", "Trips"}}),
                         project(kChild, {{"parent", kProject}}), tag(kTag, {{"name", "sea"}}),
                         thing(kThing, {{"kind", "image"},
                                        {"data", file},
                                        {"thumbnail", file},
                                        {"icon", file},
                                        {"tags", json::Array{kTag}},
                                        {"project", kChild},
                                        {"trashedAt", 1733650000000},
                                        {"aspectRatio", 1.5},
                                        {"updatedAt", 1733650010000}})})
            ->text();
    }
};

TEST_F(WireSchemaTest, RealTextsPass) {
    std::string response = fullResponse();
    CheckRun run = check({{"response-full.json", response},
                          {"answer-full.json", response},
                          {"response-empty-store.json", R"({"version":1,"directory":"d",)"
                                                        R"("records":[],"status":"Off"})"},
                          {"envelope-one.json", R"({"version":1,"error":"Invalid asset path."})"},
                          {"answer-envelope.json", R"({"error":"No.","version":1})"}});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("5 of 5"), std::string::npos) << run.output;
}

TEST_F(WireSchemaTest, ResponsesOffTheFormatFail) {
    const std::string response = fullResponse();
    const std::string upper = "30000000-0000-0000-0000-00000000000A";
    const std::string fingerprint = "\"fingerprint\":\"";
    for (const auto& [what, text] : std::vector<std::pair<std::string, std::string>>{
             {"upper-case identifier", replaced(response, kThing, upper)},
             {"upper-case tag", replaced(response, "\"tags\":[\"" + std::string(kTag),
                                         "\"tags\":[\"20000000-0000-0000-0000-00000000000A")},
             {"short digest", replaced(response, fingerprint, fingerprint + "0")},
             {"fractional time", replaced(response, "\"updatedAt\":1733650010000",
                                          "\"updatedAt\":1733650010000.5")},
             {"time as text", replaced(response, "\"trashedAt\":1733650000000",
                                       "\"trashedAt\":\"1733650000000\"")},
             {"null parent", replaced(response, "\"parent\":\"", "\"parent\":null,\"x\":\"")},
             {"error member", replaced(response, "{\"version\":1", "{\"error\":\"\",\"version\":1")},
             {"no status", replaced(response, "\"status\":", "\"state\":")},
             {"missing fingerprint", replaced(response, fingerprint, "\"fingerprint2\":\"")},
             {"asset outside received", replaced(response, "\\/received\\/", "\\/elsewhere\\/")},
             {"unknown record type", replaced(response, "\"Tag\"", "\"tag\"")},
             {"starred as a number", replaced(response, "\"isStarred\":false", "\"isStarred\":0")},
         }) {
        CheckRun run = check({{"response-bad.json", text}});
        EXPECT_EQ(run.status, 1) << what << ": " << run.output;
        EXPECT_NE(run.output.find("response-bad.json: not a valid response"), std::string::npos)
            << what << ": " << run.output;
        // An answer carrying an "error" member is held against the envelope schema instead.
        CheckRun asAnswer = check({{"answer-bad.json", text}});
        EXPECT_EQ(asAnswer.status, 1) << what << ": " << asAnswer.output;
    }
}

TEST(WireSchema, EnvelopesOffTheFormatFail) {
    for (const char* text : {R"({"version":1,"error":"Two\nlines."})",
                             R"({"version":1,"error":""})", R"({"error":"No version."})",
                             R"({"version":2,"error":"Wrong version."})",
                             R"({"version":1,"error":"Extra.","status":"x"})",
                             R"({"version":1,"error":["Not text."]})", "not json"}) {
        CheckRun run = check({{"envelope-bad.json", text}});
        EXPECT_EQ(run.status, 1) << text << ": " << run.output;
        EXPECT_NE(run.output.find("envelope-bad.json: not"), std::string::npos) << run.output;
    }
}

// The request schema describes what the reader accepts: as tolerant where the reader is, and
// refusing exactly what makes the reader refuse the request.
TEST_F(WireSchemaTest, RequestSchemaAcceptsWhatTheReaderAcceptsAndRefusesTheRest) {
    exchange({project("10000000-0000-0000-0000-0000000000AA", {{"name", 5}, {"sortOrder", 1.0}}),
              tag(kTag, {{"createdAt", "yesterday"}}),
              thing(kThing, {{"tags", "sea"},
                             {"isStarred", 1},
                             {"updatedAt", 62.5},
                             {"project", 7},
                             {"trashedAt", nullptr}}),
              deleted("Thing", "30000000-0000-0000-0000-0000000000FF")},
             json::Object{{"Thing:x", 3}});
    const std::string accepted = lastRequest_;
    EXPECT_EQ(check({{"request-tolerated.json", accepted}}).status, 0);

    for (const auto& [what, text] : std::vector<std::pair<std::string, std::string>>{
             {"version 2", replaced(accepted, "\"version\":1", "\"version\":2")},
             {"version as text", replaced(accepted, "\"version\":1", "\"version\":\"1\"")},
             {"no directory", replaced(accepted, "\"directory\"", "\"folder\"")},
             {"bad identifier", replaced(accepted, kTag, "20000000-0000-0000-0000-00000000000")},
             {"braced identifier", replaced(accepted, kTag, "{20000000-0000-0000-0000-0000000000}")},
             {"record type in lower case", replaced(accepted, "\"Tag\"", "\"tag\"")},
             {"record that is not an object", replaced(accepted, "\"records\":[", "\"records\":[1,")},
         }) {
        CheckRun run = check({{"request-bad.json", text}});
        EXPECT_EQ(run.status, 1) << what << ": " << run.output;
        // Handed over as refused, the same text passes: the schema agrees with the reader.
        EXPECT_EQ(check({{"refused-request-bad.json", text}}).status, 0) << what;
    }
    CheckRun wronglyRefused = check({{"refused-request-ok.json", accepted}});
    EXPECT_EQ(wronglyRefused.status, 1);
    EXPECT_NE(wronglyRefused.output.find("the request schema accepts it"), std::string::npos)
        << wronglyRefused.output;
}

TEST(WireSchema, ACheckThatSawNothingFails) {
    CheckRun run = check({});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("nothing was checked"), std::string::npos) << run.output;
    CheckRun unnamed = check({{"mystery.json", "{}"}});
    EXPECT_EQ(unnamed.status, 1);
    EXPECT_NE(unnamed.output.find("not named after a kind"), std::string::npos) << unnamed.output;
}

TEST(WireCapture, WritesOneFilePerTextOnlyWhenAFolderIsNamed) {
    TempDir folder;
    ::unsetenv("TAVRO_WIRE_CAPTURE_DIR");
    captureWireText(WireText::Response, "{}");
    EXPECT_TRUE(fs::is_empty(folder.path()));

    ::setenv("TAVRO_WIRE_CAPTURE_DIR", folder.path().c_str(), 1);
    captureWireText(WireText::RefusedRequest, "[]");
    captureWireText(WireText::RefusedRequest, "{}");
    captureWireText(WireText::Answer, "{\"version\":1,\"error\":\"x\"}");
    ::unsetenv("TAVRO_WIRE_CAPTURE_DIR");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        names.push_back(entry.path().filename().string());
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_FALSE(text.str().empty()) << names.back();
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].rfind("answer-WireCapture.WritesOneFilePerTextOnlyWhenAFolderIsNamed-", 0),
              0u)
        << names[0];
    EXPECT_EQ(names[1].rfind("refused-request-", 0), 0u) << names[1];
    EXPECT_NE(names[1], names[2]);
    EXPECT_EQ(names[2].substr(names[2].size() - 5), ".json");
}

}  // namespace
}  // namespace tavro::test
