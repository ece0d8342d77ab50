// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Content;
using model::Thing;
using model::ThingKind;

void exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(code, SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

TEST(StoreOpenTest, CreatesFileFoldersAndReopens) {
    test::TempDir dir;
    std::string path = dir.file("Library/Tavro.store");
    {
        auto store = Store::open(path);
        UnitOfWork work(*store);
        EXPECT_TRUE(work.fetchThings().empty());
        work.insert(std::make_unique<Thing>(ThingKind::note, "kept"));
        work.save();
    }
    EXPECT_TRUE(platform::FileSystem::real().isDirectory(path + "-blobs"));
    auto store = Store::open(path);
    UnitOfWork work(*store);
    ASSERT_EQ(work.fetchThings().size(), 1u);
    EXPECT_EQ(work.fetchThings()[0]->title(), "kept");
}

TEST(StoreOpenTest, ForeignFilesFailAndAreLeftUntouched) {
    test::TempDir dir;
    auto& fs = platform::FileSystem::real();
    std::string text = dir.file("text.store");
    std::string garbage(5000, 'x');
    fs.writeFileAtomically(text, garbage);
    EXPECT_THROW(Store::open(text), platform::Error);
    EXPECT_EQ(fs.readFile(text), garbage);
    EXPECT_FALSE(fs.exists(text + "-wal"));
    EXPECT_FALSE(fs.exists(text + "-blobs"));

    std::string other = dir.file("other.store");
    exec(other, "CREATE TABLE Notes (id INTEGER PRIMARY KEY, body TEXT)");
    std::string before = fs.readFile(other);
    try {
        Store::open(other);
        FAIL() << "a database of another schema opened";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.value()->code, 134100);
        EXPECT_NE(std::string(error.what()).find("other.store"), std::string::npos);
    }
    EXPECT_EQ(fs.readFile(other), before);

    std::string newer = dir.file("newer.store");
    Store::open(newer).reset();
    exec(newer, "UPDATE StoreMetadata SET value = '2.0.0' WHERE key = 'schemaVersion'");
    EXPECT_THROW(Store::open(newer), platform::Error);
}

TEST(StoreOpenTest, MissingValuesReadTheSchemaDefaults) {
    test::TempDir dir;
    std::string path = dir.file("Tavro.store");
    Store::open(path).reset();
    // Rows written by something that set only some columns, or NULLs.
    exec(path,
         "INSERT INTO Thing (id) VALUES (7);"
         "INSERT INTO Thing (id, kindRaw, title, aspectRatio, isStarred, fileSize, createdAt) "
         "VALUES (8, NULL, NULL, NULL, NULL, NULL, NULL);"
         "INSERT INTO Tag (id, name) VALUES (3, NULL);"
         "INSERT INTO Project (id, sortOrder, parent) VALUES (4, NULL, 999);");
    auto store = Store::open(path);
    UnitOfWork work(*store);
    auto things = work.fetchThings();
    ASSERT_EQ(things.size(), 2u);
    for (Thing* thing : things) {
        EXPECT_EQ(thing->kindRaw(), "note");
        EXPECT_EQ(thing->title(), "");
        EXPECT_EQ(thing->aspectRatio(), 1.0);
        EXPECT_FALSE(thing->isStarred());
        EXPECT_EQ(thing->fileSize(), 0);
        EXPECT_FALSE(thing->data().has_value());
        EXPECT_FALSE(thing->trashedAt().has_value());
        EXPECT_GT(thing->createdAt(), 1.6e9);
    }
    EXPECT_NE(things[0]->uuid(), things[1]->uuid());
    ASSERT_EQ(work.fetchTags().size(), 1u);
    EXPECT_EQ(work.fetchTags()[0]->name(), "");
    ASSERT_EQ(work.fetchProjects().size(), 1u);
    EXPECT_EQ(work.fetchProjects()[0]->parent(), nullptr);  // a dangling parent reads absent
}

TEST(StoreOpenTest, ValuesRoundTripExactly) {
    test::TempDir dir;
    std::string path = dir.file("Tavro.store");
    std::string text("a\0b\xff\xfe \u00e9\u2019 ", 12);
    {
        auto store = Store::open(path);
        UnitOfWork work(*store);
        auto thing = std::make_unique<Thing>(ThingKind::video, text);
        thing->setKindRaw("Podcast");
        thing->setMetadataJSON("{\"a\":1}");
        thing->setCreatedAt(1700000000.0001234);
        thing->setUpdatedAt(-12.5e-4);
        thing->setTrashedAt(0.0);
        thing->setFileSize(INT64_MIN);
        thing->setAspectRatio(16.0 / 9.0);
        work.insert(std::move(thing));
        work.save();
    }
    auto store = Store::open(path);
    UnitOfWork work(*store);
    Thing* thing = work.fetchThings().at(0);
    EXPECT_EQ(thing->title(), text);
    EXPECT_EQ(thing->kindRaw(), "Podcast");
    EXPECT_EQ(thing->kind(), ThingKind::note);
    EXPECT_EQ(thing->createdAt(), 1700000000.0001234);
    EXPECT_EQ(thing->updatedAt(), -12.5e-4);
    EXPECT_EQ(thing->trashedAt(), std::optional<double>(0.0));
    EXPECT_EQ(thing->fileSize(), INT64_MIN);
    EXPECT_EQ(thing->aspectRatio(), 16.0 / 9.0);
}

// A large save's log is copied into the store file when the owner says nobody waits, not
// inside the commit a host is waiting for; and copying it changes nothing a reader sees.
TEST(StoreOpenTest, TheLogOfALargeSaveIsCopiedWhenNobodyWaits) {
    test::TempDir dir;
    auto& fs = platform::FileSystem::real();
    std::string path = dir.file("Tavro.store");
    auto store = Store::open(path);
    const uint64_t empty = fs.fileSize(path);
    {
        UnitOfWork work(*store);
        for (int i = 0; i < 2000; ++i) {
            work.insert(std::make_unique<Thing>(ThingKind::note, std::string(4000, 'a' + i % 26)));
        }
        work.save();
    }
    EXPECT_EQ(fs.fileSize(path), empty);
    EXPECT_GT(fs.fileSize(path + "-wal"), 4u << 20);
    store->checkpointIfDue();
    EXPECT_GT(fs.fileSize(path), 4u << 20);
    UnitOfWork work(*store);
    EXPECT_EQ(work.fetchThings().size(), 2000u);
}

TEST(StoreBlobTest, ContentsLiveBesideTheStoreByDigest) {
    test::TempDir dir;
    auto& fs = platform::FileSystem::real();
    std::string path = dir.file("Tavro.store");
    std::string source = dir.file("source.bin");
    std::string bytes(300000, '\x7f');
    fs.writeFileAtomically(source, bytes);
    std::string digest = platform::sha256Hex(bytes);
    {
        auto store = Store::open(path);
        UnitOfWork work(*store);
        auto thing = std::make_unique<Thing>(ThingKind::image, "i");
        thing->setData(Content::fromFile(source, digest, bytes.size()));
        thing->setThumbnailData(Content::fromBytes(""));
        work.insert(std::move(thing));
        work.save();
        EXPECT_EQ(store->blobPath(digest), path + "-blobs/" + digest);
        EXPECT_EQ(fs.readFile(store->blobPath(digest)), bytes);
    }
    fs.removeAll(source);
    auto store = Store::open(path);
    UnitOfWork work(*store);
    Thing* thing = work.fetchThings().at(0);
    ASSERT_TRUE(thing->data() && thing->thumbnailData());
    EXPECT_FALSE(thing->iconData().has_value());
    EXPECT_EQ(thing->data()->sha256, digest);
    EXPECT_EQ(thing->data()->size, bytes.size());
    EXPECT_TRUE(thing->data()->isStored());
    EXPECT_EQ(thing->thumbnailData()->size, 0u);  // empty, not absent
    EXPECT_EQ(store->readBytes(*thing->data()), bytes);
    EXPECT_EQ(store->readBytes(*thing->thumbnailData()), "");
}

TEST(StoreBlobTest, ChangedSourceFailsTheSaveAndLeavesTheStoreAsItWas) {
    test::TempDir dir;
    auto& fs = platform::FileSystem::real();
    std::string source = dir.file("source.bin");
    fs.writeFileAtomically(source, "original");
    auto content = Content::fromFile(source, platform::sha256Hex("original"), 8);
    fs.writeFileAtomically(source, "tampered");
    auto store = Store::open(dir.file("Tavro.store"));
    UnitOfWork work(*store);
    Thing* thing = work.insert(std::make_unique<Thing>(ThingKind::document, "d"));
    thing->setData(content);
    EXPECT_THROW(work.save(), platform::Error);
    EXPECT_FALSE(fs.exists(store->blobPath(content.sha256)));
    work.rollback();
    UnitOfWork fresh(*store);
    EXPECT_TRUE(fresh.fetchThings().empty());
}

TEST(StoreBlobTest, UnreferencedBlobsGoOnlyAfterCommitAndSharedOnesStay) {
    test::TempDir dir;
    auto& fs = platform::FileSystem::real();
    auto store = Store::open(dir.file("Tavro.store"));
    auto shared = Content::fromBytes("shared");
    auto alone = Content::fromBytes("alone");
    UnitOfWork work(*store);
    Thing* a = work.insert(std::make_unique<Thing>(ThingKind::image, "a"));
    Thing* b = work.insert(std::make_unique<Thing>(ThingKind::image, "b"));
    a->setData(shared);
    a->setIconData(alone);
    b->setThumbnailData(shared);
    work.save();
    a->setIconData(std::nullopt);
    work.remove(a);
    // Not yet saved: both blobs still there.
    EXPECT_TRUE(fs.exists(store->blobPath(alone.sha256)));
    work.save();
    EXPECT_FALSE(fs.exists(store->blobPath(alone.sha256)));
    EXPECT_TRUE(fs.exists(store->blobPath(shared.sha256)));  // b still refers to it
    work.remove(b);
    work.save();
    EXPECT_FALSE(fs.exists(store->blobPath(shared.sha256)));
}

TEST(StoreBlobTest, OpeningRemovesStrayFilesButNoReferencedBlob) {
    test::TempDir dir;
    auto& fs = platform::FileSystem::real();
    std::string path = dir.file("Tavro.store");
    auto kept = Content::fromBytes("kept");
    {
        auto store = Store::open(path);
        UnitOfWork work(*store);
        work.insert(std::make_unique<Thing>(ThingKind::note, "n"))->setData(kept);
        work.save();
    }
    fs.writeFileAtomically(path + "-blobs/" + platform::sha256Hex("orphan"), "orphan");
    fs.writeFileAtomically(path + "-blobs/.tmp-partial", "half");
    auto store = Store::open(path);
    EXPECT_TRUE(fs.exists(store->blobPath(kept.sha256)));
    EXPECT_FALSE(fs.exists(store->blobPath(platform::sha256Hex("orphan"))));
    EXPECT_FALSE(fs.exists(path + "-blobs/.tmp-partial"));
}

TEST(SyncEventTest, HandlersSeeEventsUntilUnsubscribed) {
    test::TempDir dir;
    auto store = Store::open(dir.file("Tavro.store"));
    std::vector<SyncEvent> seen;
    auto token = store->syncEvents().subscribe([&](const SyncEvent& e) { seen.push_back(e); });
    SyncEventSource::Token inner = 0;
    // A handler that subscribes while called does not see the event being posted.
    auto adder = store->syncEvents().subscribe([&](const SyncEvent&) {
        if (inner == 0) {
            inner = store->syncEvents().subscribe([&](const SyncEvent& e) { seen.push_back(e); });
        }
    });
    store->syncEvents().post({SyncEvent::Type::Import, std::nullopt, false, nullptr});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].endDate.has_value());
    auto error = platform::makeError(platform::kCloudKitErrorDomain, 3, "offline");
    store->syncEvents().post({SyncEvent::Type::Export, 12.5, false, error});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].error, error);
    EXPECT_EQ(seen[1].endDate, 12.5);
    store->syncEvents().unsubscribe(token);
    store->syncEvents().unsubscribe(inner);
    store->syncEvents().unsubscribe(adder);
    store->syncEvents().post({SyncEvent::Type::Setup, 1.0, true, nullptr});
    EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
}  // namespace tavro::store
