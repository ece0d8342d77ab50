// SPDX-License-Identifier: MIT
// Three machines make a few hundred random changes each (creating, editing, tagging, moving,
// deleting; some edits at the very same time, some moves that close a loop across machines),
// syncing at random points; once all have synced, all hold one library, with no project loop.
// The seed is fixed, so a failure repeats.

#include <gtest/gtest.h>

#include <random>

#include "MirrorMachines.h"
#include "mirror/MergeRules.h"

namespace tavro::test {
namespace {

using model::Project;
using model::Tag;
using model::Thing;
using model::ThingKind;
using store::UnitOfWork;

class ConvergenceTest : public MirrorFixture {};

template <typename T>
T* pick(std::mt19937& random, const std::vector<T*>& from) {
    if (from.empty()) {
        return nullptr;
    }
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
}

// One random change on one machine's store.
void change(std::mt19937& random, UnitOfWork& work, int serial) {
    std::vector<Thing*> things = work.fetchThings();
    std::vector<Tag*> tags = work.fetchTags();
    std::vector<Project*> projects = work.fetchProjects();
    std::string name = "n" + std::to_string(serial);
    switch (std::uniform_int_distribution<int>(0, 11)(random)) {
        case 0:
        case 1: {
            Thing* thing = work.insert(std::make_unique<Thing>(ThingKind::note, name));
            thing->setProject(pick(random, projects));
            if (Tag* tag = pick(random, tags)) {
                thing->addTag(*tag);
            }
            break;
        }
        case 2:
        case 3:
            if (Thing* thing = pick(random, things)) {
                thing->setTitle(name);
                // Now and then at one fixed time, so that edits tie on every machine.
                if (serial % 5 == 0) {
                    thing->setUpdatedAt(1'000'000);
                } else {
                    thing->touch();
                }
            }
            break;
        case 4:
            if (Thing* thing = pick(random, things)) {
                work.remove(thing);
            }
            break;
        case 5:
            if (Thing* thing = pick(random, things); thing && !tags.empty()) {
                Tag* tag = pick(random, tags);
                std::find(thing->tags().begin(), thing->tags().end(), tag) == thing->tags().end()
                    ? thing->addTag(*tag)
                    : thing->removeTag(*tag);
            }
            break;
        case 6:
            work.insert(std::make_unique<Project>(name, pick(random, projects)));
            break;
        case 7: {
            // A move that is no loop here; across machines it may close one.
            Project* project = pick(random, projects);
            Project* parent = pick(random, projects);
            if (project && parent != project && (!parent || !parent->isDescendant(*project))) {
                project->setParent(parent);
            }
            break;
        }
        case 8:
            if (Project* project = pick(random, projects)) {
                project->setName(name);
            }
            break;
        case 9:
            if (random() % 3 == 0) {
                if (Project* project = pick(random, projects)) {
                    work.remove(project);
                }
            }
            break;
        case 10:
            work.insert(std::make_unique<Tag>(name));
            break;
        case 11:
            if (random() % 3 == 0) {
                if (Tag* tag = pick(random, tags)) {
                    work.remove(tag);
                }
            }
            break;
    }
}

TEST_F(ConvergenceTest, ThreeMachinesEndWithOneLibrary) {
    std::vector<Machine*> machines = {&machine("a"), &machine("b"), &machine("c")};
    std::mt19937 random(20261208);
    const int changesEach = 300;
    for (int serial = 0; serial < changesEach * 3; ++serial) {
        Machine& at = *machines[serial % 3];
        at.edit([&](UnitOfWork& work) { change(random, work, serial); });
        if (random() % 20 == 0) {
            machines[random() % 3]->mirror->syncOnce();
        }
    }
    for (int round = 0; round < 3; ++round) {
        for (Machine* at : machines) {
            at->mirror->syncOnce();
        }
    }
    std::string library = machines[0]->library();
    EXPECT_EQ(machines[1]->library(), library);
    EXPECT_EQ(machines[2]->library(), library);
    for (Machine* at : machines) {
        UnitOfWork work(*at->store);
        EXPECT_TRUE(mirror::projectsClosingLoops(work.fetchProjects()).empty());
    }
}

}  // namespace
}  // namespace tavro::test
