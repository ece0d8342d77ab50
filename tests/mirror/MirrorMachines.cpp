// SPDX-License-Identifier: MIT
#include "MirrorMachines.h"

#include <map>

#include "mirror/RecordBody.h"
#include "mirror/ServerAccounts.h"

namespace tavro::test {

void Machine::edit(const std::function<void(store::UnitOfWork&)>& change) {
    store::UnitOfWork work(*store);
    change(work);
    work.save();
}

std::string Machine::library() {
    store::UnitOfWork work(*store);
    std::map<std::string, std::string> bodies;
    for (model::Thing* thing : work.fetchThings()) {
        bodies["Thing " + thing->uuid().lowercase()] = mirror::encode(*thing).body;
    }
    for (model::Tag* tag : work.fetchTags()) {
        bodies["Tag " + tag->uuid().lowercase()] = mirror::encode(*tag).body;
    }
    for (model::Project* project : work.fetchProjects()) {
        bodies["Project " + project->uuid().lowercase()] = mirror::encode(*project).body;
    }
    std::string text;
    for (const auto& [key, body] : bodies) {
        text += key + " " + body + "\n";
    }
    return text;
}

model::Thing* Machine::thing(store::UnitOfWork& work, const std::string& title) {
    for (model::Thing* thing : work.fetchThings()) {
        if (thing->title() == title) {
            return thing;
        }
    }
    return nullptr;
}

model::Project* Machine::project(store::UnitOfWork& work, const std::string& name) {
    for (model::Project* project : work.fetchProjects()) {
        if (project->name() == name) {
            return project;
        }
    }
    return nullptr;
}

model::Tag* Machine::tag(store::UnitOfWork& work, const std::string& name) {
    for (model::Tag* tag : work.fetchTags()) {
        if (tag->name() == name) {
            return tag;
        }
    }
    return nullptr;
}

void MirrorFixture::SetUp() {
    ServerFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    role_ = addAccount("mirror");
    mirror::Connection connection = connectAs(role_);
    recordName_ = mirror::accountRecordName(connection);
}

Machine& MirrorFixture::machine(const std::string& name, mirror::Mirror::OwnerSteps onOwner) {
    auto made = std::make_unique<Machine>();
    made->store = store::Store::open(temp_.file(name + "/Library/Tavro.store"));
    made->mirror = std::make_unique<mirror::Mirror>(*made->store, serviceFor(role_), recordName_,
                                                    std::move(onOwner));
    machines_.push_back(std::move(made));
    return *machines_.back();
}

}  // namespace tavro::test
