// SPDX-License-Identifier: MIT
// Finding a few records of a library without reading or walking all of it: a unit of work's
// lookup of stored records by uuid, which must follow saves, removals, rollbacks and the
// hand-over of kept records, and reading only the records named.
#include <gtest/gtest.h>

#include "store/ChangeWriter.h"
#include "store/KeptLibrary.h"
#include "store/Outbox.h"
#include "store/RecordLoader.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Project;
using model::Tag;
using model::Thing;
using model::ThingKind;

class RecordLookupTest : public ::testing::Test {
  protected:
    Store& store() {
        if (!store_) {
            store_ = Store::open(dir_.file("Tavro.store"));
        }
        return *store_;
    }

    test::TempDir dir_;
    std::unique_ptr<Store> store_;
};

TEST_F(RecordLookupTest, FindsStoredRecordsByUuidThroughSavesAndTheNextUnit) {
    platform::Uuid kept, renamedFrom, tagUuid;
    {
        UnitOfWork work(store());
        kept = work.insert(std::make_unique<Thing>(ThingKind::note, "kept"))->uuid();
        renamedFrom = work.insert(std::make_unique<Thing>(ThingKind::note, "renamed"))->uuid();
        tagUuid = work.insert(std::make_unique<Tag>("gone"))->uuid();
        work.save();
    }
    platform::Uuid renamedTo = platform::Uuid::random();
    platform::Uuid added;
    {
        UnitOfWork work(store(), UnitOfWork::Writing::FromFirstRead);
        Thing* renamed = work.findThing(renamedFrom);
        ASSERT_NE(renamed, nullptr);
        renamed->setUuid(renamedTo);
        // Until saved, records are found as stored.
        EXPECT_EQ(work.findThing(renamedFrom), renamed);
        EXPECT_EQ(work.findThing(renamedTo), nullptr);
        Thing* inserted = work.insert(std::make_unique<Thing>(ThingKind::note, "added"));
        added = inserted->uuid();
        EXPECT_EQ(work.findThing(added), nullptr);
        work.remove(work.findTag(tagUuid));
        EXPECT_EQ(work.findTag(tagUuid), nullptr);
        work.save();
        EXPECT_EQ(work.findThing(renamedTo), renamed);
        EXPECT_EQ(work.findThing(renamedFrom), nullptr);
        EXPECT_EQ(work.findThing(added), inserted);
    }
    // The next unit takes the kept records, and the index with them.
    UnitOfWork work(store(), UnitOfWork::Writing::FromFirstRead);
    ASSERT_NE(work.findThing(kept), nullptr);
    EXPECT_EQ(work.findThing(kept)->title(), "kept");
    ASSERT_NE(work.findThing(renamedTo), nullptr);
    EXPECT_EQ(work.findThing(renamedTo)->title(), "renamed");
    EXPECT_EQ(work.findThing(renamedFrom), nullptr);
    ASSERT_NE(work.findThing(added), nullptr);
    EXPECT_EQ(work.findTag(tagUuid), nullptr);
    EXPECT_EQ(work.findProject(kept), nullptr);  // a uuid is looked up within its type

    platform::Uuid rolledBack =
        work.insert(std::make_unique<Thing>(ThingKind::note, "rolled back"))->uuid();
    work.findThing(renamedTo)->setUuid(platform::Uuid::random());
    work.remove(work.findThing(kept));
    EXPECT_EQ(work.findThing(kept), nullptr);
    work.rollback();
    EXPECT_EQ(work.findThing(rolledBack), nullptr);
    EXPECT_NE(work.findThing(renamedTo), nullptr);
    EXPECT_NE(work.findThing(kept), nullptr);
}

TEST_F(RecordLookupTest, LoadNamedReadsOnlyTheRecordsNamedAndWhatTheyReach) {
    model::PersistentId named, missing{model::RecordType::Thing, 999};
    {
        UnitOfWork work(store());
        auto* root = work.insert(std::make_unique<Project>("root", nullptr));
        auto* inner = work.insert(std::make_unique<Project>("inner", root));
        work.insert(std::make_unique<Project>("elsewhere", nullptr));
        auto* x = work.insert(std::make_unique<Tag>("x"));
        auto* y = work.insert(std::make_unique<Tag>("y"));
        work.insert(std::make_unique<Tag>("unused"));
        auto* thing = work.insert(std::make_unique<Thing>(ThingKind::note, "named"));
        work.insert(std::make_unique<Thing>(ThingKind::note, "other"))->setProject(root);
        thing->setProject(inner);
        thing->setTags({y, x});
        work.save();
        named = thing->id();
    }
    LoadedLibrary library = RecordLoader::loadNamed(store(), {named, missing, named});
    ASSERT_EQ(library.things.size(), 1u);
    EXPECT_EQ(library.projects.size(), 2u);
    EXPECT_EQ(library.tags.size(), 2u);
    const Thing& thing = *library.things[0];
    ASSERT_NE(thing.project(), nullptr);
    EXPECT_EQ(thing.project()->name(), "inner");
    EXPECT_EQ(thing.project()->depth(), 1);
    ASSERT_EQ(thing.tags().size(), 2u);
    EXPECT_EQ(thing.tags()[0]->name(), "y");
    EXPECT_EQ(thing.tags()[1]->name(), "x");
    unlinkAll(library.things, library.tags, library.projects);
}

TEST_F(RecordLookupTest, OutboxTellsWhichContentsTheStoreReferences) {
    model::Content icon = model::Content::fromBytes("icon bytes");
    {
        UnitOfWork work(store());
        work.insert(std::make_unique<Thing>(ThingKind::note, "iconic"))->setIconData(icon);
        work.save();
    }
    Outbox outbox(dir_.file("Tavro.store"));
    EXPECT_TRUE(outbox.holdsContent(icon.sha256));
    EXPECT_FALSE(outbox.holdsContent(model::Content::fromBytes("other").sha256));
}

TEST_F(RecordLookupTest, AUnitHoldingTheWriteLockUnreadCommitsNotesAndMayStillRead) {
    {
        UnitOfWork work(store());
        work.insert(std::make_unique<Thing>(ThingKind::note, "there"));
        work.save();
    }
    Outbox(dir_.file("Tavro.store")).attach("_account");
    {
        UnitOfWork work(store(), UnitOfWork::Writing::FromFirstRead);
        ChangeWriter::FromServer state;
        state.cursor = 42;
        work.holdWriteLock();
        EXPECT_EQ(work.fetchThings().size(), 1u);  // in the transaction already held
        work.save();
    }
    EXPECT_EQ(Outbox(dir_.file("Tavro.store")).cursor(), 42);
}

}  // namespace
}  // namespace tavro::store
