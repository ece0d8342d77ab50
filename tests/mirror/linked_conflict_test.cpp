// SPDX-License-Identifier: MIT
// Things under a linked folder merge three ways by file fingerprints: a file changed on two
// machines keeps the losing version as one conflict copy that every machine ends up holding
// alike, and a file changed on one side only merges without a copy.

#include <gtest/gtest.h>

#include "MirrorMachines.h"
#include "model/ConflictCopy.h"
#include "model/FileFingerprint.h"

namespace tavro::test {
namespace {

using model::Project;
using model::Thing;
using model::ThingKind;
using store::UnitOfWork;

class LinkedConflictTest : public MirrorFixture {
  protected:
    // "Notes" in a linked folder, reaching every machine given.
    void shareLinkedNotes(const std::vector<Machine*>& machines) {
        machines.front()->edit([](UnitOfWork& work) {
            Project* folder = work.insert(std::make_unique<Project>("Folder", nullptr));
            folder->setLinkedFolderOwner("com.example.folders");
            Thing* notes = work.insert(std::make_unique<Thing>(ThingKind::note, "Notes"));
            notes->setContent("as both saw it");
            notes->setProject(folder);
        });
        for (Machine* each : machines) {
            each->mirror->syncOnce();
        }
    }

    static void editNotes(Machine& machine, const std::string& content,
                          platform::Timestamp updatedAt) {
        machine.edit([&](UnitOfWork& work) {
            Thing* notes = machine.thing(work, "Notes");
            notes->setContent(content);
            notes->setUpdatedAt(updatedAt);
        });
    }

    // A change of what is not the file.
    static void renameNotes(Machine& machine, const std::string& subtitle,
                            platform::Timestamp updatedAt) {
        machine.edit([&](UnitOfWork& work) {
            Thing* notes = machine.thing(work, "Notes");
            notes->setSubtitle(subtitle);
            notes->setUpdatedAt(updatedAt);
        });
    }

    // Both machines hold the same library, with `on`'s Notes holding `content` and no copy.
    static void expectMergedWithoutCopy(Machine& a, Machine& b, Machine& on,
                                        const std::string& content) {
        EXPECT_EQ(a.library(), b.library());
        UnitOfWork work(*on.store);
        EXPECT_EQ(on.thing(work, "Notes")->content(), content);
        EXPECT_TRUE(copies(work).empty());
    }

    static std::vector<Thing*> copies(UnitOfWork& work) {
        std::vector<Thing*> found;
        for (Thing* thing : work.fetchThings()) {
            if (thing->title().find(model::kConflictSuffix) != std::string::npos) {
                found.push_back(thing);
            }
        }
        return found;
    }
};

TEST_F(LinkedConflictTest, TheSameLosingVersionOnTwoMachinesGivesOneCopyEverywhere) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    Machine& c = machine("c");
    Machine& d = machine("d");
    shareLinkedNotes({&a, &b, &c, &d});

    // b and c make the very same older change; a's later one wins on every machine.
    editNotes(a, "from a", 3'000'000);
    editNotes(b, "from b and c", 2'000'000);
    editNotes(c, "from b and c", 2'000'000);
    platform::Uuid notesUuid;
    std::string losing;
    {
        UnitOfWork work(*b.store);
        notesUuid = b.thing(work, "Notes")->uuid();
        losing = model::fileFingerprint(*b.thing(work, "Notes"));
    }
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    c.mirror->syncOnce();
    for (Machine* each : {&a, &b, &c, &d}) {
        each->mirror->syncOnce();
    }

    EXPECT_EQ(a.library(), b.library());
    EXPECT_EQ(a.library(), c.library());
    EXPECT_EQ(a.library(), d.library());
    UnitOfWork work(*d.store);
    EXPECT_EQ(d.thing(work, "Notes")->content(), "from a");
    std::vector<Thing*> kept = copies(work);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->uuid(), model::conflictCopyIdentifier(notesUuid, losing));
    EXPECT_EQ(kept[0]->title(), "Notes (iCloud conflict)");
    EXPECT_EQ(kept[0]->content(), "from b and c");
    EXPECT_EQ(kept[0]->updatedAt(), 2'000'000);
    ASSERT_NE(kept[0]->project(), nullptr);
    EXPECT_EQ(kept[0]->project()->name(), "Folder");
}

TEST_F(LinkedConflictTest, TheServersLosingVersionIsKeptByTheMachineThatWins) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    shareLinkedNotes({&a, &b});

    editNotes(a, "from a", 2'000'000);
    editNotes(b, "from b", 3'000'000);
    a.mirror->syncOnce();
    b.mirror->syncOnce();  // finds a's version on the server, keeps its own and a copy of a's
    a.mirror->syncOnce();

    EXPECT_EQ(a.library(), b.library());
    UnitOfWork work(*a.store);
    EXPECT_EQ(a.thing(work, "Notes")->content(), "from b");
    std::vector<Thing*> kept = copies(work);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->content(), "from a");
}

TEST_F(LinkedConflictTest, AFileChangedOnOneSideOnlyMergesWithoutACopy) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    shareLinkedNotes({&a, &b});

    // a changes only what is not the file, and later: newer-wins would drop b's file.
    renameNotes(a, "renamed elsewhere", 3'000'000);
    editNotes(b, "from b", 2'000'000);
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    expectMergedWithoutCopy(a, b, a, "from b");

    // The other way round: the server's older file change is taken over b's later edit of
    // what is not the file.
    editNotes(a, "from a", 4'000'000);
    renameNotes(b, "renamed on b", 5'000'000);
    a.mirror->syncOnce();
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    expectMergedWithoutCopy(a, b, b, "from a");
}

// A machine that restarted notes, at its first pull, what the server last had of the things it
// has not changed. A file changed elsewhere then merges without a copy even with a change the
// machine made afterwards to what is not the file, and a later clock.
TEST_F(LinkedConflictTest, AMachineThatRestartedStillKnowsWhatItChangedFrom) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    shareLinkedNotes({&a, &b});
    b.mirror = std::make_unique<mirror::Mirror>(*b.store, serviceFor(role_), recordName_);
    b.mirror->syncOnce();

    editNotes(a, "from a", 2'000'000);
    a.mirror->syncOnce();
    renameNotes(b, "renamed on b", 3'000'000);
    b.mirror->syncOnce();
    a.mirror->syncOnce();
    expectMergedWithoutCopy(a, b, b, "from a");
}

}  // namespace
}  // namespace tavro::test
