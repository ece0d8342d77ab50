// SPDX-License-Identifier: MIT
// The changes a user makes to a thing as a whole. Each goes through the ordinary setters, so
// observers and the owning unit of work see them like any other write.

#include <algorithm>

#include "model/Tag.h"
#include "model/Thing.h"

namespace tavro::model {

void Thing::touch() {
    setUpdatedAt(platform::now());
}

void Thing::addTag(Tag& tag) {
    const auto carried = std::any_of(s_.tags.begin(), s_.tags.end(),
                                     [&](const Tag* t) { return t->id() == tag.id(); });
    if (carried) {
        return;  // nothing changed, so nothing is touched
    }
    std::vector<Tag*> tags = s_.tags;
    tags.push_back(&tag);
    setTags(std::move(tags));
    touch();
}

void Thing::removeTag(const Tag& tag) {
    std::vector<Tag*> tags;
    tags.reserve(s_.tags.size());
    for (Tag* t : s_.tags) {
        if (t->id() != tag.id()) {
            tags.push_back(t);
        }
    }
    setTags(std::move(tags));
    touch();
}

void Thing::moveToTrash() {
    // Two reads of the clock: the trash time, then the update time.
    setTrashedAt(platform::now());
    touch();
}

void Thing::restore() {
    setTrashedAt(std::nullopt);
    touch();
}

}  // namespace tavro::model
