// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <vector>

#include "model/Tag.h"
#include "model/Thing.h"

namespace tavro::model {
namespace {

// Records the fields announced, so that each operation is seen going through the setters.
struct Announcements {
    explicit Announcements(Thing& thing) {
        thing.observe(
            [this](const Record&, int field) { fields.push_back(static_cast<ThingField>(field)); });
    }
    std::vector<ThingField> fields;
};

TEST(ThingOperations, TouchSetsOnlyTheUpdateTime) {
    Thing thing(ThingKind::note, "t");
    thing.setUpdatedAt(1.0);
    Announcements heard(thing);
    thing.touch();
    EXPECT_GT(thing.updatedAt(), 1.0);
    EXPECT_EQ(heard.fields, std::vector<ThingField>{ThingField::updatedAt});
}

// What a thing's record shows changes when a tag it carries goes away: its revision changes
// with it, and nothing else of the thing (least of all its update time) does.
TEST(ThingOperations, ATagGoingAwayRenewsTheRevisionOnly) {
    Thing thing(ThingKind::note, "t");
    thing.setUpdatedAt(1.0);
    uint64_t before = thing.revision();
    {
        Tag tag("x");
        thing.setTags({&tag});
        EXPECT_NE(thing.revision(), before);
        before = thing.revision();
    }
    EXPECT_TRUE(thing.tags().empty());
    EXPECT_NE(thing.revision(), before);
    EXPECT_EQ(thing.updatedAt(), 1.0);
}

TEST(ThingOperations, AddingATagTwiceKeepsOneAndTouchesOnce) {
    Thing thing(ThingKind::note, "t");
    Tag first("first");
    Tag tag("x");
    thing.setTags({&first});
    thing.setUpdatedAt(1.0);
    Announcements heard(thing);
    thing.addTag(tag);
    EXPECT_EQ(thing.tags(), (std::vector<Tag*>{&first, &tag}));
    EXPECT_EQ(tag.things(), std::vector<Thing*>{&thing});
    EXPECT_EQ(heard.fields, (std::vector<ThingField>{ThingField::tags, ThingField::updatedAt}));
    const double touched = thing.updatedAt();
    EXPECT_GT(touched, 1.0);

    thing.setUpdatedAt(1.0);
    heard.fields.clear();
    thing.addTag(tag);
    EXPECT_EQ(thing.tags().size(), 2u);
    EXPECT_EQ(thing.updatedAt(), 1.0);
    EXPECT_TRUE(heard.fields.empty());
}

TEST(ThingOperations, RemovingATagTouchesEvenWhenItWasNotThere) {
    Thing thing(ThingKind::note, "t");
    Tag a("a");
    Tag b("b");
    Tag c("c");
    Tag stranger("s");
    thing.setTags({&a, &b, &c});
    thing.setUpdatedAt(1.0);
    thing.removeTag(b);
    EXPECT_EQ(thing.tags(), (std::vector<Tag*>{&a, &c}));
    EXPECT_TRUE(b.things().empty());
    EXPECT_GT(thing.updatedAt(), 1.0);

    thing.setUpdatedAt(1.0);
    Announcements heard(thing);
    thing.removeTag(stranger);
    EXPECT_EQ(thing.tags(), (std::vector<Tag*>{&a, &c}));
    EXPECT_GT(thing.updatedAt(), 1.0);
    EXPECT_EQ(heard.fields, (std::vector<ThingField>{ThingField::tags, ThingField::updatedAt}));

    Thing bare(ThingKind::note, "");
    bare.setUpdatedAt(1.0);
    bare.removeTag(a);
    EXPECT_TRUE(bare.tags().empty());
    EXPECT_GT(bare.updatedAt(), 1.0);
}

TEST(ThingOperations, TrashAndRestoreKeepEverythingElse) {
    Thing thing(ThingKind::note, "t");
    Tag tag("x");
    thing.addTag(tag);
    thing.setUpdatedAt(1.0);
    Announcements heard(thing);
    thing.moveToTrash();
    ASSERT_TRUE(thing.trashedAt());
    EXPECT_GT(*thing.trashedAt(), 1.0);
    // Trash time first, then update time, from two reads of the clock.
    EXPECT_GE(thing.updatedAt(), *thing.trashedAt());
    EXPECT_EQ(heard.fields,
              (std::vector<ThingField>{ThingField::trashedAt, ThingField::updatedAt}));
    EXPECT_EQ(thing.tags(), std::vector<Tag*>{&tag});

    // Trashing again renews the time.
    thing.setTrashedAt(5.0);
    thing.moveToTrash();
    EXPECT_GT(*thing.trashedAt(), 5.0);

    thing.setUpdatedAt(1.0);
    thing.restore();
    EXPECT_FALSE(thing.trashedAt());
    EXPECT_GT(thing.updatedAt(), 1.0);
    EXPECT_EQ(thing.tags(), std::vector<Tag*>{&tag});

    // Restoring a thing that is not in the trash still touches it.
    thing.setUpdatedAt(1.0);
    thing.restore();
    EXPECT_FALSE(thing.isTrashed());
    EXPECT_GT(thing.updatedAt(), 1.0);
}

}  // namespace
}  // namespace tavro::model
