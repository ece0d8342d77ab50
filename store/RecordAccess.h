// SPDX-License-Identifier: MIT
#pragma once
// The store's way into the records: it builds them from rows without running the constructors
// (the schema's defaults apply, not the clock), gives them their permanent identifiers, reads
// which fields changed, and restores stored values on rollback. Only store code uses this.

#include <memory>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"

namespace tavro::store {

struct RecordAccess {
    static std::unique_ptr<model::Thing> make(model::ThingState state) {
        return std::unique_ptr<model::Thing>(new model::Thing(std::move(state)));
    }
    static std::unique_ptr<model::Tag> make(model::TagState state) {
        return std::unique_ptr<model::Tag>(new model::Tag(std::move(state)));
    }
    static std::unique_ptr<model::Project> make(model::ProjectState state) {
        return std::unique_ptr<model::Project>(new model::Project(std::move(state)));
    }

    static model::ThingState& state(model::Thing& thing) { return thing.s_; }
    static model::TagState& state(model::Tag& tag) { return tag.s_; }
    static model::ProjectState& state(model::Project& project) { return project.s_; }

    static std::vector<model::Thing*>& things(model::Tag& tag) { return tag.things_; }
    static std::vector<model::Thing*>& things(model::Project& project) { return project.things_; }
    static std::vector<model::Project*>& children(model::Project& project) {
        return project.children_;
    }

    static void setId(model::Record& record, int64_t row) { record.id_.row = row; }
    static void setTracker(model::Record& record, model::ChangeTracker* tracker) {
        record.tracker_ = tracker;
    }
    static model::ChangeTracker* tracker(const model::Record& record) { return record.tracker_; }
    static uint32_t changedFields(const model::Record& record) { return record.changedFields_; }
    static void clearChanges(model::Record& record) { record.changedFields_ = 0; }
    static uint8_t status(const model::Record& record) { return record.storeStatus_; }
    static void setStatus(model::Record& record, uint8_t status) { record.storeStatus_ = status; }
    static void forgetObservers(model::Record& record) { record.observers_.reset(); }
    static void renewRevision(model::Record& record) { record.renewRevision(); }
};

}  // namespace tavro::store
