#pragma once
// One saved item of the library. Fields in schema order; each setter stores the value and
// announces the write, nothing more (no setter touches `updatedAt`).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/Content.h"
#include "model/Record.h"
#include "model/ThingKind.h"
#include "model/ThingMetadata.h"
#include "platform/Time.h"
#include "platform/TypeIdentifiers.h"
#include "platform/Url.h"
#include "platform/Uuid.h"

namespace tavro::model {

class Tag;
class Project;

// Field positions in the schema, as announced to observers.
enum class ThingField {
    uuid,
    kindRaw,
    title,
    subtitle,
    content,
    note,
    urlString,
    fileName,
    typeIdentifier,
    fileSize,
    data,
    thumbnailData,
    iconData,
    aspectRatio,
    isStarred,
    trashedAt,
    createdAt,
    updatedAt,
    metadataJSON,
    tags,
    project
};
inline constexpr int kThingFieldCount = 21;

// The stored values of a thing; the schema defaults are the member initialisers.
struct ThingState {
    platform::Uuid uuid;
    std::string kindRaw = "note";
    std::string title;
    std::string subtitle;
    std::string content;
    std::string note;
    std::string urlString;
    std::string fileName;
    std::string typeIdentifier;
    int64_t fileSize = 0;
    std::optional<Content> data;
    std::optional<Content> thumbnailData;
    std::optional<Content> iconData;
    double aspectRatio = 1.0;
    bool isStarred = false;
    std::optional<platform::Timestamp> trashedAt;
    platform::Timestamp createdAt = 0;
    platform::Timestamp updatedAt = 0;
    std::string metadataJSON;
    std::vector<Tag*> tags;  // relationship order
    Project* project = nullptr;
};

class Thing : public Record {
  public:
    // A new thing: new uuid, the kind and title given, the kind's aspect ratio, and creation
    // and update times read from the clock one after the other.
    Thing(ThingKind kind, std::string title);
    ~Thing();

    const platform::Uuid& uuid() const { return s_.uuid; }
    const std::string& kindRaw() const { return s_.kindRaw; }
    const std::string& title() const { return s_.title; }
    const std::string& subtitle() const { return s_.subtitle; }
    const std::string& content() const { return s_.content; }
    const std::string& note() const { return s_.note; }
    const std::string& urlString() const { return s_.urlString; }
    const std::string& fileName() const { return s_.fileName; }
    const std::string& typeIdentifier() const { return s_.typeIdentifier; }
    int64_t fileSize() const { return s_.fileSize; }
    const std::optional<Content>& data() const { return s_.data; }
    const std::optional<Content>& thumbnailData() const { return s_.thumbnailData; }
    const std::optional<Content>& iconData() const { return s_.iconData; }
    double aspectRatio() const { return s_.aspectRatio; }
    bool isStarred() const { return s_.isStarred; }
    std::optional<platform::Timestamp> trashedAt() const { return s_.trashedAt; }
    platform::Timestamp createdAt() const { return s_.createdAt; }
    platform::Timestamp updatedAt() const { return s_.updatedAt; }
    const std::string& metadataJSON() const { return s_.metadataJSON; }
    const std::vector<Tag*>& tags() const { return s_.tags; }
    Project* project() const { return s_.project; }

    // An unknown raw value reads as a note; it stays stored until the kind is written.
    ThingKind kind() const;
    void setKind(ThingKind kind);

    void setUuid(const platform::Uuid& value);
    void setKindRaw(std::string value);
    void setTitle(std::string value);
    void setSubtitle(std::string value);
    void setContent(std::string value);
    void setNote(std::string value);
    void setUrlString(std::string value);
    void setFileName(std::string value);
    void setTypeIdentifier(std::string value);
    void setFileSize(int64_t value);
    void setData(std::optional<Content> value);
    void setThumbnailData(std::optional<Content> value);
    void setIconData(std::optional<Content> value);
    void setAspectRatio(double value);
    void setIsStarred(bool value);
    void setTrashedAt(std::optional<platform::Timestamp> value);
    void setCreatedAt(platform::Timestamp value);
    void setUpdatedAt(platform::Timestamp value);
    void setMetadataJSON(std::string value);
    // Both ends: the thing joins each new tag's `things` and leaves those of tags it no longer
    // carries. A tag listed twice is kept once, at its first place; null entries are dropped.
    void setTags(std::vector<Tag*> value);
    // Both ends: the thing leaves its former project's `things` and joins the new one's.
    void setProject(Project* value);

    // Presentation and search (ThingPresentation.cpp). Read-only; nothing here fails.
    // Absent when `urlString` is empty or does not parse.
    std::optional<platform::Url> url() const;
    // Absent when `typeIdentifier` is empty or names no known type.
    std::optional<platform::UniformType> contentType() const;
    // The file name's extension, else the content type's preferred one, else empty; no dot.
    std::string fileExtension() const;
    bool isTrashed() const { return s_.trashedAt.has_value(); }
    bool hasThumbnail() const { return s_.thumbnailData.has_value(); }
    std::string displayTitle() const;
    std::string badgeText() const;
    // The file name, else the display title with the extension or "bin"; never holds "/".
    std::string exportFileName() const;
    // Title, subtitle, content, note, address, file name, the tag names in tagList() order
    // and the project's name, one per line.
    std::string searchableText() const;
    // The tags sorted by name, case-insensitively in the user's locale; ties keep their order.
    std::vector<Tag*> tagList() const;
    // Empty metadata when `metadataJSON` is not its JSON form.
    ThingMetadata metadata() const;
    // Stores the JSON form through setMetadataJSON; `updatedAt` is left alone.
    void setMetadata(const ThingMetadata& value);
    // Reads the whole value, lets `change` edit it, writes the whole value back.
    void updateMetadata(const std::function<void(ThingMetadata&)>& change);

    // Operations (ThingOperations.cpp). Each goes through the setters above, so observers
    // hear of every change, and each ends by setting `updatedAt` to now (addTag excepted
    // when the tag is already there).
    void touch();
    void addTag(Tag& tag);
    void removeTag(const Tag& tag);
    void moveToTrash();
    void restore();

    // The stored values as a whole, for code that walks the field table (ThingFields.h).
    const ThingState& state() const { return s_; }

    bool operator==(const Thing& other) const { return id() == other.id(); }

  private:
    friend struct tavro::store::RecordAccess;
    friend class Tag;
    friend class Project;
    explicit Thing(ThingState state);

    template <typename T>
    void set(T& slot, T value, ThingField field) {
        assign(*this, slot, std::move(value), static_cast<int>(field));
    }

    ThingState s_;
};

}  // namespace tavro::model

template <>
struct std::hash<tavro::model::Thing> {
    size_t operator()(const tavro::model::Thing& thing) const noexcept {
        return std::hash<tavro::model::PersistentId>()(thing.id());
    }
};
