// SPDX-License-Identifier: MIT
#pragma once
// A folder of the library. Projects form a tree through `parent`; each thing sits in at most
// one project.

#include <optional>
#include <string>
#include <vector>

#include "model/Record.h"
#include "platform/Time.h"
#include "platform/Uuid.h"

namespace tavro::model {

class Thing;
class Project;

enum class ProjectField {
    uuid,
    name,
    sortOrder,
    linkedFolderOwner,
    createdAt,
    parent,
    children,
    things
};
inline constexpr int kProjectFieldCount = 8;

struct ProjectState {
    platform::Uuid uuid;
    std::string name;
    int64_t sortOrder = 0;
    std::string linkedFolderOwner;
    platform::Timestamp createdAt = 0;
    Project* parent = nullptr;
};

class Project : public Record {
  public:
    // A new project: new uuid, the name as given, created now, and (when a parent is given)
    // one of the parent's children. It is not placed among its siblings: sortOrder stays 0.
    Project(std::string name, Project* parent);
    // The same with an identifier that comes from elsewhere (an exchange's record), so that no
    // random one is drawn only to be replaced.
    Project(const platform::Uuid& uuid, std::string name, Project* parent);
    ~Project();

    const platform::Uuid& uuid() const { return s_.uuid; }
    const std::string& name() const { return s_.name; }
    int64_t sortOrder() const { return s_.sortOrder; }
    const std::string& linkedFolderOwner() const { return s_.linkedFolderOwner; }
    platform::Timestamp createdAt() const { return s_.createdAt; }
    Project* parent() const { return s_.parent; }
    // Inverses of Project::parent and Thing::project; no order of their own.
    const std::vector<Project*>& children() const { return children_; }
    const std::vector<Thing*>& things() const { return things_; }

    void setUuid(const platform::Uuid& value);
    void setName(std::string value);
    void setSortOrder(int64_t value);
    void setLinkedFolderOwner(std::string value);
    void setCreatedAt(platform::Timestamp value);
    // Both ends: the project leaves its former parent's children and joins the new one's.
    // A cycle is not refused here; the exchange checks the tree before saving.
    void setParent(Project* value);

    // Navigation of the tree (ProjectTree.cpp). Read-only. Walks up the parent chain stop
    // after 64 steps, so parent links that loop give a bounded answer.
    // Children by sortOrder, then name (case-insensitive, user's locale); ties keep their order.
    std::vector<Project*> sortedChildren() const;
    // sortedChildren(), or nothing for a leaf.
    std::optional<std::vector<Project*>> outlineChildren() const;
    // The names from the topmost of at most 63 ancestors down to this one, joined by " / ".
    std::string path() const;
    // The number of ancestors, at most 64.
    int depth() const;
    // This project, then each child's subtree in sortedChildren() order (pre-order). Each
    // project appears once, so a loop that reaches it from elsewhere still ends.
    std::vector<Project*> selfAndDescendants() const;
    // Whether `other` (by persistent identifier) is among the first 64 ancestors.
    bool isDescendant(const Project& other) const;
    // The things not in the trash, in relationship order.
    std::vector<Thing*> activeThings() const;

    // The stored values as a whole, for code that walks the field table (ProjectFields.h).
    const ProjectState& state() const { return s_; }

    bool operator==(const Project& other) const { return id() == other.id(); }

  private:
    friend struct tavro::store::RecordAccess;
    friend class Thing;
    explicit Project(ProjectState state);

    ProjectState s_;
    std::vector<Project*> children_;
    std::vector<Thing*> things_;
};

}  // namespace tavro::model

template <>
struct std::hash<tavro::model::Project> {
    size_t operator()(const tavro::model::Project& project) const noexcept {
        return std::hash<tavro::model::PersistentId>()(project.id());
    }
};
