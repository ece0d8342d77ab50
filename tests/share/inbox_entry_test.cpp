// SPDX-License-Identifier: MIT
// The manifest format: exact bytes written, and what the reader accepts and refuses.

#include <gtest/gtest.h>

#include <cmath>

#include "platform/Error.h"
#include "share/InboxDate.h"
#include "share/SharedInboxEntry.h"

namespace tavro::share {
namespace {

const char* kId = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
constexpr platform::Timestamp kOctober2016 = 1475965860;  // 2016-10-08T22:31:00Z

SharedInboxEntry entryWith(std::optional<std::string> url = {}) {
    return SharedInboxEntry(platform::Uuid::parse(kId), kOctober2016, std::move(url), {}, {}, {},
                            {}, {}, {});
}

TEST(InboxEntry, LinkRecordHasExactlyItsKeysWithSlashesEscaped) {
    EXPECT_EQ(entryWith("https://example.com/a?b=1").encoded(),
              "{\"id\":\"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\","
              "\"createdAt\":\"2016-10-08T22:31:00Z\","
              "\"url\":\"https:\\/\\/example.com\\/a?b=1\",\"tags\":[]}");
}

TEST(InboxEntry, FullRecordKeepsTheTableOrderAndEscapes) {
    SharedInboxEntry entry(platform::Uuid::parse("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"),
                           kOctober2016 + 0.999, "u", "line\n\"quoted\"", "Caf\u00e9", "",
                           {"a", "b", "a"}, "photo.png", "public.png");
    EXPECT_EQ(entry.encoded(),
              "{\"id\":\"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\","
              "\"createdAt\":\"2016-10-08T22:31:00Z\",\"url\":\"u\","
              "\"text\":\"line\\n\\\"quoted\\\"\",\"title\":\"Caf\u00e9\",\"note\":\"\","
              "\"tags\":[\"a\",\"b\",\"a\"],\"fileName\":\"photo.png\","
              "\"typeIdentifier\":\"public.png\"}");
}

TEST(InboxEntry, IllFormedTextIsRepairedSoTheRecordStaysReadable) {
    SharedInboxEntry entry = entryWith();
    entry.text = std::string(
        "a\xff"
        "b");
    entry.tags = {std::string("\xc3")};
    auto decoded = SharedInboxEntry::decode(entry.encoded());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded->text, "a\ufffdb");
    EXPECT_EQ(decoded->tags, std::vector<std::string>{"\ufffd"});
}

TEST(InboxDate, WholeSecondsInUtcAcrossTheCalendar) {
    EXPECT_EQ(formatInboxDate(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(formatInboxDate(-0.5), "1969-12-31T23:59:59Z");  // rounds down, not to zero
    EXPECT_EQ(formatInboxDate(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(formatInboxDate(253402300799.9), "9999-12-31T23:59:59Z");
    EXPECT_THROW(formatInboxDate(253402300800), platform::Error);
    EXPECT_THROW(formatInboxDate(std::nan("")), platform::Error);

    EXPECT_EQ(parseInboxDate("2000-02-29T00:00:00Z"), 951782400);
    EXPECT_EQ(parseInboxDate("1969-12-31T23:59:59Z"), -1);
    for (const char* refused :
         {"2016-10-08T22:31:00.000Z", "2016-10-08T22:31:00.5Z", "2016-10-08 22:31:00Z",
          "2016-10-08", "2016-10-08T22:31:00+00:00", "2016-10-08T22:31:00z", "2016-10-08t22:31:00Z",
          "2016-10-08T22:31:00", "2001-02-29T00:00:00Z", "2016-13-01T00:00:00Z",
          "2016-10-08T24:00:00Z", "2016-10-08T22:60:00Z", "2016-10-08T22:31:60Z",
          "+016-10-08T22:31:00Z", "2016-1-08T22:31:00ZZ", ""}) {
        EXPECT_FALSE(parseInboxDate(refused)) << refused;
    }
}

TEST(InboxEntry, DecodingAcceptsAnyOrderUnknownKeysAndNullOptionals) {
    auto entry = SharedInboxEntry::decode(
        "{\"tags\":[\"x\"],\"extra\":{\"a\":1},\"note\":null,\"fileName\":\"a.pdf\","
        "\"createdAt\":\"2016-10-08T22:31:00Z\",\"url\":null,"
        "\"id\":\"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0\",\"typeIdentifier\":\"com.adobe.pdf\"}");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id.uppercase(), kId);
    EXPECT_EQ(entry->createdAt, kOctober2016);
    EXPECT_FALSE(entry->note);
    EXPECT_FALSE(entry->url);
    EXPECT_EQ(entry->tags, std::vector<std::string>{"x"});
    EXPECT_EQ(*entry->fileName, "a.pdf");
    EXPECT_EQ(*entry->typeIdentifier, "com.adobe.pdf");

    SharedInboxEntry full(platform::Uuid::parse(kId), kOctober2016, "https://a/b", "t", "T", "n",
                          {"a", ""}, "f", "public.data");
    auto roundTrip = SharedInboxEntry::decode(full.encoded());
    ASSERT_TRUE(roundTrip);
    EXPECT_EQ(roundTrip->encoded(), full.encoded());
}

TEST(InboxEntry, DecodingRefusesIncompleteOrMistypedRecords) {
    const std::string id = "\"id\":\"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\"";
    const std::string date = "\"createdAt\":\"2016-10-08T22:31:00Z\"";
    for (const std::string& refused : {
             "{" + date + ",\"tags\":[]}",
             "{" + id + ",\"tags\":[]}",
             "{" + id + "," + date + "}",
             "{" + id + "," + date + ",\"tags\":null}",
             "{" + id + ",\"createdAt\":\"2016-10-08T22:31:00.250Z\",\"tags\":[]}",
             "{" + id + ",\"createdAt\":1475965860,\"tags\":[]}",
             "{\"id\":\"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\"," + date + ",\"tags\":[]}",
             "{" + id + "," + date + ",\"tags\":[1]}",
             "{" + id + "," + date + ",\"tags\":[],\"url\":5}",
             "{" + id + "," + date + ",\"tags\":[],\"fileName\":[]}",
             "[{" + id + "," + date + ",\"tags\":[]}]",
             "{" + id + "," + date + ",\"tags\":[]",
         }) {
        EXPECT_FALSE(SharedInboxEntry::decode(refused)) << refused;
    }
}

}  // namespace
}  // namespace tavro::share
