// SPDX-License-Identifier: MIT
#include "model/Project.h"

#include "model/Links.h"
#include "model/Thing.h"

namespace tavro::model {

Project::Project(std::string name, Project* parent)
    : Project(platform::Uuid::random(), std::move(name), parent) {}

Project::Project(const platform::Uuid& uuid, std::string name, Project* parent)
    : Record(RecordType::Project) {
    s_.uuid = uuid;
    s_.name = std::move(name);
    s_.createdAt = platform::now();
    setParent(parent);
}

Project::Project(ProjectState state) : Record(RecordType::Project), s_(std::move(state)) {}

Project::~Project() {
    if (s_.parent != nullptr) {
        links::eraseOne(s_.parent->children_, this);
    }
    // Only ends that still point here are cleared: a rollback may have moved them already.
    for (Project* child : children_) {
        if (child->s_.parent == this) {
            child->s_.parent = nullptr;
        }
    }
    for (Thing* thing : things_) {
        if (thing->s_.project == this) {
            thing->s_.project = nullptr;
            thing->renewRevision();
        }
    }
}

void Project::setUuid(const platform::Uuid& value) {
    if (!(s_.uuid == value)) {
        for (Thing* thing : things_) {
            thing->renewRevision();  // the thing's record names its project by its identifier
        }
    }
    assign(*this, s_.uuid, value, static_cast<int>(ProjectField::uuid));
}
void Project::setName(std::string value) {
    assign(*this, s_.name, std::move(value), static_cast<int>(ProjectField::name));
}
void Project::setSortOrder(int64_t value) {
    assign(*this, s_.sortOrder, value, static_cast<int>(ProjectField::sortOrder));
}
void Project::setLinkedFolderOwner(std::string value) {
    assign(*this, s_.linkedFolderOwner, std::move(value),
           static_cast<int>(ProjectField::linkedFolderOwner));
}
void Project::setCreatedAt(platform::Timestamp value) {
    assign(*this, s_.createdAt, value, static_cast<int>(ProjectField::createdAt));
}

void Project::setParent(Project* value) {
    if (value != s_.parent) {
        markChanged(*this, static_cast<int>(ProjectField::parent));
        if (s_.parent != nullptr) {
            links::eraseOne(s_.parent->children_, this);
        }
        if (value != nullptr) {
            value->children_.push_back(this);
        }
        s_.parent = value;
    }
    announce(static_cast<int>(ProjectField::parent));
}

}  // namespace tavro::model
