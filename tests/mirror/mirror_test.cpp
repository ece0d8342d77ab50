// SPDX-License-Identifier: MIT
// Machines of one account converge through the server: what each creates, edits, moves, tags
// and deletes reaches the others, races are settled alike everywhere, and neither a killed
// connection nor altered content on the server loses or corrupts anything.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "MirrorMachines.h"
#include "mirror/ContentTransfer.h"
#include "mirror/ServerError.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "store/Outbox.h"
#include "support/TempDir.h"

namespace tavro::test {
namespace {

using model::Project;
using model::Tag;
using model::Thing;
using model::ThingKind;
using store::UnitOfWork;

class MirrorTest : public MirrorFixture {};

int64_t serverCount(mirror::Connection& connection, const std::string& where) {
    return connection.query("SELECT count(*) FROM tavro.records WHERE " + where, {}).integer(0, 0);
}

TEST_F(MirrorTest, TwoMachinesConvergeAfterCreatingEditingMovingTaggingAndDeleting) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    a.edit([](UnitOfWork& work) {
        Project* trips = work.insert(std::make_unique<Project>("Trips", nullptr));
        Project* sea = work.insert(std::make_unique<Project>("Sea", trips));
        Tag* blue = work.insert(std::make_unique<Tag>("blue"));
        Thing* harbour = work.insert(std::make_unique<Thing>(ThingKind::image, "Harbour"));
        harbour->setData(model::Content::fromBytes(std::string(5 * 1024 * 1024 + 3, 'h')));
        harbour->setProject(sea);
        harbour->addTag(*blue);
        work.insert(std::make_unique<Thing>(ThingKind::note, "Packing list"));
    });
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    ASSERT_EQ(a.library(), b.library());
    {
        UnitOfWork work(*b.store);
        Thing* harbour = b.thing(work, "Harbour");
        ASSERT_NE(harbour, nullptr);
        EXPECT_EQ(harbour->project()->path(), "Trips / Sea");
        EXPECT_EQ(b.store->readBytes(*harbour->data()), std::string(5 * 1024 * 1024 + 3, 'h'));
    }

    b.edit([&](UnitOfWork& work) {
        b.thing(work, "Packing list")->setProject(b.project(work, "Trips"));
        b.thing(work, "Packing list")->setTitle("Packing");
        b.thing(work, "Packing")->touch();
        work.remove(b.tag(work, "blue"));
    });
    a.edit([&](UnitOfWork& work) {
        Project* sea = a.project(work, "Sea");
        sea->setName("Coast");
        work.insert(std::make_unique<Tag>("green"));
    });
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
    {
        UnitOfWork work(*a.store);
        EXPECT_EQ(a.thing(work, "Packing")->project()->name(), "Trips");
        EXPECT_TRUE(a.thing(work, "Harbour")->tags().empty());
        EXPECT_EQ(a.thing(work, "Harbour")->project()->name(), "Coast");
        EXPECT_NE(a.tag(work, "green"), nullptr);
    }

    a.edit([&](UnitOfWork& work) { work.remove(a.project(work, "Trips")); });
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
    UnitOfWork work(*b.store);
    EXPECT_TRUE(work.fetchProjects().empty());
    EXPECT_EQ(work.fetchThings().size(), 2u);
}

TEST_F(MirrorTest, RacesAreSettledAlikeOnEveryMachine) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    a.edit([](UnitOfWork& work) {
        work.insert(std::make_unique<Thing>(ThingKind::note, "Edited on both"));
        work.insert(std::make_unique<Thing>(ThingKind::note, "Deleted on one"));
        work.insert(std::make_unique<Project>("P", nullptr));
        work.insert(std::make_unique<Project>("Q", nullptr));
    });
    a.mirror->syncOnce();
    b.mirror->syncOnce();

    // The later edit wins whichever machine pushes first; a delete wins over an edit; two
    // moves that close a loop leave the project with the smaller identifier at the top.
    a.edit([&](UnitOfWork& work) {
        Thing* both = a.thing(work, "Edited on both");
        both->setNote("from a, later");
        both->setUpdatedAt(2000);
        work.remove(a.thing(work, "Deleted on one"));
        a.project(work, "P")->setParent(a.project(work, "Q"));
    });
    b.edit([&](UnitOfWork& work) {
        Thing* both = b.thing(work, "Edited on both");
        both->setNote("from b, earlier");
        both->setUpdatedAt(1000);
        b.thing(work, "Deleted on one")->setTitle("Deleted on one");
        b.thing(work, "Deleted on one")->touch();
        b.project(work, "Q")->setParent(b.project(work, "P"));
    });
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
    UnitOfWork work(*b.store);
    EXPECT_EQ(b.thing(work, "Edited on both")->note(), "from a, later");
    EXPECT_EQ(b.thing(work, "Deleted on one"), nullptr);
    Project* p = b.project(work, "P");
    Project* q = b.project(work, "Q");
    Project* top = p->uuid() < q->uuid() ? p : q;
    EXPECT_EQ(top->parent(), nullptr);
    EXPECT_EQ((top == p ? q : p)->parent(), top);

    // Equal times: the same version wins on both, whichever pushed first.
    b.edit([&](UnitOfWork& w) { b.thing(w, "Edited on both")->setNote("tie b"); });
    a.edit([&](UnitOfWork& w) { a.thing(w, "Edited on both")->setNote("tie a"); });
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
}

TEST_F(MirrorTest, AChangeWaitingToBePushedOutlivesWhatThePullDoesToTheRecord) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    a.edit([](UnitOfWork& work) {
        Tag* tag = work.insert(std::make_unique<Tag>("old"));
        work.insert(std::make_unique<Thing>(ThingKind::note, "Tagged"))->addTag(*tag);
    });
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    // The pull removes the tag from b's thing as a consequence of a's delete; b's own edit of
    // the thing must still be pushed.
    a.edit([&](UnitOfWork& work) { work.remove(a.tag(work, "old")); });
    a.mirror->syncOnce();
    b.edit([&](UnitOfWork& work) { b.thing(work, "Tagged")->setNote("edited on b"); });
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
    UnitOfWork work(*a.store);
    EXPECT_EQ(a.thing(work, "Tagged")->note(), "edited on b");
}

TEST_F(MirrorTest, AMachineAwayPastTheExpiryOfDeletesReadsTheLibraryAgain) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    a.edit([](UnitOfWork& work) {
        work.insert(std::make_unique<Thing>(ThingKind::note, "Deleted while away"));
        work.insert(std::make_unique<Thing>(ThingKind::note, "Kept"));
    });
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    a.edit([&](UnitOfWork& work) { work.remove(a.thing(work, "Deleted while away")); });
    a.mirror->syncOnce();
    admin().exec("SELECT tavro.expire_tombstones('0 seconds')");
    b.edit([&](UnitOfWork& work) { b.thing(work, "Kept")->setNote("edited while away"); });

    b.mirror->syncOnce();
    a.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
    UnitOfWork work(*a.store);
    EXPECT_EQ(work.fetchThings().size(), 1u);
    EXPECT_EQ(a.thing(work, "Kept")->note(), "edited while away");
}

TEST_F(MirrorTest, AKilledConnectionResumesWithoutDuplicatesOrLosses) {
    // The step that would note the server's acknowledgement of the first batch never runs:
    // the connection is killed and the machine stops there, as if killed itself.
    bool killed = false;
    mirror::Mirror* victim = nullptr;
    mirror::Connection watcher = admin();
    Machine& a = machine("a", [&](const std::function<void()>& step) {
        // The first store step once the server holds the first batch is its acknowledgement.
        if (!killed && serverCount(watcher, "true") == mirror::Mirror::kPushBatch) {
            killed = true;
            int pid = PQbackendPID(victim->connection().handle());
            watcher.query("SELECT pg_terminate_backend($1)", {mirror::Param::integer(pid)});
            throw std::runtime_error("stopped before the acknowledgement");
        }
        step();
    });
    victim = a.mirror.get();
    const int count = mirror::Mirror::kPushBatch + 40;
    a.edit([&](UnitOfWork& work) {
        for (int i = 0; i < count; ++i) {
            work.insert(std::make_unique<Thing>(ThingKind::note, "n" + std::to_string(i)));
        }
    });
    EXPECT_ANY_THROW(a.mirror->syncOnce());
    EXPECT_TRUE(killed);
    mirror::Connection server = admin();
    EXPECT_EQ(serverCount(server, "true"), mirror::Mirror::kPushBatch);

    // A killed session is noticed at its next use and made again.
    try {
        a.mirror->syncOnce();
    } catch (const mirror::ServerError& error) {
        EXPECT_EQ(error.failure(), mirror::ServerFailure::Unreachable);
        a.mirror->syncOnce();
    }
    EXPECT_EQ(serverCount(server, "true"), count);
    EXPECT_EQ(serverCount(server, "version > 1"), 0) << "nothing was pushed twice";
    store::Outbox outbox(a.store->path());
    EXPECT_TRUE(outbox.pending(10).empty());

    Machine& b = machine("b");
    b.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
}

TEST_F(MirrorTest, ContentAlteredOnTheServerIsRefusedAndNothingReferencesIt) {
    Machine& a = machine("a");
    a.edit([](UnitOfWork& work) {
        Thing* photo = work.insert(std::make_unique<Thing>(ThingKind::image, "Photo"));
        photo->setData(model::Content::fromBytes("the real bytes"));
    });
    a.mirror->syncOnce();
    admin().exec("UPDATE tavro.content_chunks SET data = 'forged'::bytea");

    Machine& b = machine("b");
    try {
        b.mirror->syncOnce();
        ADD_FAILURE() << "altered content was accepted";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.value()->domain, mirror::kContentErrorDomain);
    }
    UnitOfWork work(*b.store);
    EXPECT_TRUE(work.fetchThings().empty());
    EXPECT_EQ(store::Outbox(b.store->path()).cursor(), 0);
}

// A thing whose file has gone from the store waits, reported, while every other change goes
// both ways; once the file is back, it follows.
TEST_F(MirrorTest, AThingWhoseFileIsMissingWaitsWhileTheRestIsSynced) {
    namespace fs = std::filesystem;
    Machine& a = machine("a");
    Machine& b = machine("b");
    a.edit([](UnitOfWork& work) {
        Thing* photo = work.insert(std::make_unique<Thing>(ThingKind::image, "Photo"));
        photo->setData(model::Content::fromBytes("the photo's bytes"));
        work.insert(std::make_unique<Thing>(ThingKind::note, "Note from a"));
    });
    b.edit([](UnitOfWork& work) {
        work.insert(std::make_unique<Thing>(ThingKind::note, "Note from b"));
    });
    b.mirror->syncOnce();
    const std::string blob = a.store->blobPath(platform::sha256Hex("the photo's bytes"));
    fs::rename(blob, blob + ".away");

    try {
        a.mirror->syncOnce();
        ADD_FAILURE() << "the missing file was not reported";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.value()->code, static_cast<int64_t>(mirror::ContentFailure::Unreadable));
    }
    b.mirror->syncOnce();
    {
        UnitOfWork work(*a.store);
        EXPECT_NE(a.thing(work, "Note from b"), nullptr);
    }
    {
        UnitOfWork work(*b.store);
        EXPECT_NE(b.thing(work, "Note from a"), nullptr);
        EXPECT_EQ(b.thing(work, "Photo"), nullptr);
    }

    fs::rename(blob + ".away", blob);
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    EXPECT_EQ(a.library(), b.library());
}

TEST_F(MirrorTest, ALibraryOfAnotherAccountIsNotMirrored) {
    std::string other = addAccount("other");
    auto store = store::Store::open(temp_.file("x/Library/Tavro.store"));
    mirror::Mirror wrong(*store, serviceFor(other), recordName_);
    try {
        wrong.syncOnce();
        ADD_FAILURE() << "another account's server was used";
    } catch (const mirror::ServerError& error) {
        EXPECT_EQ(error.failure(), mirror::ServerFailure::NotAnAccount);
    }
}

// Downloads left by a process killed before the store took them are removed by the next pull;
// a download of a process still running (another host on the same store) is not.
TEST(AbandonedDownloadsTest, OnlyThoseOfEndedProcessesAreRemoved) {
    namespace fs = std::filesystem;
    TempDir folder;
    pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    const std::string digest(64, 'a');
    auto name = [&](pid_t pid) { return digest + "." + std::to_string(pid) + ".0.part"; };
    for (const std::string& file :
         {name(ended), name(::getpid()), name(1), std::string("notes.txt")}) {
        platform::FileSystem::real().writeFileAtomically(folder.path() + "/" + file, "bytes");
    }
    mirror::removeAbandonedDownloads(folder.path());
    EXPECT_FALSE(fs::exists(folder.path() + "/" + name(ended)));
    EXPECT_TRUE(fs::exists(folder.path() + "/" + name(::getpid())));
    EXPECT_TRUE(fs::exists(folder.path() + "/" + name(1)));
    EXPECT_TRUE(fs::exists(folder.path() + "/notes.txt"));
}

}  // namespace
}  // namespace tavro::test
