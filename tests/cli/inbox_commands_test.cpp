// SPDX-License-Identifier: MIT
// `tavro inbox list` and `tavro inbox remove ID` over a private App Group container.

#include <filesystem>
#include <sstream>

#include "cli/InboxCommands.h"
#include "share/InboxTestEnvironment.h"
#include "share/SharedInbox.h"

namespace tavro::cli {
namespace {

using share::SharedInbox;
using share::SharedInboxEntry;

class InboxCommandsTest : public testing::InboxTestEnvironment {
  protected:
    int run(const std::vector<std::string>& args) {
        out_.str({});
        err_.str({});
        return runInboxCommand(args, out_, err_, env());
    }

    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(InboxCommandsTest, ListPrintsOneRecordPerLineOldestFirstWithPayloadPath) {
    SharedInboxEntry file(platform::Uuid::parse("11111111-2222-3333-4444-555555555555"), 1475965861,
                          {}, {}, "Title", "", {"a"}, "dir/photo.png", "public.png");
    SharedInboxEntry link(platform::Uuid::parse("AAAAAAAA-2222-3333-4444-555555555555"), 1475965860,
                          "https://example.com/x", {}, {}, "", {}, {}, {});
    SharedInbox::write(file, std::string_view("png"), env());
    SharedInbox::write(link, std::nullopt, env());

    ASSERT_EQ(run({"list"}), 0);
    std::string escapedFolder = inboxPath();
    for (size_t at = 0; (at = escapedFolder.find('/', at)) != std::string::npos; at += 2) {
        escapedFolder.insert(at, "\\");
    }
    EXPECT_EQ(out_.str(),
              "{\"id\":\"AAAAAAAA-2222-3333-4444-555555555555\","
              "\"createdAt\":\"2016-10-08T22:31:00Z\",\"url\":\"https:\\/\\/example.com\\/x\","
              "\"note\":\"\",\"tags\":[]}\n"
              "{\"id\":\"11111111-2222-3333-4444-555555555555\","
              "\"createdAt\":\"2016-10-08T22:31:01Z\",\"title\":\"Title\",\"note\":\"\","
              "\"tags\":[\"a\"],\"fileName\":\"photo.png\",\"typeIdentifier\":\"public.png\","
              "\"payloadPath\":\"" +
                  escapedFolder + "\\/11111111-2222-3333-4444-555555555555\\/photo.png\"}\n");
    EXPECT_EQ(err_.str(), "");
}

TEST_F(InboxCommandsTest, ListOfAnEmptyOrUnprovisionedInboxPrintsNothing) {
    EXPECT_EQ(run({"list"}), 0);
    EXPECT_EQ(out_.str(), "");
    entitleToGroup(false);
    EXPECT_EQ(run({"list"}), 0);
    EXPECT_EQ(out_.str(), "");
}

TEST_F(InboxCommandsTest, RemoveTakesEitherCaseAndSucceedsWithoutEntry) {
    SharedInboxEntry entry;
    SharedInbox::write(entry, std::nullopt, env());
    EXPECT_EQ(run({"remove", entry.id.lowercase()}), 0);
    EXPECT_TRUE(SharedInbox::pendingEntries(env()).empty());
    EXPECT_EQ(run({"remove", entry.id.uppercase()}), 0);
    EXPECT_EQ(err_.str(), "");
}

// What list reports, remove removes: a record whose folder bears another name is not
// listed, since removing its id could never take it away.
TEST_F(InboxCommandsTest, ListReportsOnlyWhatRemoveRemoves) {
    SharedInboxEntry entry;
    entry.text = "kept apart";
    SharedInbox::write(entry, std::nullopt, env());
    const std::string folder = inboxPath() + "/" + entry.id.uppercase();
    for (const std::string& other :
         {std::string("elsewhere"), entry.id.lowercase(), platform::Uuid::random().uppercase()}) {
        std::filesystem::create_directories(inboxPath() + "/" + other);
        std::filesystem::copy_file(folder + "/manifest.json",
                                   inboxPath() + "/" + other + "/manifest.json");
    }
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out_.str().find("{\"id\":\"" + entry.id.uppercase() + "\""), 0u) << out_.str();
    EXPECT_EQ(out_.str().find('\n'), out_.str().size() - 1) << out_.str();
    EXPECT_EQ(run({"remove", entry.id.uppercase()}), 0);
    EXPECT_EQ(run({"list"}), 0);
    EXPECT_EQ(out_.str(), "");
}

TEST_F(InboxCommandsTest, MalformedCommandsAreUsageErrors) {
    SharedInboxEntry entry;
    SharedInbox::write(entry, std::nullopt, env());
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"remove"},
                                                 {"remove", "../x"},
                                                 {"list", "extra"},
                                                 {"remove", entry.id.uppercase(), "extra"},
                                                 {"purge"}}) {
        EXPECT_EQ(run(args), 2);
        EXPECT_NE(err_.str(), "");
        EXPECT_EQ(out_.str(), "");
    }
    EXPECT_EQ(SharedInbox::pendingEntries(env()).size(), 1u);
}

}  // namespace
}  // namespace tavro::cli
