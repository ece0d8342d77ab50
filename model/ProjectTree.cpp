// SPDX-License-Identifier: MIT
// Read-only navigation of the project tree, and the lists of things not in the trash.

#include <algorithm>
#include <unordered_set>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "platform/Text.h"

namespace tavro::model {

namespace {

// Walks up the parent chain take at most this many steps; a loop of parent links that
// another device saved must not hang the caller.
constexpr int kMaxAncestorSteps = 64;

std::vector<Thing*> withoutTrashed(const std::vector<Thing*>& things) {
    std::vector<Thing*> active;
    active.reserve(things.size());
    std::copy_if(things.begin(), things.end(), std::back_inserter(active),
                 [](const Thing* thing) { return !thing->isTrashed(); });
    return active;
}

}  // namespace

std::vector<Project*> Project::sortedChildren() const {
    std::vector<Project*> sorted = children_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Project* a, const Project* b) {
        if (a->sortOrder() != b->sortOrder()) {
            return a->sortOrder() < b->sortOrder();
        }
        return platform::text::compareLocalizedCaseInsensitive(a->name(), b->name()) < 0;
    });
    return sorted;
}

std::optional<std::vector<Project*>> Project::outlineChildren() const {
    std::vector<Project*> sorted = sortedChildren();
    if (sorted.empty()) {
        return std::nullopt;
    }
    return sorted;
}

std::string Project::path() const {
    std::vector<const std::string*> names;
    for (const Project* p = this; p != nullptr && names.size() < kMaxAncestorSteps;
         p = p->parent()) {
        names.push_back(&p->name());
    }
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (name != names.rbegin()) {
            path += " / ";
        }
        path += **name;
    }
    return path;
}

int Project::depth() const {
    int depth = 0;
    for (const Project* p = parent(); p != nullptr && depth < kMaxAncestorSteps; p = p->parent()) {
        ++depth;
    }
    return depth;
}

std::vector<Project*> Project::selfAndDescendants() const {
    // Depth-first with an explicit stack: a deep tree must not exhaust the call stack, and a
    // project already listed is not entered again, so a loop ends.
    std::vector<Project*> result;
    std::unordered_set<const Project*> seen;
    // The list holds the records as the relationships do, this project included.
    std::vector<Project*> stack = {const_cast<Project*>(this)};
    while (!stack.empty()) {
        Project* project = stack.back();
        stack.pop_back();
        if (!seen.insert(project).second) {
            continue;
        }
        result.push_back(project);
        std::vector<Project*> children = project->sortedChildren();
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return result;
}

bool Project::isDescendant(const Project& other) const {
    int compared = 0;
    for (const Project* p = parent(); p != nullptr && compared < kMaxAncestorSteps;
         p = p->parent(), ++compared) {
        if (p->id() == other.id()) {
            return true;
        }
    }
    return false;
}

std::vector<Thing*> Project::activeThings() const {
    return withoutTrashed(things_);
}

std::vector<Thing*> Tag::activeThings() const {
    return withoutTrashed(things_);
}

}  // namespace tavro::model
