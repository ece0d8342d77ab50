// SPDX-License-Identifier: MIT
// One store file used through several connections at once, as several processes use it: each
// Store here is a connection of its own, so locks between them behave as between processes.
// What must hold: a writer's decisions stand on what is stored when it writes, row identifiers
// never collide, and no blob a writer relies on is collected, nor anything through a link.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/ExchangeFixture.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Content;
using model::Thing;
using model::ThingKind;
namespace fs = std::filesystem;

class SharedStoreTest : public ::testing::Test {
  protected:
    test::TempDir temp_;
    std::string path_ = temp_.file("Library/Tavro.store");
};

TEST_F(SharedStoreTest, AWriterDecidesOnWhatIsStoredWhenItWrites) {
    auto first = Store::open(path_);
    auto second = Store::open(path_);
    {
        UnitOfWork seed(*first);
        seed.insert(std::make_unique<Thing>(ThingKind::note, "v0"))->setUpdatedAt(0);
        seed.save();
    }
    // The first writer reads, and holds the store from then on.
    UnitOfWork one(*first, UnitOfWork::Writing::FromFirstRead);
    Thing* mine = one.fetchThings().at(0);
    std::atomic<bool> secondRead{false};
    std::string secondSaw;
    std::thread other([&] {
        UnitOfWork two(*second, UnitOfWork::Writing::FromFirstRead);
        Thing* theirs = two.fetchThings().at(0);
        secondRead = true;
        secondSaw = theirs->title();
        // Newer wins, judged on what the second writer read: the first writer's 20 > 10.
        if (theirs->updatedAt() < 10) {
            theirs->setTitle("older");
            theirs->setUpdatedAt(10);
        }
        two.save();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(secondRead) << "the second writer read while the first held the store";
    mine->setTitle("newer");
    mine->setUpdatedAt(20);
    one.save();
    other.join();
    EXPECT_EQ(secondSaw, "newer");
    UnitOfWork check(*second);
    EXPECT_EQ(check.fetchThings().at(0)->title(), "newer");
}

TEST_F(SharedStoreTest, WritersAddingAtOnceTakeDistinctRows) {
    auto first = Store::open(path_);
    auto second = Store::open(path_);
    auto add = [](Store& store, const char* prefix) {
        for (int round = 0; round < 5; ++round) {
            UnitOfWork work(store, UnitOfWork::Writing::FromFirstRead);
            work.fetchThings();
            for (int i = 0; i < 10; ++i) {
                work.insert(std::make_unique<Thing>(ThingKind::note, prefix));
            }
            work.save();
        }
    };
    std::thread other([&] { add(*second, "b"); });
    EXPECT_NO_THROW(add(*first, "a"));
    other.join();
    UnitOfWork check(*first);
    EXPECT_EQ(check.fetchThings().size(), 100u);
}

TEST_F(SharedStoreTest, ConnectionsOpeningANewStoreAtOnceAllWaitTheirTurn) {
    // A new store changes its journal on first opening; openers that meet there must wait
    // for one another, not fail with the store "locked".
    constexpr int kStores = 40;
    constexpr int kOpeners = 4;
    for (int round = 0; round < kStores; ++round) {
        const std::string path = temp_.file("round" + std::to_string(round) + "/Tavro.store");
        std::latch ready(kOpeners);
        std::vector<std::string> failures(kOpeners);
        std::vector<std::thread> openers;
        for (int i = 0; i < kOpeners; ++i) {
            openers.emplace_back([&, i] {
                ready.arrive_and_wait();
                try {
                    auto store = Store::open(path);
                    UnitOfWork(*store).fetchThings();
                } catch (const std::exception& error) {
                    failures[i] = error.what();
                }
            });
        }
        for (auto& opener : openers) {
            opener.join();
        }
        for (const auto& failure : failures) {
            ASSERT_EQ(failure, "") << "opening store " << round << " at once with others";
        }
    }
}

TEST_F(SharedStoreTest, NoBlobIsCollectedWhileAWriterMayStillCommitIt) {
    auto writer = Store::open(path_);
    std::string digest = platform::sha256Hex("pending");
    std::string blob = writer->blobPath(digest);
    {
        // A writer between its blobs and its commit holds the folder shared.
        auto held = writer->keepBlobs();
        platform::FileSystem::real().writeFileAtomically(blob, "pending");
        auto opened = Store::open(path_);  // collects what no row names, if it may
        EXPECT_TRUE(fs::exists(blob));
    }
    auto reopened = Store::open(path_);
    EXPECT_FALSE(fs::exists(blob)) << "an unreferenced blob outlived a quiet opening";
}

TEST_F(SharedStoreTest, ReplacedContentWaitsForOtherWritersThenGoes) {
    auto store = Store::open(path_);
    auto old = Content::fromBytes("old");
    {
        UnitOfWork seed(*store);
        seed.insert(std::make_unique<Thing>(ThingKind::image, "t"))->setData(old);
        seed.save();
    }
    {
        UnitOfWork work(*store);
        auto busy = store->keepBlobs();  // another writer, between its blobs and its commit
        work.fetchThings().at(0)->setData(Content::fromBytes("new"));
        work.save();
        EXPECT_TRUE(fs::exists(store->blobPath(old.sha256)));
    }  // the other writer is done first, then this unit of work ends and collects
    EXPECT_FALSE(fs::exists(store->blobPath(old.sha256)));
}

TEST_F(SharedStoreTest, NothingIsDeletedThroughALinkOrInsideASubfolder) {
    std::string outside = temp_.file("outside");
    fs::create_directories(outside + "/sub");
    std::string orphan = platform::sha256Hex("orphan");
    platform::FileSystem::real().writeFileAtomically(outside + "/" + orphan, "orphan");
    platform::FileSystem::real().writeFileAtomically(outside + "/.hidden", "x");
    platform::FileSystem::real().writeFileAtomically(outside + "/sub/" + orphan, "orphan");
    fs::create_directories(temp_.file("Library"));
    fs::create_directory_symlink(outside, path_ + "-blobs");
    { auto store = Store::open(path_); }
    EXPECT_TRUE(fs::exists(outside + "/" + orphan));
    EXPECT_TRUE(fs::exists(outside + "/.hidden"));
    EXPECT_TRUE(fs::exists(outside + "/sub/" + orphan));

    // A real folder: a stray sub-folder is not the store's to empty.
    fs::remove(path_ + "-blobs");
    fs::create_directories(path_ + "-blobs/sub");
    platform::FileSystem::real().writeFileAtomically(path_ + "-blobs/sub/" + orphan, "orphan");
    { auto store = Store::open(path_); }
    EXPECT_TRUE(fs::exists(path_ + "-blobs/sub/" + orphan));
}

TEST_F(SharedStoreTest, TheStoreItsJournalAndFoldersArePrivate) {
    // Folders an earlier version left readable by others are made private as well.
    fs::create_directories(path_ + "-blobs");
    ::chmod(temp_.file("Library").c_str(), 0755);
    ::chmod((path_ + "-blobs").c_str(), 0755);
    mode_t previous = ::umask(022);
    {
        auto store = Store::open(path_);
        UnitOfWork work(*store);
        work.insert(std::make_unique<Thing>(ThingKind::note, "n"));
        work.save();
        for (const char* suffix : {"", "-wal", "-shm"}) {
            struct stat status {};
            ASSERT_EQ(::stat((path_ + suffix).c_str(), &status), 0) << suffix;
            EXPECT_EQ(status.st_mode & 0777, 0600u) << suffix;
        }
        for (const std::string& folder : {temp_.file("Library"), path_ + "-blobs"}) {
            struct stat status {};
            ASSERT_EQ(::stat(folder.c_str(), &status), 0) << folder;
            EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
        }
    }
    ::umask(previous);
}

class StoreRepairTest : public test::ExchangeFixture {};

TEST_F(StoreRepairTest, AMissingBlobComesBackWhenTheHostSendsTheFileAgain) {
    std::string id = "6f0c1f0e-5a55-4f57-9a37-1c4f3b0f9a01";
    std::string file = writeAsset("outgoing/a.png", "picture bytes");
    platform::json::Object fields{{"kind", "image"}, {"data", file}, {"thumbnail", file}};
    exchange({test::thing(id, fields)});
    std::string blob = store_->blobPath(platform::sha256Hex("picture bytes"));
    ASSERT_TRUE(fs::remove(blob));

    // Without the file the store cannot answer; with it, it mends itself.
    EXPECT_FALSE(exchangeError({}).empty());
    auto response = exchange({test::thing(id, fields)});
    EXPECT_TRUE(fs::exists(blob));
    EXPECT_EQ(platform::FileSystem::real().readFile(directory_ + "/received/" + id + ".data"),
              "picture bytes");
    EXPECT_NE(exchange({}), nullptr);
}

}  // namespace
}  // namespace tavro::store
