// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <unordered_set>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "platform/Error.h"

namespace tavro::model {
namespace {

TEST(ThingKindTest, CasesRawValuesAndAspectRatios) {
    const char* raws[] = {"image", "video", "link", "tweet", "github", "quote", "document", "note"};
    const double ratios[] = {1.0, 16.0 / 9.0, 1.6, 1.6, 1.6, 1.0, 0.77, 1.0};
    ASSERT_EQ(kAllThingKinds.size(), 8u);
    for (size_t i = 0; i < kAllThingKinds.size(); ++i) {
        EXPECT_EQ(rawValue(kAllThingKinds[i]), raws[i]);
        EXPECT_EQ(thingKindFromRawValue(raws[i]), kAllThingKinds[i]);
        EXPECT_EQ(defaultAspectRatio(kAllThingKinds[i]), ratios[i]);
        EXPECT_EQ(decodeThingKind(encodeThingKind(kAllThingKinds[i])), kAllThingKinds[i]);
    }
    EXPECT_EQ(defaultAspectRatio(ThingKind::video), 1.7777777777777777);
}

TEST(ThingKindTest, ParsingIsExactAndDecodingRefusesUnknownText) {
    for (const char* text : {"Image", "NOTE", " note", "note ", "", "notes", "im age"}) {
        EXPECT_FALSE(thingKindFromRawValue(text).has_value()) << text;
        EXPECT_THROW(decodeThingKind(text), platform::Error) << text;
    }
}

TEST(ThingTest, NewNoteHasEveryDefault) {
    Thing thing(ThingKind::note, "");
    EXPECT_EQ(thing.kindRaw(), "note");
    EXPECT_EQ(thing.aspectRatio(), 1.0);
    for (const std::string* text :
         {&thing.title(), &thing.subtitle(), &thing.content(), &thing.note(), &thing.urlString(),
          &thing.fileName(), &thing.typeIdentifier(), &thing.metadataJSON()}) {
        EXPECT_TRUE(text->empty());
    }
    EXPECT_EQ(thing.fileSize(), 0);
    EXPECT_FALSE(thing.data() || thing.thumbnailData() || thing.iconData());
    EXPECT_FALSE(thing.isStarred());
    EXPECT_FALSE(thing.trashedAt().has_value());
    EXPECT_TRUE(thing.tags().empty());
    EXPECT_EQ(thing.project(), nullptr);
    EXPECT_GT(thing.createdAt(), 1.6e9);
    EXPECT_GE(thing.updatedAt(), thing.createdAt());
    EXPECT_EQ(Thing(ThingKind::video, "v").aspectRatio(), 16.0 / 9.0);
    EXPECT_EQ(Thing(ThingKind::document, "d").aspectRatio(), 0.77);
    EXPECT_NE(Thing(ThingKind::note, "").uuid(), thing.uuid());
}

TEST(ThingTest, UnknownKindReadsAsNoteUntilKindIsWritten) {
    Thing thing(ThingKind::link, "x");
    thing.setKindRaw("podcast");
    EXPECT_EQ(thing.kind(), ThingKind::note);
    EXPECT_EQ(thing.kindRaw(), "podcast");
    thing.setKindRaw("Image");
    EXPECT_EQ(thing.kind(), ThingKind::note);
    thing.setKind(ThingKind::quote);
    EXPECT_EQ(thing.kindRaw(), "quote");
    EXPECT_EQ(thing.kind(), ThingKind::quote);
}

TEST(RecordTest, TextIsKeptExactlyAndNamesMayRepeat) {
    Tag first("  padded name \t");
    Tag second("  padded name \t");
    EXPECT_EQ(first.name(), "  padded name \t");
    EXPECT_EQ(second.name(), first.name());
    EXPECT_FALSE(first == second);
    Project project(" Caf\u00e9 ", nullptr);
    EXPECT_EQ(project.name(), " Caf\u00e9 ");
    EXPECT_EQ(project.sortOrder(), 0);
    EXPECT_TRUE(project.linkedFolderOwner().empty());
    Thing thing(ThingKind::note, "  Title\n");
    EXPECT_EQ(thing.title(), "  Title\n");
}

TEST(RecordTest, IdentityIsThePersistentIdentifierNeverTheUuid) {
    Thing a(ThingKind::note, "a");
    Thing b(ThingKind::note, "a");
    b.setUuid(a.uuid());
    EXPECT_FALSE(a == b);
    EXPECT_NE(a.id(), b.id());
    EXPECT_TRUE(a == a);
    std::unordered_set<PersistentId> ids{a.id(), b.id()};
    EXPECT_EQ(ids.size(), 2u);
    Tag tag("t");
    EXPECT_NE(PersistentId(tag.id()), a.id());
    EXPECT_EQ(std::hash<Thing>()(a), std::hash<PersistentId>()(a.id()));
}

TEST(RecordTest, SettersAnnounceEveryWriteAndChangeNothingElse) {
    Thing thing(ThingKind::note, "t");
    double updatedAt = thing.updatedAt();
    std::vector<int> announced;
    auto token = thing.observe([&](const Record&, int field) { announced.push_back(field); });
    thing.setTitle("new");
    thing.setTitle("new");  // an equal value is still a write
    thing.setIsStarred(true);
    thing.setData(Content::fromBytes(""));
    EXPECT_EQ(announced, (std::vector<int>{2, 2, 14, 10}));
    EXPECT_EQ(thing.updatedAt(), updatedAt);
    thing.unobserve(token);
    thing.setNote("quiet");
    EXPECT_EQ(announced.size(), 4u);
}

TEST(RecordTest, AbsentAndEmptyContentDiffer) {
    Thing thing(ThingKind::image, "i");
    thing.setData(Content::fromBytes(""));
    ASSERT_TRUE(thing.data().has_value());
    EXPECT_EQ(thing.data()->size, 0u);
    EXPECT_EQ(thing.data()->sha256,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    thing.setData(std::nullopt);
    EXPECT_FALSE(thing.data().has_value());
}

TEST(RelationshipTest, BothEndsFollowEveryChange) {
    Project root("root", nullptr);
    Project child("child", &root);
    EXPECT_EQ(child.parent(), &root);
    ASSERT_EQ(root.children().size(), 1u);
    Project other("other", nullptr);
    child.setParent(&other);
    EXPECT_TRUE(root.children().empty());
    EXPECT_EQ(other.children(), std::vector<Project*>{&child});

    Thing thing(ThingKind::note, "n");
    thing.setProject(&root);
    thing.setProject(&other);
    EXPECT_TRUE(root.things().empty());
    EXPECT_EQ(other.things(), std::vector<Thing*>{&thing});

    Tag a("a"), b("b"), c("c");
    thing.setTags({&c, &a, &c, nullptr, &b});
    EXPECT_EQ(thing.tags(), (std::vector<Tag*>{&c, &a, &b}));
    EXPECT_EQ(a.things(), std::vector<Thing*>{&thing});
    thing.setTags({&b});
    EXPECT_TRUE(a.things().empty());
    EXPECT_TRUE(c.things().empty());
    EXPECT_EQ(b.things(), std::vector<Thing*>{&thing});
    thing.setProject(nullptr);
    EXPECT_TRUE(other.things().empty());
}

TEST(RelationshipTest, DestroyedRecordsLeaveNoDanglingEnds) {
    Project parent("p", nullptr);
    Thing thing(ThingKind::note, "n");
    {
        Tag tag("t");
        Project child("c", &parent);
        thing.setTags({&tag});
        thing.setProject(&child);
    }
    EXPECT_TRUE(thing.tags().empty());
    EXPECT_EQ(thing.project(), nullptr);
    EXPECT_TRUE(parent.children().empty());
}

}  // namespace
}  // namespace tavro::model
