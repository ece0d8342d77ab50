// SPDX-License-Identifier: MIT
#include "model/Tag.h"

#include "model/Links.h"
#include "model/Thing.h"

namespace tavro::model {

Tag::Tag(std::string name) : Tag(platform::Uuid::random(), std::move(name)) {}

Tag::Tag(const platform::Uuid& uuid, std::string name) : Record(RecordType::Tag) {
    s_.uuid = uuid;
    s_.name = std::move(name);
    s_.createdAt = platform::now();
}

Tag::Tag(TagState state) : Record(RecordType::Tag), s_(std::move(state)) {}

Tag::~Tag() {
    // A tag that goes away leaves the things that carried it, as the nullify rule has it.
    // The lists are checked, not trusted: a rollback may have moved the other end already.
    for (Thing* thing : things_) {
        auto& tags = thing->s_.tags;
        auto found = std::find(tags.begin(), tags.end(), this);
        if (found != tags.end()) {
            tags.erase(found);
            thing->renewRevision();
        }
    }
}

void Tag::setUuid(const platform::Uuid& value) {
    if (!(s_.uuid == value)) {
        for (Thing* thing : things_) {
            thing->renewRevision();  // the thing's record lists this tag by its identifier
        }
    }
    assign(*this, s_.uuid, value, static_cast<int>(TagField::uuid));
}
void Tag::setName(std::string value) {
    assign(*this, s_.name, std::move(value), static_cast<int>(TagField::name));
}
void Tag::setCreatedAt(platform::Timestamp value) {
    assign(*this, s_.createdAt, value, static_cast<int>(TagField::createdAt));
}

}  // namespace tavro::model
