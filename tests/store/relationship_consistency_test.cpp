// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Project;
using model::Tag;
using model::Thing;
using model::ThingKind;

template <typename T>
size_t occurrences(const std::vector<T*>& list, const T* item) {
    return static_cast<size_t>(std::count(list.begin(), list.end(), item));
}

// Both ends of every relationship agree, and nothing live points at a record that left.
void expectConsistent(UnitOfWork& work) {
    auto things = work.fetchThings();
    auto tags = work.fetchTags();
    auto projects = work.fetchProjects();
    std::set<const void*> live(things.begin(), things.end());
    live.insert(tags.begin(), tags.end());
    live.insert(projects.begin(), projects.end());
    for (Thing* thing : things) {
        for (Tag* tag : thing->tags()) {
            ASSERT_TRUE(live.count(tag));
            EXPECT_EQ(occurrences(tag->things(), thing), 1u);
        }
        if (Project* project = thing->project()) {
            ASSERT_TRUE(live.count(project));
            EXPECT_EQ(occurrences(project->things(), thing), 1u);
        }
    }
    for (Tag* tag : tags) {
        for (Thing* thing : tag->things()) {
            ASSERT_TRUE(live.count(thing));
            EXPECT_EQ(occurrences(thing->tags(), tag), 1u);
        }
    }
    for (Project* project : projects) {
        if (Project* parent = project->parent()) {
            ASSERT_TRUE(live.count(parent));
            EXPECT_EQ(occurrences(parent->children(), project), 1u);
        }
        for (Project* child : project->children()) {
            ASSERT_TRUE(live.count(child));
            EXPECT_EQ(child->parent(), project);
        }
        for (Thing* thing : project->things()) {
            ASSERT_TRUE(live.count(thing));
            EXPECT_EQ(thing->project(), project);
        }
    }
}

// The library as plain values keyed by persistent identifier, to compare two units of work.
using Picture = std::map<int64_t, std::string>;

Picture picture(UnitOfWork& work) {
    Picture result;
    for (Thing* thing : work.fetchThings()) {
        std::string text = thing->title() + "|" +
                           std::to_string(thing->project() ? thing->project()->id().row : 0);
        for (Tag* tag : thing->tags()) {
            text += "," + std::to_string(tag->id().row);
        }
        result[thing->id().row] = text;
    }
    for (Tag* tag : work.fetchTags()) {
        result[-tag->id().row] = "tag " + tag->name();
    }
    for (Project* project : work.fetchProjects()) {
        result[-1000000 - project->id().row] =
            project->name() + "<" +
            std::to_string(project->parent() ? project->parent()->id().row : 0);
    }
    return result;
}

template <typename T>
T* pick(std::mt19937& random, const std::vector<T*>& list) {
    return list.empty() ? nullptr : list[random() % list.size()];
}

// Random edits, removals, inserts, saves and rollbacks: after every step both ends agree, and
// after every save a fresh unit of work reads back exactly what this one holds.
TEST(RelationshipConsistencyTest, RandomChangesKeepBothEndsAndSaveWhatIsHeld) {
    test::TempDir dir;
    auto store = Store::open(dir.file("Tavro.store"));
    UnitOfWork work(*store);
    std::mt19937 random(42);
    for (int step = 0; step < 1500; ++step) {
        auto things = work.fetchThings();
        auto tags = work.fetchTags();
        auto projects = work.fetchProjects();
        std::string name = std::to_string(step);
        switch (random() % 15) {
            case 0:
                work.insert(std::make_unique<Thing>(ThingKind::note, "thing " + name));
                break;
            case 1:
                work.insert(std::make_unique<Tag>("tag " + name));
                break;
            case 2:
                work.insert(std::make_unique<Project>("project " + name, pick(random, projects)));
                break;
            case 3:
                if (Thing* thing = pick(random, things)) {
                    thing->setTags({pick(random, tags), pick(random, tags), pick(random, tags)});
                }
                break;
            case 4:
                if (Thing* thing = pick(random, things)) {
                    thing->setProject(random() % 4 ? pick(random, projects) : nullptr);
                }
                break;
            case 5:
                if (Project* project = pick(random, projects)) {
                    project->setParent(random() % 3 ? pick(random, projects) : nullptr);
                }
                break;
            case 6:
                if (Thing* thing = pick(random, things)) {
                    work.remove(thing);
                }
                break;
            case 7:
                if (Tag* tag = pick(random, tags)) {
                    work.remove(tag);
                }
                break;
            case 8:
                if (Project* project = pick(random, projects); project && random() % 3 == 0) {
                    work.remove(project);
                }
                break;
            case 9:
                if (Thing* thing = pick(random, things)) {
                    thing->setTitle("edited " + name);
                }
                break;
            case 10: {
                work.save();
                UnitOfWork fresh(*store);
                ASSERT_EQ(picture(fresh), picture(work)) << "at step " << step;
                break;
            }
            case 12:
            case 13:
            case 14: {
                // New records that start out related to stored ones and to each other.
                auto* tag = work.insert(std::make_unique<Tag>("new tag " + name));
                auto* thing = work.insert(std::make_unique<Thing>(ThingKind::link, name));
                thing->setTags({tag, pick(random, tags)});
                thing->setProject(pick(random, projects));
                break;
            }
            case 11:
                if (random() % 3 == 0) {
                    Picture saved = [&] {
                        UnitOfWork fresh(*store);
                        return picture(fresh);
                    }();
                    work.rollback();
                    ASSERT_EQ(picture(work), saved) << "at step " << step;
                }
                break;
        }
        expectConsistent(work);
        if (HasFatalFailure() || HasFailure()) {
            FAIL() << "inconsistent after step " << step;
        }
    }
    // The walk must have built something to check.
    EXPECT_GT(work.fetchThings().size() + work.fetchTags().size() + work.fetchProjects().size(),
              10u);
    std::cout << "[          ] held at the end: " << work.fetchThings().size() << " things, "
              << work.fetchTags().size() << " tags, " << work.fetchProjects().size()
              << " projects\n";
}

}  // namespace
}  // namespace tavro::store
