// SPDX-License-Identifier: MIT
#include "mirror/ChangeApplier.h"

#include <climits>

#include "mirror/MergeRules.h"
#include "mirror/RecordBody.h"
#include "model/ConflictCopy.h"
#include "model/FileFingerprint.h"
#include "model/ThingFields.h"

namespace tavro::mirror {

using model::RecordType;

ChangeApplier::ChangeApplier(store::UnitOfWork& work, store::Outbox& outbox,
                             store::ChangeWriter::FromServer& state,
                             const std::unordered_map<std::string, std::string>& downloaded,
                             References& references, FileBases& bases,
                             std::vector<KeptConflictCopy>& copies)
    : work_(work),
      outbox_(outbox),
      state_(state),
      downloaded_(downloaded),
      references_(references),
      bases_(bases),
      copies_(copies) {
    state_.settled.emplace();
    work_.holdWriteLock();
    // Read after the unit of work took the store's write lock: no save can add to it until
    // this unit's own save.
    for (const store::Outbox::Entry& entry : outbox_.pending(INT_MAX)) {
        pending_.emplace(std::make_pair(entry.type, entry.uuid), entry);
    }
}

void ChangeApplier::noteUnchangedBases() {
    for (model::Thing* thing : work_.fetchThings()) {
        if (thing->project() != nullptr && !bases_.contains(thing->uuid()) &&
            !pending_.contains({RecordType::Thing, thing->uuid()})) {
            bases_.emplace(thing->uuid(), model::fileFingerprint(*thing));
        }
    }
}

void ChangeApplier::noteBase(const model::Thing& thing, std::string fingerprint) {
    if (thing.project() != nullptr) {
        bases_[thing.uuid()] = std::move(fingerprint);
    } else {
        bases_.erase(thing.uuid());
    }
}

// Records inserted on this page are not stored yet: the unit of work's index finds the others.
model::Thing* ChangeApplier::findThing(const platform::Uuid& uuid) {
    auto inserted = things_.find(uuid);
    return inserted != things_.end() ? inserted->second : work_.findThing(uuid);
}

model::Tag* ChangeApplier::findTag(const platform::Uuid& uuid) {
    auto inserted = tags_.find(uuid);
    return inserted != tags_.end() ? inserted->second : work_.findTag(uuid);
}

model::Project* ChangeApplier::findProject(const platform::Uuid& uuid) {
    auto inserted = projects_.find(uuid);
    return inserted != projects_.end() ? inserted->second : work_.findProject(uuid);
}

void ChangeApplier::noteVersion(RecordType type, int64_t row, int64_t version) {
    state_.versions.push_back({type, row, version});
}

void ChangeApplier::apply(const ServerChange& change) {
    std::optional<RecordType> type = recordTypeNamed(change.recordType);
    std::optional<platform::Uuid> uuid = platform::Uuid::parse(change.identifier);
    if (!type || !uuid) {
        return;  // a record type this Tavro does not know: not ours to apply
    }
    model::Record* local = nullptr;
    switch (*type) {
        case RecordType::Thing:
            local = findThing(*uuid);
            break;
        case RecordType::Tag:
            local = findTag(*uuid);
            break;
        case RecordType::Project:
            local = findProject(*uuid);
            break;
    }
    auto pending = pending_.find({*type, *uuid});
    if (local == nullptr) {
        if (pending != pending_.end()) {
            // Deleted here and not pushed yet: the delete wins, against this version.
            noteVersion(*type, pending->second.row, change.version);
            return;
        }
        if (change.deleted) {
            return;
        }
    } else if (change.version <= outbox_.serverVersion(*type, local->id().row)) {
        return;  // seen already (this store's own push, or an earlier pull)
    } else if (change.deleted) {
        noteVersion(*type, local->id().row, change.version);
        state_.settled->insert({*type, local->id().row});
        switch (*type) {
            case RecordType::Thing:
                removeThing(static_cast<model::Thing*>(local));
                break;
            case RecordType::Tag:
                removeTag(static_cast<model::Tag*>(local));
                break;
            case RecordType::Project:
                removeProject(static_cast<model::Project*>(local));
                break;
        }
        return;
    }
    if (local != nullptr && pending != pending_.end() && sameBody(*type, *local, change.body)) {
        // The server holds what this store waits to push: its own push, whose acknowledgement
        // was lost with the connection.
        noteVersion(*type, local->id().row, change.version);
        state_.acknowledged.push_back(pending->second.change);
        if (*type == RecordType::Thing) {
            const auto& thing = static_cast<const model::Thing&>(*local);
            noteBase(thing, model::fileFingerprint(thing));
        }
        return;
    }
    switch (*type) {
        case RecordType::Thing:
            applyThing(change, *uuid, pending != pending_.end());
            break;
        case RecordType::Tag:
            applyTag(change, *uuid);
            break;
        case RecordType::Project:
            applyProject(change, *uuid);
            break;
    }
}

bool ChangeApplier::sameBody(RecordType type, const model::Record& local, std::string_view body) {
    switch (type) {
        case RecordType::Thing:
            return encode(static_cast<const model::Thing&>(local)).body == body;
        case RecordType::Tag:
            return encode(static_cast<const model::Tag&>(local)).body == body;
        case RecordType::Project:
            return encode(static_cast<const model::Project&>(local)).body == body;
    }
    return false;
}

void ChangeApplier::applyThing(const ServerChange& change, const platform::Uuid& uuid,
                               bool pending) {
    ThingImage image = decodeThing(change.body);
    // New content comes from the files downloaded and verified for this page.
    model::fields::forEach(model::fields::kThingFields, [&](const auto& entry) {
        using V = typename std::remove_cvref_t<decltype(entry)>::Value;
        if constexpr (std::is_same_v<V, model::OptionalContent>) {
            auto& content = image.state.*entry.member;
            if (content) {
                auto file = downloaded_.find(content->sha256);
                if (file != downloaded_.end()) {
                    content =
                        model::Content::fromFile(file->second, content->sha256, content->size);
                }
            }
        }
    });
    model::Thing* thing = findThing(uuid);
    if (thing != nullptr && pending && localThingStays(*thing, change, image)) {
        noteVersion(RecordType::Thing, thing->id().row, change.version);
        return;
    }
    if (thing == nullptr) {
        thing = work_.insert(std::make_unique<model::Thing>(model::ThingKind::note, ""));
        things_.emplace(uuid, thing);
    }
    assign(*thing, image);
    if (image.project) {
        bases_[uuid] = model::fileFingerprint(image.state);
    } else {
        bases_.erase(uuid);
    }
    references_.things[uuid] = {image.project, std::move(image.tags)};
    noteVersion(RecordType::Thing, thing->id().row, change.version);
    state_.settled->insert({RecordType::Thing, thing->id().row});
}

bool ChangeApplier::localThingStays(model::Thing& thing, const ServerChange& change,
                                    const ThingImage& image) {
    bool localWins =
        localThingWins(thing.updatedAt(), encode(thing).body, image.state.updatedAt, change.body);
    if (!model::isLinked(thing)) {
        return localWins;
    }
    std::string local = model::fileFingerprint(thing);
    std::string server = model::fileFingerprint(image.state);
    auto base = bases_.find(thing.uuid());
    std::optional<std::string> known;
    if (base != bases_.end()) {
        known = base->second;
    }
    // The server's version is now the one last seen, whichever stays.
    bases_[thing.uuid()] = server;
    switch (mergeLinked(known, local, server, localWins)) {
        case LinkedMerge::TakeServer:
            return false;
        case LinkedMerge::KeepLocal:
            return true;
        case LinkedMerge::TakeServerKeepingLocalCopy: {
            std::optional<platform::Uuid> project;
            if (thing.project() != nullptr) {
                project = thing.project()->uuid();
            }
            std::vector<platform::Uuid> tags;
            for (const model::Tag* tag : thing.tags()) {
                tags.push_back(tag->uuid());
            }
            keepCopy(thing.state(), thing.uuid(), local, project, std::move(tags));
            return false;
        }
        case LinkedMerge::KeepLocalKeepingServerCopy:
            keepCopy(image.state, thing.uuid(), server, image.project, image.tags);
            return true;
    }
    return localWins;
}

void ChangeApplier::keepCopy(const model::ThingState& losing, const platform::Uuid& original,
                             const std::string& fingerprint, std::optional<platform::Uuid> project,
                             std::vector<platform::Uuid> tags) {
    // Stamped with the losing version's own time, not the clock's: every machine that keeps
    // this version makes the very same record, and the server holds it once.
    std::unique_ptr<model::Thing> copy =
        model::makeConflictCopy(losing, original, fingerprint, losing.updatedAt);
    if (findThing(copy->uuid()) != nullptr) {
        return;  // kept before, or brought by the server from a machine that kept it
    }
    // Inserted under the losing title: a save under the server's guard records no change of
    // a record the server did not send, so queueConflictCopies puts the copy's own title in
    // afterwards, and that change is what goes to the outbox.
    std::string title = copy->title();
    copy->setTitle(losing.title);
    model::Thing* inserted = work_.insert(std::move(copy));
    things_.emplace(inserted->uuid(), inserted);
    references_.things[inserted->uuid()] = {project, std::move(tags)};
    copies_.push_back({inserted, std::move(title)});
}

void ChangeApplier::queueConflictCopies(const std::vector<KeptConflictCopy>& copies) {
    for (const KeptConflictCopy& kept : copies) {
        // A copy the server brought meanwhile holds its title already, and stays unqueued.
        if (kept.copy->title() != kept.title) {
            kept.copy->setTitle(kept.title);
        }
    }
}

void ChangeApplier::applyTag(const ServerChange& change, const platform::Uuid& uuid) {
    TagImage image = decodeTag(change.body);
    model::Tag* tag = findTag(uuid);
    if (tag == nullptr) {
        tag = work_.insert(std::make_unique<model::Tag>(""));
        tags_.emplace(uuid, tag);
    }
    assign(*tag, image);
    noteVersion(RecordType::Tag, tag->id().row, change.version);
    state_.settled->insert({RecordType::Tag, tag->id().row});
}

void ChangeApplier::applyProject(const ServerChange& change, const platform::Uuid& uuid) {
    ProjectImage image = decodeProject(change.body);
    model::Project* project = findProject(uuid);
    if (project == nullptr) {
        project = work_.insert(std::make_unique<model::Project>("", nullptr));
        projects_.emplace(uuid, project);
    }
    assign(*project, image);
    references_.parents[uuid] = image.parent;
    noteVersion(RecordType::Project, project->id().row, change.version);
    state_.settled->insert({RecordType::Project, project->id().row});
}

void ChangeApplier::removeThing(model::Thing* thing) {
    // A copy kept on this page and deleted by a later change of it is no longer queued.
    std::erase_if(copies_, [&](const KeptConflictCopy& kept) { return kept.copy == thing; });
    bases_.erase(thing->uuid());
    things_.erase(thing->uuid());
    work_.remove(thing);
}

void ChangeApplier::removeTag(model::Tag* tag) {
    tags_.erase(tag->uuid());
    work_.remove(tag);
}

void ChangeApplier::removeProject(model::Project* project) {
    // The machine that deleted the project deleted what it held too, and those deletes follow
    // as changes of their own; what it did not know of (added elsewhere meanwhile) stays, at
    // the top level, as on every machine that never had the project.
    for (model::Project* child : std::vector<model::Project*>(project->children())) {
        child->setParent(nullptr);
    }
    for (model::Thing* thing : std::vector<model::Thing*>(project->things())) {
        thing->setProject(nullptr);
    }
    projects_.erase(project->uuid());
    work_.remove(project);
}

void ChangeApplier::link() {
    for (auto waiting = references_.things.begin(); waiting != references_.things.end();) {
        model::Thing* thing = findThing(waiting->first);
        if (thing == nullptr) {
            waiting = references_.things.erase(waiting);
            continue;
        }
        const References::ThingLinks& links = waiting->second;
        bool complete = true;
        model::Project* project = nullptr;
        if (links.project) {
            project = findProject(*links.project);
            complete = project != nullptr;
        }
        if (thing->project() != project) {
            thing->setProject(project);
        }
        std::vector<model::Tag*> tags;
        for (const platform::Uuid& uuid : links.tags) {
            if (model::Tag* tag = findTag(uuid)) {
                tags.push_back(tag);
            } else {
                complete = false;
            }
        }
        if (thing->tags() != tags) {
            thing->setTags(std::move(tags));
        }
        waiting = complete ? references_.things.erase(waiting) : std::next(waiting);
    }
    for (auto waiting = references_.parents.begin(); waiting != references_.parents.end();) {
        model::Project* project = findProject(waiting->first);
        if (project == nullptr) {
            waiting = references_.parents.erase(waiting);
            continue;
        }
        model::Project* parent = waiting->second ? findProject(*waiting->second) : nullptr;
        if (project->parent() != parent) {
            project->setParent(parent);
        }
        bool complete = !waiting->second || parent != nullptr;
        waiting = complete ? references_.parents.erase(waiting) : std::next(waiting);
    }
}

void ChangeApplier::removeUnseen(const Seen& seen) {
    auto unseen = [&](RecordType type, const model::Record& record, const platform::Uuid& uuid) {
        return !seen.contains({type, uuid}) && !pending_.contains({type, uuid}) &&
               outbox_.serverVersion(type, record.id().row) > 0;
    };
    std::vector<model::Thing*> things;
    for (model::Thing* thing : work_.fetchThings()) {
        if (unseen(RecordType::Thing, *thing, thing->uuid())) {
            things.push_back(thing);
        }
    }
    for (model::Thing* thing : things) {
        removeThing(thing);
    }
    std::vector<model::Tag*> tags;
    for (model::Tag* tag : work_.fetchTags()) {
        if (unseen(RecordType::Tag, *tag, tag->uuid())) {
            tags.push_back(tag);
        }
    }
    for (model::Tag* tag : tags) {
        removeTag(tag);
    }
    std::vector<model::Project*> projects;
    for (model::Project* project : work_.fetchProjects()) {
        if (unseen(RecordType::Project, *project, project->uuid())) {
            projects.push_back(project);
        }
    }
    for (model::Project* project : projects) {
        removeProject(project);
    }
}

}  // namespace tavro::mirror
