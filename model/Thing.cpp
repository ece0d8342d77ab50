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

void Thing::setUuid(const platform::Uuid& value) {
    set(s_.uuid, value, ThingField::uuid);
}
void Thing::setKindRaw(std::string value) {
    set(s_.kindRaw, std::move(value), ThingField::kindRaw);
}
void Thing::setTitle(std::string value) {
    set(s_.title, std::move(value), ThingField::title);
}
void Thing::setSubtitle(std::string value) {
    set(s_.subtitle, std::move(value), ThingField::subtitle);
}
void Thing::setContent(std::string value) {
    set(s_.content, std::move(value), ThingField::content);
}
void Thing::setNote(std::string value) {
    set(s_.note, std::move(value), ThingField::note);
}
void Thing::setUrlString(std::string value) {
    set(s_.urlString, std::move(value), ThingField::urlString);
}
void Thing::setFileName(std::string value) {
    set(s_.fileName, std::move(value), ThingField::fileName);
}
void Thing::setTypeIdentifier(std::string value) {
    set(s_.typeIdentifier, std::move(value), ThingField::typeIdentifier);
}
void Thing::setFileSize(int64_t value) {
    set(s_.fileSize, value, ThingField::fileSize);
}
void Thing::setData(std::optional<Content> value) {
    set(s_.data, std::move(value), ThingField::data);
}
void Thing::setThumbnailData(std::optional<Content> value) {
    set(s_.thumbnailData, std::move(value), ThingField::thumbnailData);
}
void Thing::setIconData(std::optional<Content> value) {
    set(s_.iconData, std::move(value), ThingField::iconData);
}
void Thing::setAspectRatio(double value) {
    set(s_.aspectRatio, value, ThingField::aspectRatio);
}
void Thing::setIsStarred(bool value) {
    set(s_.isStarred, value, ThingField::isStarred);
}
void Thing::setTrashedAt(std::optional<platform::Timestamp> value) {
    set(s_.trashedAt, value, ThingField::trashedAt);
}
void Thing::setCreatedAt(platform::Timestamp value) {
    set(s_.createdAt, value, ThingField::createdAt);
}
void Thing::setUpdatedAt(platform::Timestamp value) {
    set(s_.updatedAt, value, ThingField::updatedAt);
}
void Thing::setMetadataJSON(std::string value) {
    set(s_.metadataJSON, std::move(value), ThingField::metadataJSON);
}

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
