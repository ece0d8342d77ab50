// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <memory>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"

namespace tavro::model {
namespace {

std::vector<std::string> names(const std::vector<Project*>& projects) {
    std::vector<std::string> result;
    for (const Project* project : projects) {
        result.push_back(project->name());
    }
    return result;
}

using Names = std::vector<std::string>;

// Projects named p0 (top) to p<count-1>, each the child of the one before.
std::vector<std::unique_ptr<Project>> chain(int count) {
    std::vector<std::unique_ptr<Project>> projects;
    for (int i = 0; i < count; ++i) {
        Project* parent = projects.empty() ? nullptr : projects.back().get();
        projects.push_back(std::make_unique<Project>("p" + std::to_string(i), parent));
    }
    return projects;
}

TEST(SiblingOrder, SortOrderThenNameIgnoringCaseThenRelationshipOrder) {
    Project root("root", nullptr);
    Project b("b", &root);
    Project upperB("B", &root);
    Project a("a", &root);
    b.setSortOrder(2);
    upperB.setSortOrder(1);
    a.setSortOrder(1);
    EXPECT_EQ(names(root.sortedChildren()), (Names{"a", "B", "b"}));

    // Same order and same name (up to case): relationship order decides.
    Project twin1("Twin", &root);
    Project twin2("twin", &root);
    twin1.setSortOrder(-1);
    twin2.setSortOrder(-1);
    auto sorted = root.sortedChildren();
    ASSERT_EQ(sorted.size(), 5u);
    EXPECT_EQ(sorted[0], root.children()[3]);
    EXPECT_EQ(sorted[1], root.children()[4]);
    // A localized comparison, not code points: "é" sorts before "f", "Z" after "a".
    Project letters("letters", nullptr);
    Project f("f", &letters);
    Project z("Z", &letters);
    Project accented("\xC3\xA9t\xC3\xA9", &letters);
    Project plain("a", &letters);
    EXPECT_EQ(names(letters.sortedChildren()), (Names{"a", "\xC3\xA9t\xC3\xA9", "f", "Z"}));
}

TEST(SiblingOrder, LeavesHaveNoOutlineChildren) {
    Project top("Top", nullptr);
    EXPECT_EQ(top.depth(), 0);
    EXPECT_EQ(top.path(), "Top");
    EXPECT_FALSE(top.outlineChildren());
    EXPECT_TRUE(top.sortedChildren().empty());
    Project child("Child", &top);
    ASSERT_TRUE(top.outlineChildren());
    EXPECT_EQ(names(*top.outlineChildren()), Names{"Child"});
    child.setParent(nullptr);
    EXPECT_FALSE(top.outlineChildren());
}

TEST(PathAndDepth, NamesJoinedTopDown) {
    Project work("Work", nullptr);
    Project clients("Clients / 2024", &work);
    Project acme(" Acme ", &clients);
    EXPECT_EQ(acme.path(), "Work / Clients / 2024 /  Acme ");
    EXPECT_EQ(acme.depth(), 2);
    EXPECT_EQ(clients.depth(), 1);
    Project unnamed("", &work);
    EXPECT_EQ(unnamed.path(), "Work / ");
}

TEST(PathAndDepth, SeventyDeepChainIsCutAt64) {
    auto projects = chain(70);
    const Project& innermost = *projects.back();
    EXPECT_EQ(innermost.depth(), 64);
    std::string expected;
    for (int i = 6; i < 70; ++i) {
        expected += (i == 6 ? "" : " / ") + std::string("p") + std::to_string(i);
    }
    // 64 names, starting with the 63rd ancestor (p6), not the top (p0).
    EXPECT_EQ(innermost.path(), expected);
    EXPECT_EQ(projects[63]->depth(), 63);
    EXPECT_EQ(projects[63]->path().substr(0, 5), "p0 / ");
}

TEST(Ancestry, ParentsAndAncestorsUpTo64Levels) {
    auto projects = chain(70);
    const Project& innermost = *projects[69];
    EXPECT_FALSE(innermost.isDescendant(innermost));
    EXPECT_TRUE(innermost.isDescendant(*projects[68]));
    EXPECT_TRUE(innermost.isDescendant(*projects[5]));    // 64 levels up
    EXPECT_FALSE(innermost.isDescendant(*projects[4]));   // 65 levels up: beyond the walk
    EXPECT_FALSE(projects[68]->isDescendant(innermost));  // a parent is not its child's child
    EXPECT_TRUE(projects[1]->isDescendant(*projects[0]));
    EXPECT_FALSE(projects[0]->isDescendant(*projects[1]));
    Project other("other", nullptr);
    EXPECT_FALSE(innermost.isDescendant(other));
}

TEST(Subtree, PreOrderInSiblingOrder) {
    Project root("root", nullptr);
    Project b("b", &root);
    Project a("a", &root);
    Project b2("b2", &b);
    Project b1("b1", &b);
    Project a1("a1", &a);
    Project b1x("b1x", &b1);
    EXPECT_EQ(names(root.selfAndDescendants()), (Names{"root", "a", "a1", "b", "b1", "b1x", "b2"}));
    EXPECT_EQ(names(b.selfAndDescendants()), (Names{"b", "b1", "b1x", "b2"}));
    EXPECT_EQ(names(b1x.selfAndDescendants()), Names{"b1x"});
}

TEST(Subtree, DeepChainDoesNotExhaustTheStack) {
    auto projects = chain(20000);
    auto subtree = projects.front()->selfAndDescendants();
    ASSERT_EQ(subtree.size(), 20000u);
    EXPECT_EQ(subtree.back(), projects.back().get());
}

TEST(ParentLoop, EveryWalkEnds) {
    // A loop the exchange would refuse, arriving as if from another device.
    Project a("a", nullptr);
    Project b("b", &a);
    Project c("c", &b);
    Project side("side", &b);
    a.setParent(&c);
    EXPECT_EQ(a.depth(), 64);
    EXPECT_EQ(c.depth(), 64);
    EXPECT_TRUE(a.isDescendant(a));  // through the loop, a is its own ancestor
    EXPECT_FALSE(a.isDescendant(side));
    const std::string path = c.path();
    size_t separators = 0;
    for (size_t at = path.find(" / "); at != std::string::npos; at = path.find(" / ", at + 1)) {
        ++separators;
    }
    EXPECT_EQ(separators, 63u);
    EXPECT_EQ(path.substr(path.size() - 5), "b / c");
    EXPECT_EQ(names(a.selfAndDescendants()), (Names{"a", "b", "c", "side"}));
    EXPECT_EQ(names(c.selfAndDescendants()), (Names{"c", "a", "b", "side"}));

    Project self("self", nullptr);
    self.setParent(&self);
    EXPECT_EQ(self.depth(), 64);
    EXPECT_EQ(names(self.selfAndDescendants()), Names{"self"});
    self.setParent(nullptr);
    a.setParent(nullptr);
}

TEST(ActiveThings, TrashedThingsAreLeftOutInRelationshipOrder) {
    Project project("p", nullptr);
    Tag tag("t");
    Thing one(ThingKind::note, "1");
    Thing two(ThingKind::note, "2");
    Thing three(ThingKind::note, "3");
    for (Thing* thing : {&one, &two, &three}) {
        thing->setProject(&project);
        thing->addTag(tag);
    }
    two.moveToTrash();
    EXPECT_EQ(project.activeThings(), (std::vector<Thing*>{&one, &three}));
    EXPECT_EQ(tag.activeThings(), (std::vector<Thing*>{&one, &three}));
    one.moveToTrash();
    three.moveToTrash();
    EXPECT_TRUE(project.activeThings().empty());
    EXPECT_TRUE(tag.activeThings().empty());
    // Trashing leaves the relationships alone.
    EXPECT_EQ(project.things().size(), 3u);
    two.restore();
    EXPECT_EQ(project.activeThings(), std::vector<Thing*>{&two});
    EXPECT_TRUE(Project("empty", nullptr).activeThings().empty());
}

}  // namespace
}  // namespace tavro::model
