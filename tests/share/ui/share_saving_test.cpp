// SPDX-License-Identifier: MIT
// Turning the form's text into entries, and writing one entry per payload into the inbox.

#include <gtest/gtest.h>

#include <filesystem>

#include "SheetTestSupport.h"
#include "share/InboxTestEnvironment.h"
#include "share/ui/ShareSaving.h"

namespace tavro::share::ui {
namespace {

using testing::filePayload;
using testing::inboxEntries;
using testing::textPayload;
using testing::urlPayload;
using Tags = std::vector<std::string>;

TEST(ShareTagsTest, SplitsAtCommasTrimsAndDropsEmptyPieces) {
    EXPECT_EQ(parseTags("a , b,, a ,"), (Tags{"a", "b", "a"}));
    EXPECT_EQ(parseTags("\tRust,\u00a0Go\u3000 ,C++"), (Tags{"Rust", "Go", "C++"}));
    EXPECT_EQ(parseTags("Swift, swift, SWIFT"), (Tags{"Swift", "swift", "SWIFT"}));
    EXPECT_EQ(parseTags("two words, x"), (Tags{"two words", "x"}));
    EXPECT_TRUE(parseTags("").empty());
    EXPECT_TRUE(parseTags(", ,\t,").empty());
}

TEST(ShareTagsTest, LineBreaksAreNotHorizontalWhiteSpace) {
    EXPECT_EQ(parseTags("a\n, b"), (Tags{"a\n", "b"}));
    EXPECT_EQ(parseTags("\n"), (Tags{"\n"}));
    EXPECT_EQ(trimmedTitle(" \tTitle\n "), "Title\n");
    EXPECT_EQ(trimmedTitle("   "), "");
}

class ShareSavingTest : public testing::InboxTestEnvironment {
  protected:
    std::vector<SharedPayload> threePayloads() const {
        return {urlPayload("https://example.org/"), textPayload("  kept as is  "),
                filePayload("photo.png", std::string("\x89PNG\0\1", 6))};
    }
};

TEST_F(ShareSavingTest, WritesOneEntryPerPayloadUnderItsId) {
    auto payloads = threePayloads();
    auto failure = saveToInbox(payloads, {"  Weekend \t", " a, b ,a", ""}, env());
    ASSERT_FALSE(failure) << *failure;

    auto entries = inboxEntries(env());
    ASSERT_EQ(entries.size(), 3u);
    const SharedInboxEntry& link = entries.at(payloads[0].id().uppercase());
    const SharedInboxEntry& text = entries.at(payloads[1].id().uppercase());
    const SharedInboxEntry& file = entries.at(payloads[2].id().uppercase());
    EXPECT_EQ(link.title, "Weekend");
    EXPECT_FALSE(text.title);
    EXPECT_FALSE(file.title);
    for (const auto* entry : {&link, &text, &file}) {
        EXPECT_EQ(entry->note, "");
        EXPECT_EQ(entry->tags, (Tags{"a", "b", "a"}));
    }
    EXPECT_EQ(link.url, "https://example.org/");
    EXPECT_EQ(text.text, "  kept as is  ");
    EXPECT_EQ(file.fileName, "photo.png");
    EXPECT_EQ(file.typeIdentifier, "public.png");
    std::string folder = inboxPath() + "/" + payloads[2].id().uppercase();
    EXPECT_EQ(readFile(folder + "/photo.png"), std::string("\x89PNG\0\1", 6));
    EXPECT_FALSE(
        std::filesystem::exists(inboxPath() + "/" + payloads[0].id().uppercase() + "/photo.png"));
}

TEST_F(ShareSavingTest, BlankTitleIsLeftOutEverywhere) {
    auto payloads = threePayloads();
    ASSERT_FALSE(saveToInbox(payloads, {" \t ", "", "note\n"}, env()));
    for (const auto& [id, entry] : inboxEntries(env())) {
        EXPECT_FALSE(entry.title) << id;
        EXPECT_EQ(entry.note, "note\n") << id;
        EXPECT_TRUE(entry.tags.empty()) << id;
    }
}

// The second entry's folder is taken by a plain file, so creating it fails: the first entry
// stays, the third is never written, and a retry once the cause is gone rewrites all three
// under the same ids rather than adding new ones.
TEST_F(ShareSavingTest, FailureStopsAtTheFailingEntryAndRetryRewritesInPlace) {
    auto payloads = threePayloads();
    std::string blocked = inboxPath() + "/" + payloads[1].id().uppercase();
    writeFile(blocked, "in the way");

    auto failure = saveToInbox(payloads, {"T", "a", "first"}, env());
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->starts_with("Couldn't save: ")) << *failure;
    EXPECT_GT(failure->size(), std::string("Couldn't save: ").size());
    auto afterFailure = inboxEntries(env());
    EXPECT_EQ(afterFailure.size(), 1u);
    EXPECT_TRUE(afterFailure.count(payloads[0].id().uppercase()));
    EXPECT_FALSE(std::filesystem::exists(inboxPath() + "/" + payloads[2].id().uppercase()));

    std::filesystem::remove(blocked);
    ASSERT_FALSE(saveToInbox(payloads, {"T", "a", "second"}, env()));
    auto entries = inboxEntries(env());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(testing::entryFolderCount(inboxPath()), 3u);
    for (const auto& payload : payloads)
        EXPECT_EQ(entries.at(payload.id().uppercase()).note, "second");
}

TEST_F(ShareSavingTest, MissingAppGroupIsReportedWithTheInboxText) {
    entitleToGroup(false);
    auto failure = saveToInbox(threePayloads(), {}, env());
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure,
              "Couldn't save: Tavro\u2019s shared storage is unavailable. Reinstall the signed "
              "Tavro app and try again.");
    EXPECT_EQ(testing::entryFolderCount(inboxPath()), 0u);
}

}  // namespace
}  // namespace tavro::share::ui
