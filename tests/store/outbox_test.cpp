// SPDX-License-Identifier: MIT
// The outbox: which records a mirrored store's saves changed, written with the change itself,
// one row per record, and never echoing what the mirror brought from the server.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "store/ChangeWriter.h"
#include "store/Outbox.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Project;
using model::RecordType;
using model::Tag;
using model::Thing;
using model::ThingKind;

void exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

int64_t countRows(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    std::string sql = "SELECT count(*) FROM " + table;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    int64_t count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return count;
}

Thing* titled(UnitOfWork& work, const std::string& title) {
    for (Thing* thing : work.fetchThings()) {
        if (thing->title() == title) {
            return thing;
        }
    }
    return nullptr;
}

class OutboxTest : public ::testing::Test {
  protected:
    std::string path() const { return dir_.file("Tavro.store"); }
    Store& store() {
        if (!store_) {
            store_ = Store::open(path());
        }
        return *store_;
    }
    Outbox& outbox() {
        if (!outbox_) {
            store();
            outbox_ = std::make_unique<Outbox>(path());
        }
        return *outbox_;
    }

    model::PersistentId insertThing(const std::string& title) {
        UnitOfWork work(store());
        Thing* thing = work.insert(std::make_unique<Thing>(ThingKind::note, title));
        work.save();
        return thing->id();
    }

    // The pending entry of a record, if it has one.
    std::optional<Outbox::Entry> entryOf(model::PersistentId id) {
        for (const Outbox::Entry& entry : outbox().pending(1000)) {
            if (entry.type == id.type && entry.row == id.row) {
                return entry;
            }
        }
        return std::nullopt;
    }

    test::TempDir dir_;
    std::unique_ptr<Store> store_;
    std::unique_ptr<Outbox> outbox_;
};

TEST_F(OutboxTest, AStoreWithoutAMirrorRecordsNothing) {
    insertThing("local");
    {
        UnitOfWork work(store());
        titled(work, "local")->setTitle("still local");
        work.insert(std::make_unique<Tag>("x"));
        work.save();
    }
    EXPECT_EQ(countRows(path(), "Outbox"), 0);
    EXPECT_FALSE(outbox().account().has_value());
}

TEST_F(OutboxTest, AttachingQueuesWhatWasSavedBeforeOnce) {
    auto before = insertThing("before");
    {
        UnitOfWork work(store());
        work.insert(std::make_unique<Tag>("x"));
        work.insert(std::make_unique<Project>("p", nullptr));
        work.save();
    }
    outbox().attach("_account");
    auto pending = outbox().pending(100);
    ASSERT_EQ(pending.size(), 3u);
    // What records name is queued before the records that name it, whatever the rows.
    EXPECT_EQ(pending[0].type, model::RecordType::Tag);
    EXPECT_EQ(pending[1].type, model::RecordType::Project);
    EXPECT_EQ(pending[2].type, model::RecordType::Thing);
    auto entry = entryOf(before);
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->deleted);
    EXPECT_EQ(entry->serverVersion, 0);
    EXPECT_EQ(outbox().account(), "_account");

    // Attaching to the same account again queues nothing more and keeps what was pushed.
    outbox().acknowledge(*entry, 4);
    outbox().attach("_account");
    EXPECT_EQ(outbox().pending(100).size(), 2u);
    EXPECT_EQ(outbox().serverVersion(before.type, before.row), 4);

    // Another account knows none of this account's versions: everything goes again.
    outbox().attach("_other");
    EXPECT_EQ(outbox().pending(100).size(), 3u);
    EXPECT_EQ(outbox().serverVersion(before.type, before.row), 0);
}

TEST_F(OutboxTest, OneRowPerRecordHoldsItsLatestChange) {
    outbox().attach("_account");
    auto id = insertThing("first");
    auto inserted = entryOf(id);
    ASSERT_TRUE(inserted);
    for (const char* title : {"second", "third"}) {
        UnitOfWork work(store());
        Thing* thing = titled(work, title == std::string("second") ? "first" : "second");
        ASSERT_NE(thing, nullptr);
        thing->setTitle(title);
        work.save();
    }
    auto edited = entryOf(id);
    ASSERT_TRUE(edited);
    EXPECT_GT(edited->change, inserted->change);
    EXPECT_FALSE(edited->deleted);
    EXPECT_EQ(countRows(path(), "Outbox"), 1);
    {
        UnitOfWork work(store());
        work.remove(titled(work, "third"));
        work.save();
    }
    auto removed = entryOf(id);
    ASSERT_TRUE(removed);
    EXPECT_TRUE(removed->deleted);
    EXPECT_EQ(countRows(path(), "Outbox"), 1);
}

TEST_F(OutboxTest, DeleteRulesQueueEveryRecordTheyChange) {
    outbox().attach("_account");
    {
        UnitOfWork work(store());
        auto* root = work.insert(std::make_unique<Project>("root", nullptr));
        work.insert(std::make_unique<Project>("child", root));
        auto* tag = work.insert(std::make_unique<Tag>("x"));
        auto* thing = work.insert(std::make_unique<Thing>(ThingKind::note, "tagged"));
        thing->setTags({tag});
        thing->setProject(root);
        work.save();
    }
    for (const auto& entry : outbox().pending(100)) {
        outbox().acknowledge(entry, 1);
    }
    ASSERT_TRUE(outbox().pending(100).empty());
    {
        UnitOfWork work(store());
        work.remove(work.fetchTags().front());
        for (Project* project : work.fetchProjects()) {
            if (project->name() == "root") {
                work.remove(project);
            }
        }
        work.save();
    }
    auto pending = outbox().pending(100);
    // The tag and both projects go; the thing stays, without its tag and project.
    ASSERT_EQ(pending.size(), 4u);
    EXPECT_EQ(std::count_if(pending.begin(), pending.end(),
                            [](const auto& entry) { return entry.deleted; }),
              3);
    auto thing = std::find_if(pending.begin(), pending.end(),
                              [](const auto& entry) { return entry.type == RecordType::Thing; });
    ASSERT_NE(thing, pending.end());
    EXPECT_FALSE(thing->deleted);
}

// A save whose change fails writes no outbox row, and one whose outbox row fails writes no
// change: both are in one transaction.
TEST_F(OutboxTest, TheChangeAndItsRowAreWrittenTogetherOrNotAtAll) {
    outbox().attach("_account");
    exec(path(),
         "CREATE TRIGGER refuse AFTER INSERT ON Outbox WHEN NEW.type = 1 "
         "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    {
        UnitOfWork work(store());
        work.insert(std::make_unique<Thing>(ThingKind::note, "with a tag"));
        work.insert(std::make_unique<Tag>("x"));
        EXPECT_ANY_THROW(work.save());
        work.rollback();
    }
    EXPECT_EQ(countRows(path(), "Thing"), 0);
    EXPECT_EQ(countRows(path(), "Outbox"), 0);

    exec(path(),
         "DROP TRIGGER refuse; CREATE TRIGGER refuse AFTER INSERT ON Thing "
         "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    {
        UnitOfWork work(store());
        work.insert(std::make_unique<Tag>("x"));
        work.insert(std::make_unique<Thing>(ThingKind::note, "refused"));
        EXPECT_ANY_THROW(work.save());
        work.rollback();
    }
    EXPECT_EQ(countRows(path(), "Tag"), 0);
    EXPECT_EQ(countRows(path(), "Outbox"), 0);
}

// A push acknowledged after the record was saved again must not take the later change with it.
TEST_F(OutboxTest, AnAcknowledgementKeepsALaterChange) {
    outbox().attach("_account");
    auto id = insertThing("pushed");
    auto pushed = entryOf(id);
    ASSERT_TRUE(pushed);
    {
        UnitOfWork work(store());
        titled(work, "pushed")->setTitle("changed during the push");
        work.save();
    }
    outbox().acknowledge(*pushed, 1);
    auto later = entryOf(id);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->serverVersion, 1);
    EXPECT_FALSE(later->deleted);

    // The latest change's number is never reused, even once its row has gone.
    outbox().acknowledge(*later, 2);
    EXPECT_FALSE(entryOf(id));
    {
        UnitOfWork work(store());
        titled(work, "changed during the push")->setTitle("again");
        work.save();
    }
    auto again = entryOf(id);
    ASSERT_TRUE(again);
    EXPECT_GT(again->change, later->change);
    outbox().acknowledge(*later, 2);
    EXPECT_TRUE(entryOf(id));
}

TEST_F(OutboxTest, SavesOfAnotherConnectionAreRecordedToo) {
    outbox().attach("_account");
    auto other = Store::open(path());
    {
        UnitOfWork work(*other);
        work.insert(std::make_unique<Thing>(ThingKind::note, "elsewhere"));
        work.save();
    }
    EXPECT_EQ(outbox().pending(10).size(), 1u);
}

TEST_F(OutboxTest, WhatTheServerBroughtIsNotEchoedAndMovesTheCursorWithIt) {
    outbox().attach("_account");
    auto local = insertThing("local edit");
    ASSERT_TRUE(entryOf(local));
    {
        ChangeWriter::FromServer fromServer;
        UnitOfWork work(store(), UnitOfWork::Writing::FromFirstRead);
        Thing* thing = titled(work, "local edit");
        thing->setTitle("server's edit");
        Thing* arrived = work.insert(std::make_unique<Thing>(ThingKind::link, "arrived"));
        fromServer.versions = {{RecordType::Thing, local.row, 7},
                               {RecordType::Thing, arrived->id().row, 3}};
        fromServer.cursor = 42;
        work.save();
        EXPECT_TRUE(fromServer.versions.empty());
        EXPECT_FALSE(fromServer.cursor);
    }
    EXPECT_TRUE(outbox().pending(10).empty());
    EXPECT_EQ(outbox().cursor(), 42);
    EXPECT_EQ(outbox().serverVersion(RecordType::Thing, local.row), 7);

    // Once the guard is gone, saves are local changes again.
    {
        UnitOfWork work(store());
        titled(work, "arrived")->setTitle("edited here");
        work.save();
    }
    auto pending = outbox().pending(10);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].serverVersion, 3);
}

// A page of server changes that changes no record here (every local version newer) still
// moves the cursor and keeps the versions, when its unit of work read under the write lock.
TEST_F(OutboxTest, APageThatChangesNothingStillMovesTheCursor) {
    outbox().attach("_account");
    auto local = insertThing("newer here");
    {
        ChangeWriter::FromServer fromServer;
        UnitOfWork work(store(), UnitOfWork::Writing::FromFirstRead);
        ASSERT_NE(titled(work, "newer here"), nullptr);
        fromServer.versions = {{RecordType::Thing, local.row, 5}};
        fromServer.cursor = 12;
        work.save();
    }
    EXPECT_EQ(outbox().cursor(), 12);
    auto entry = entryOf(local);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->serverVersion, 5);
}

TEST_F(OutboxTest, AFailedSaveFromTheServerLeavesCursorAndVersions) {
    outbox().attach("_account");
    exec(path(),
         "CREATE TRIGGER refuse AFTER INSERT ON Thing BEGIN SELECT RAISE(ABORT, 'refused'); END");
    ChangeWriter::FromServer fromServer;
    fromServer.cursor = 9;
    fromServer.versions = {{RecordType::Thing, 1, 1}};
    {
        UnitOfWork work(store());
        work.insert(std::make_unique<Thing>(ThingKind::note, "refused"));
        EXPECT_ANY_THROW(work.save());
        work.rollback();
    }
    EXPECT_EQ(outbox().cursor(), 0);
    EXPECT_EQ(outbox().serverVersion(RecordType::Thing, 1), 0);
    // Still pending in the guard, for the retry.
    EXPECT_EQ(fromServer.cursor, 9);
}

}  // namespace
}  // namespace tavro::store
