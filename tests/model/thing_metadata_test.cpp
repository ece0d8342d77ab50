// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "model/Thing.h"
#include "model/ThingMetadata.h"

namespace tavro::model {
namespace {

ThingMetadata full() {
    return ThingMetadata{"Ann", "@ann", "Site", 12, 3, "C", "https://h/", 640, 480};
}

TEST(ThingMetadataValue, EmptyAndEquality) {
    EXPECT_EQ(ThingMetadata::empty(), ThingMetadata());
    EXPECT_NE(full(), ThingMetadata::empty());
    ThingMetadata changed = full();
    changed.height.reset();
    EXPECT_NE(changed, full());
    ThingMetadata zero;
    zero.stars = 0;
    EXPECT_NE(zero, ThingMetadata::empty());  // zero is present, not absent
}

TEST(ThingMetadataJson, WritesOnlyPresentFields) {
    EXPECT_EQ(ThingMetadata::empty().toJson(), "{}");
    ThingMetadata media;
    media.width = 1920;
    media.height = 1080;
    EXPECT_EQ(media.toJson(), "{\"width\":1920,\"height\":1080}");
    EXPECT_EQ(full().toJson(),
              "{\"author\":\"Ann\",\"authorHandle\":\"@ann\",\"siteName\":\"Site\",\"stars\":12,"
              "\"forks\":3,\"language\":\"C\",\"homepage\":\"https:\\/\\/h\\/\",\"width\":640,"
              "\"height\":480}");
    EXPECT_EQ(ThingMetadata::fromJson(full().toJson()), full());
    ThingMetadata text;
    text.author = "\"quoted\"\n\xE2\x80\xA8";
    text.stars = INT64_MIN;
    EXPECT_EQ(ThingMetadata::fromJson(text.toJson()), text);
}

TEST(ThingMetadataJson, ReadsPresentKeysInAnyOrderAndIgnoresOthers) {
    auto read = ThingMetadata::fromJson("{\"language\":\"C\",\"extra\":[1,{}],\"stars\":12}");
    ASSERT_TRUE(read);
    ThingMetadata expected;
    expected.stars = 12;
    expected.language = "C";
    EXPECT_EQ(*read, expected);
    // Null is absent; whole numbers written as decimals are integers.
    read = ThingMetadata::fromJson("{\"author\":null,\"width\":10.0,\"height\":1e2}");
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->author);
    EXPECT_EQ(read->width, 10);
    EXPECT_EQ(read->height, 100);
    // Of a repeated key the last one counts.
    EXPECT_EQ(ThingMetadata::fromJson("{\"stars\":1,\"stars\":2}")->stars, 2);
}

TEST(ThingMetadataJson, AnyWrongTypeLosesTheWholeValue) {
    for (const char* json :
         {"{\"stars\":\"12\",\"language\":\"C\"}", "{\"language\":\"C\",\"stars\":1.5}",
          "{\"author\":5}", "{\"width\":true}", "{\"homepage\":[\"x\"]}", "{\"siteName\":{}}",
          "{\"forks\":18446744073709551615}", "{\"height\":1e30}", "[]", "\"text\"", "", "{",
          "{\"stars\":1,}", "null"}) {
        EXPECT_FALSE(ThingMetadata::fromJson(json)) << json;
    }
}

TEST(ThingMetadataOnThing, ReadFallsBackToEmpty) {
    Thing thing(ThingKind::github, "");
    EXPECT_EQ(thing.metadata(), ThingMetadata::empty());
    thing.setMetadataJSON("{\"stars\":12,\"language\":\"C\"}");
    EXPECT_EQ(thing.metadata().stars, 12);
    EXPECT_EQ(thing.metadata().language, "C");
    EXPECT_FALSE(thing.metadata().forks);
    thing.setMetadataJSON("{\"stars\":\"12\",\"language\":\"C\"}");
    EXPECT_EQ(thing.metadata(), ThingMetadata::empty());
    thing.setMetadataJSON("not json");
    EXPECT_EQ(thing.metadata(), ThingMetadata::empty());
}

TEST(ThingMetadataOnThing, WritingGoesThroughTheSetterWithoutTouching) {
    Thing thing(ThingKind::image, "");
    thing.setUpdatedAt(1.0);
    std::vector<int> announced;
    thing.observe([&](const Record&, int field) { announced.push_back(field); });
    ThingMetadata media;
    media.width = 4;
    thing.setMetadata(media);
    EXPECT_EQ(thing.metadataJSON(), "{\"width\":4}");
    EXPECT_EQ(announced, std::vector<int>{static_cast<int>(ThingField::metadataJSON)});
    EXPECT_EQ(thing.updatedAt(), 1.0);
}

TEST(ThingMetadataOnThing, ChangingOneFieldRewritesTheWholeValue) {
    Thing thing(ThingKind::github, "");
    // Unknown keys do not survive a rewrite: the value is read, changed and written whole.
    thing.setMetadataJSON("{\"stars\":1,\"unknown\":true}");
    thing.updateMetadata([](ThingMetadata& m) { m.forks = 2; });
    EXPECT_EQ(thing.metadataJSON(), "{\"stars\":1,\"forks\":2}");
    // A broken value is lost as a whole, not patched.
    thing.setMetadataJSON("{\"stars\":\"1\",\"language\":\"C\"}");
    thing.updateMetadata([](ThingMetadata& m) { m.forks = 3; });
    EXPECT_EQ(thing.metadataJSON(), "{\"forks\":3}");
}

}  // namespace
}  // namespace tavro::model
