// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_set>

#include "platform/Error.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/FaultyFileSystem.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Content;
using model::Project;
using model::Tag;
using model::Thing;
using model::ThingKind;

int64_t queryInt(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    int64_t value = -1;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

void exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

template <typename T>
bool has(const std::vector<T*>& list, const T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

template <typename T>
T* byName(const std::vector<T*>& list, const std::string& name) {
    for (T* item : list) {
        if constexpr (std::is_same_v<T, Thing>) {
            if (item->title() == name)
                return item;
        } else {
            if (item->name() == name)
                return item;
        }
    }
    return nullptr;
}

class UnitOfWorkTest : public ::testing::Test {
  protected:
    std::string path() const { return dir_.file("Tavro.store"); }
    Store& store() {
        if (!store_) {
            store_ = Store::open(path());
        }
        return *store_;
    }
    void reopen() {
        store_.reset();
        store();
    }

    // root > {a > a1 > a2, b}; things t1 in a1, t2 in root, t3 in b; tags x on t1,t2; y on t3.
    void buildTree() {
        UnitOfWork work(store());
        auto* root = work.insert(std::make_unique<Project>("root", nullptr));
        auto* a = work.insert(std::make_unique<Project>("a", root));
        auto* a1 = work.insert(std::make_unique<Project>("a1", a));
        work.insert(std::make_unique<Project>("a2", a1));
        auto* b = work.insert(std::make_unique<Project>("b", root));
        auto* x = work.insert(std::make_unique<Tag>("x"));
        auto* y = work.insert(std::make_unique<Tag>("y"));
        auto* t1 = work.insert(std::make_unique<Thing>(ThingKind::note, "t1"));
        auto* t2 = work.insert(std::make_unique<Thing>(ThingKind::link, "t2"));
        auto* t3 = work.insert(std::make_unique<Thing>(ThingKind::quote, "t3"));
        t1->setProject(a1);
        t2->setProject(root);
        t3->setProject(b);
        t1->setTags({x});
        t2->setTags({x});
        t3->setTags({y, x});
        work.save();
    }

    test::TempDir dir_;
    std::unique_ptr<Store> store_;
};

TEST_F(UnitOfWorkTest, IdentityMapGivesOneObjectPerStoredRecord) {
    buildTree();
    UnitOfWork work(store());
    auto first = work.fetchThings();
    auto again = work.fetchThings();
    EXPECT_EQ(first, again);
    Thing* t1 = byName(first, "t1");
    ASSERT_NE(t1, nullptr);
    Tag* x = byName(work.fetchTags(), "x");
    EXPECT_TRUE(has(x->things(), t1));
    EXPECT_EQ(t1->tags(), std::vector<Tag*>{x});
    EXPECT_EQ(t1->project(), byName(work.fetchProjects(), "a1"));
    // The same stored record in another unit of work is another object that compares equal.
    UnitOfWork other(store());
    Thing* otherT1 = byName(other.fetchThings(), "t1");
    EXPECT_NE(otherT1, t1);
    EXPECT_TRUE(*otherT1 == *t1);
    std::unordered_set<model::PersistentId> ids;
    for (Thing* thing : first)
        ids.insert(thing->id());
    for (Tag* tag : work.fetchTags())
        ids.insert(tag->id());
    for (Project* project : work.fetchProjects())
        ids.insert(project->id());
    EXPECT_EQ(ids.size(), 3u + 2u + 5u);
}

TEST_F(UnitOfWorkTest, InsertedRecordsJoinFetchesAndKeepUniqueIdentifiers) {
    UnitOfWork one(store());
    UnitOfWork two(store());
    auto pending = std::make_unique<Thing>(ThingKind::note, "new");
    EXPECT_TRUE(pending->id().isTemporary());
    Thing* a = one.insert(std::move(pending));
    Thing* b = two.insert(std::make_unique<Thing>(ThingKind::note, "new"));
    EXPECT_FALSE(a->id().isTemporary());
    EXPECT_NE(a->id(), b->id());
    EXPECT_TRUE(has(one.fetchThings(), a));
    b->setUuid(a->uuid());  // nothing keeps uuid unique
    one.save();
    two.save();
    auto idA = a->id();
    reopen();
    UnitOfWork work(store());
    auto things = work.fetchThings();
    ASSERT_EQ(things.size(), 2u);
    EXPECT_EQ(things[0]->uuid(), things[1]->uuid());
    EXPECT_FALSE(*things[0] == *things[1]);
    EXPECT_TRUE(*things[0] == *a || *things[1] == *a);
    // Identifiers keep growing after reopening, past deleted records too; none is handed
    // out twice.
    Thing* c = work.insert(std::make_unique<Thing>(ThingKind::note, "c"));
    EXPECT_GT(c->id().row, idA.row);
    EXPECT_GT(c->id().row, b->id().row);
    work.save();
    auto idC = c->id();
    work.remove(c);
    work.save();
    reopen();
    UnitOfWork later(store());
    EXPECT_GT(later.insert(std::make_unique<Thing>(ThingKind::note, "d"))->id().row, idC.row);
}

TEST_F(UnitOfWorkTest, DeletingAProjectTakesItsSubtreeButNoThings) {
    buildTree();
    {
        UnitOfWork work(store());
        Project* a = byName(work.fetchProjects(), "a");
        Project* root = byName(work.fetchProjects(), "root");
        Thing* t1 = byName(work.fetchThings(), "t1");
        work.remove(a);
        auto projects = work.fetchProjects();
        EXPECT_EQ(projects.size(), 2u);  // root and b
        EXPECT_FALSE(byName(projects, "a1") || byName(projects, "a2"));
        EXPECT_EQ(root->children(), std::vector<Project*>{byName(projects, "b")});
        EXPECT_EQ(t1->project(), nullptr);
        EXPECT_EQ(work.fetchThings().size(), 3u);
        work.save();
    }
    reopen();
    UnitOfWork work(store());
    EXPECT_EQ(work.fetchProjects().size(), 2u);
    EXPECT_EQ(byName(work.fetchThings(), "t1")->project(), nullptr);
    EXPECT_EQ(byName(work.fetchThings(), "t3")->project()->name(), "b");
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Project WHERE name LIKE 'a%'"), 0);
}

TEST_F(UnitOfWorkTest, DeletingTagsAndThingsNullifiesTheOtherEnds) {
    buildTree();
    {
        UnitOfWork work(store());
        Tag* x = byName(work.fetchTags(), "x");
        Tag* y = byName(work.fetchTags(), "y");
        Thing* t3 = byName(work.fetchThings(), "t3");
        Thing* t2 = byName(work.fetchThings(), "t2");
        Project* root = byName(work.fetchProjects(), "root");
        work.remove(x);
        EXPECT_EQ(t3->tags(), std::vector<Tag*>{y});
        EXPECT_TRUE(byName(work.fetchThings(), "t1")->tags().empty());
        work.remove(t2);
        EXPECT_FALSE(has(root->things(), t2));
        work.remove(t2);  // twice: nothing more happens
        EXPECT_EQ(work.fetchThings().size(), 2u);
        work.save();
    }
    reopen();
    UnitOfWork work(store());
    EXPECT_EQ(work.fetchTags().size(), 1u);
    EXPECT_EQ(work.fetchThings().size(), 2u);
    EXPECT_EQ(byName(work.fetchThings(), "t3")->tags().size(), 1u);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM ThingTags"), 1);
}

TEST_F(UnitOfWorkTest, AProjectCycleDoesNotHangRemoval) {
    buildTree();
    UnitOfWork work(store());
    Project* a = byName(work.fetchProjects(), "a");
    Project* a2 = byName(work.fetchProjects(), "a2");
    a->setParent(a2);  // a > a1 > a2 > a
    work.remove(a);
    EXPECT_EQ(work.fetchProjects().size(), 2u);
    work.save();
}

TEST_F(UnitOfWorkTest, RollbackReturnsEveryObjectToItsStoredValues) {
    buildTree();
    UnitOfWork work(store());
    Thing* t1 = byName(work.fetchThings(), "t1");
    Thing* t3 = byName(work.fetchThings(), "t3");
    Tag* x = byName(work.fetchTags(), "x");
    Tag* y = byName(work.fetchTags(), "y");
    Project* a1 = byName(work.fetchProjects(), "a1");
    Project* b = byName(work.fetchProjects(), "b");
    Project* root = byName(work.fetchProjects(), "root");
    Project* a = byName(work.fetchProjects(), "a");
    double updated = t1->updatedAt();

    t1->setTitle("changed");
    t1->setUpdatedAt(updated + 10);
    t1->setProject(b);
    t1->setTags({y});
    t1->setData(Content::fromBytes("bytes"));
    Tag* z = work.insert(std::make_unique<Tag>("z"));
    t3->setTags({z});
    work.remove(a);
    work.remove(x);
    b->setName("renamed");
    ASSERT_TRUE(work.hasChanges());
    work.rollback();

    EXPECT_FALSE(work.hasChanges());
    EXPECT_EQ(t1->title(), "t1");
    EXPECT_EQ(t1->updatedAt(), updated);
    EXPECT_FALSE(t1->data().has_value());
    EXPECT_EQ(t1->project(), a1);
    EXPECT_EQ(t1->tags(), std::vector<Tag*>{x});
    EXPECT_EQ(t3->tags(), (std::vector<Tag*>{y, x}));
    EXPECT_EQ(b->name(), "b");
    EXPECT_EQ(work.fetchProjects().size(), 5u);
    EXPECT_EQ(work.fetchTags().size(), 2u);
    EXPECT_FALSE(has(work.fetchTags(), z));
    // Inverse ends agree with the restored forward ends.
    EXPECT_EQ(a1->things(), std::vector<Thing*>{t1});
    EXPECT_TRUE(b->things().size() == 1 && b->things()[0] == t3);
    EXPECT_EQ(x->things().size(), 3u);
    EXPECT_EQ(y->things(), std::vector<Thing*>{t3});
    EXPECT_TRUE(z->things().empty());
    EXPECT_EQ(a->parent(), root);
    EXPECT_TRUE(has(root->children(), a));
    EXPECT_EQ(a1->parent(), a);
    work.save();  // nothing to write
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Tag"), 2);
}

TEST_F(UnitOfWorkTest, OnlyChangedColumnsAreWritten) {
    buildTree();
    exec(path(),
         "CREATE TABLE Log (what TEXT);"
         "CREATE TRIGGER LogRow AFTER UPDATE ON Thing BEGIN INSERT INTO Log VALUES ('row'); END;"
         "CREATE TRIGGER LogNote AFTER UPDATE OF note ON Thing BEGIN "
         "INSERT INTO Log VALUES ('note'); END;"
         "CREATE TRIGGER LogTags AFTER INSERT ON ThingTags BEGIN "
         "INSERT INTO Log VALUES ('tags'); END;");
    reopen();
    UnitOfWork work(store());
    Thing* t1 = byName(work.fetchThings(), "t1");
    Thing* t2 = byName(work.fetchThings(), "t2");
    t1->setTitle("t1");  // the value it holds
    t1->setTags(t1->tags());
    t2->setProject(t2->project());
    EXPECT_FALSE(work.hasChanges());
    work.save();
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Log"), 0);
    t1->setTitle("other");
    work.save();
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Log WHERE what = 'row'"), 1);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Log WHERE what != 'row'"), 0);
    t2->setTags({});
    work.save();  // only the join rows change
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Log WHERE what = 'row'"), 1);
}

TEST_F(UnitOfWorkTest, AFailedSaveChangesNothingAndCanBeRolledBack) {
    buildTree();
    exec(path(),
         "CREATE TRIGGER Refuse BEFORE INSERT ON Tag WHEN new.name = 'refused' BEGIN "
         "SELECT RAISE(ABORT, 'refused by test'); END;");
    reopen();
    UnitOfWork work(store());
    Thing* t1 = byName(work.fetchThings(), "t1");
    t1->setTitle("changed");
    work.remove(byName(work.fetchThings(), "t2"));
    work.remove(byName(work.fetchProjects(), "a"));
    Thing* fresh = work.insert(std::make_unique<Thing>(ThingKind::note, "fresh"));
    fresh->setTags({work.insert(std::make_unique<Tag>("refused"))});
    EXPECT_THROW(work.save(), platform::Error);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Thing"), 3);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Project"), 5);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Thing WHERE title = 'changed'"), 0);
    EXPECT_TRUE(work.hasChanges());
    work.rollback();
    EXPECT_EQ(t1->title(), "t1");
    EXPECT_EQ(work.fetchThings().size(), 3u);
    work.save();
    UnitOfWork check(store());
    EXPECT_EQ(check.fetchThings().size(), 3u);
}

// A unit that holds the store from its first read starts from the records the previous one
// left, but only while nothing else has written since: another connection (as another process
// would), another unit of the same store, or a save of its own that failed.
TEST_F(UnitOfWorkTest, KeptRecordsNeverHideWhatWasWrittenSinceTheyWereKept) {
    using Writing = UnitOfWork::Writing;
    buildTree();
    auto titles = [this] {
        UnitOfWork work(store(), Writing::FromFirstRead);
        std::vector<std::string> all;
        for (Thing* thing : work.fetchThings()) {
            all.push_back(thing->title());
        }
        std::sort(all.begin(), all.end());
        return all;
    };
    auto renameFirst = [](UnitOfWork& work, const std::string& title) {
        Thing* t1 = work.fetchThings().at(0);
        t1->setTitle(title);
        work.save();
    };
    {
        UnitOfWork work(store(), Writing::FromFirstRead);
        renameFirst(work, "kept");
    }
    EXPECT_EQ(titles(), (std::vector<std::string>{"kept", "t2", "t3"}));

    auto other = Store::open(path());  // another connection
    {
        UnitOfWork work(*other, Writing::FromFirstRead);
        renameFirst(work, "by another connection");
    }
    EXPECT_EQ(titles(), (std::vector<std::string>{"by another connection", "t2", "t3"}));

    {
        UnitOfWork work(store(), Writing::AtSave);  // another unit of this store
        renameFirst(work, "by another unit");
    }
    EXPECT_EQ(titles(), (std::vector<std::string>{"by another unit", "t2", "t3"}));

    exec(path(),
         "CREATE TRIGGER Refuse BEFORE UPDATE ON Thing WHEN new.title = 'refused' BEGIN "
         "SELECT RAISE(ABORT, 'refused by test'); END;");
    {
        UnitOfWork work(store(), Writing::FromFirstRead);
        work.fetchThings().at(1)->setTitle("refused");
        EXPECT_THROW(work.save(), platform::Error);
    }
    EXPECT_EQ(titles(), (std::vector<std::string>{"by another unit", "t2", "t3"}));

    // Deleted records leave the kept ones with every relationship still whole.
    {
        UnitOfWork work(store(), Writing::FromFirstRead);
        work.remove(byName(work.fetchTags(), "x"));
        work.remove(byName(work.fetchProjects(), "a"));
        work.save();
    }
    UnitOfWork work(store(), Writing::FromFirstRead);
    Thing* t3 = byName(work.fetchThings(), "t3");
    ASSERT_NE(t3, nullptr);
    EXPECT_EQ(t3->tags().size(), 1u);
    EXPECT_EQ(work.fetchProjects().size(), 2u);
    EXPECT_EQ(byName(work.fetchThings(), "t2")->project()->name(), "root");
}

TEST_F(UnitOfWorkTest, AFailedBlobWriteFailsTheSaveAndCommitsNothing) {
    test::FaultyFileSystem faulty;
    auto store = Store::open(path(), faulty);
    UnitOfWork work(*store);
    Thing* thing = work.insert(std::make_unique<Thing>(ThingKind::image, "i"));
    thing->setData(Content::fromBytes("first"));
    thing->setIconData(Content::fromBytes("second"));
    faulty.failNth(test::FaultyFileSystem::Operation::Write, 2, ENOSPC);
    EXPECT_THROW(work.save(), platform::Error);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Thing"), 0);
    work.save();  // the fault has passed: the same changes save
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Thing WHERE iconDataSize = 6"), 1);
}

// What runs beside a save has ended when the save returns, and when it fails: the caller
// rolls the changes back only after. With nothing to write it runs all the same.
TEST_F(UnitOfWorkTest, WorkBesideASaveEndsWithIt) {
    test::FaultyFileSystem faulty;
    auto store = Store::open(path(), faulty);
    UnitOfWork work(*store);
    Thing* thing = work.insert(std::make_unique<Thing>(ThingKind::image, "i"));
    thing->setData(Content::fromBytes("bytes"));
    int ended = 0;
    std::string seen;
    auto beside = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = thing->title();
        ++ended;
    };
    faulty.failNth(test::FaultyFileSystem::Operation::Write, 1, ENOSPC);
    EXPECT_THROW(work.save(beside), platform::Error);
    EXPECT_EQ(ended, 1);
    work.save(beside);
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(seen, "i");
    work.save(beside);
    EXPECT_EQ(ended, 3);
}

TEST_F(UnitOfWorkTest, ManyContentsAreAllWrittenOrTheSaveFails) {
    test::FaultyFileSystem faulty;
    auto store = Store::open(path(), faulty);
    UnitOfWork work(*store);
    std::vector<Content> contents;
    for (int i = 0; i < 40; ++i) {
        contents.push_back(Content::fromBytes("content " + std::to_string(i % 30)));
        Thing* thing = work.insert(std::make_unique<Thing>(ThingKind::image, "i"));
        thing->setData(contents.back());
        thing->setThumbnailData(contents[i / 2]);
    }
    faulty.failNth(test::FaultyFileSystem::Operation::Write, 17, EIO);
    EXPECT_THROW(work.save(), platform::Error);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM Thing"), 0);
    work.save();
    EXPECT_EQ(queryInt(path(), "SELECT count(DISTINCT dataSha256) FROM Thing"), 30);
    for (const auto& content : contents) {
        EXPECT_EQ(store->readBytes(Content::stored(content.sha256, content.size)),
                  content.pending->bytes);
    }
}

TEST_F(UnitOfWorkTest, RecordsOutsideTheUnitOfWorkAreRefused) {
    buildTree();
    UnitOfWork work(store());
    UnitOfWork other(store());
    Thing* t1 = byName(work.fetchThings(), "t1");
    EXPECT_THROW(other.remove(t1), platform::Error);
    Tag loose("loose");
    t1->setTags({&loose});
    EXPECT_THROW(work.save(), platform::Error);
    work.rollback();
    Tag* foreign = byName(other.fetchTags(), "y");
    t1->setTags({foreign});
    EXPECT_THROW(work.save(), platform::Error);
    EXPECT_EQ(queryInt(path(), "SELECT count(*) FROM ThingTags"), 4);
}

}  // namespace
}  // namespace tavro::store
