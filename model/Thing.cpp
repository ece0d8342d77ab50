// SPDX-License-Identifier: MIT
#include "model/Thing.h"

#include "model/Links.h"
#include "model/Project.h"
#include "model/Tag.h"

namespace tavro::model {

Thing::Thing(ThingKind kind, std::string title) : Record(RecordType::Thing) {
    s_.uuid = platform::Uuid::random();
    s_.kindRaw = std::string(rawValue(kind));
    s_.title = std::move(title);
    s_.aspectRatio = defaultAspectRatio(kind);
    s_.createdAt = platform::now();
    s_.updatedAt = platform::now();
}

Thing::Thing(const platform::Uuid& uuid) : Record(RecordType::Thing) {
    s_.uuid = uuid;
}

Thing::Thing(ThingState state) : Record(RecordType::Thing), s_(std::move(state)) {}

Thing::~Thing() {
    for (Tag* tag : s_.tags) {
        links::eraseOne(tag->things_, this);
    }
    if (s_.project != nullptr) {
        links::eraseOne(s_.project->things_, this);
    }
}

ThingKind Thing::kind() const {
    return thingKindFromRawValue(s_.kindRaw).value_or(ThingKind::note);
}

void Thing::setKind(ThingKind kind) {
    setKindRaw(std::string(rawValue(kind)));
}

#define TAVRO_THING_SETTER(name, Name, type, ...)            \
    void Thing::set##Name(ThingSetterArgument<type> value) { \
        set(s_.name, std::move(value), ThingField::name);    \
    }
TAVRO_THING_VALUE_FIELDS(TAVRO_THING_SETTER)
#undef TAVRO_THING_SETTER

void Thing::setTags(std::vector<Tag*> value) {
    std::vector<Tag*> tags;
    tags.reserve(value.size());
    for (Tag* tag : value) {
        if (tag != nullptr && !links::contains(tags, tag)) {
            tags.push_back(tag);
        }
    }
    if (tags != s_.tags) {
        markChanged(*this, static_cast<int>(ThingField::tags));
        for (Tag* old : s_.tags) {
            if (!links::contains(tags, old)) {
                links::eraseOne(old->things_, this);
            }
        }
        for (Tag* tag : tags) {
            if (!links::contains(s_.tags, tag)) {
                tag->things_.push_back(this);
            }
        }
        s_.tags = std::move(tags);
    }
    announce(static_cast<int>(ThingField::tags));
}

void Thing::setProject(Project* value) {
    if (value != s_.project) {
        markChanged(*this, static_cast<int>(ThingField::project));
        if (s_.project != nullptr) {
            links::eraseOne(s_.project->things_, this);
        }
        if (value != nullptr) {
            value->things_.push_back(this);
        }
        s_.project = value;
    }
    announce(static_cast<int>(ThingField::project));
}

}  // namespace tavro::model
