// SPDX-License-Identifier: MIT
#pragma once
// One saved item of the library. Fields in schema order; each setter stores the value and
// announces the write, nothing more (no setter touches `updatedAt`).

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "model/Content.h"
#include "model/Record.h"
#include "model/ThingFieldList.h"
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
// clang-format off
enum class ThingField {
#define TAVRO_THING_ENUMERATOR(name, ...) name,
    TAVRO_THING_VALUE_FIELDS(TAVRO_THING_ENUMERATOR)
#undef TAVRO_THING_ENUMERATOR
    tags,
    project
};
// clang-format on
inline constexpr int kThingFieldCount = static_cast<int>(ThingField::project) + 1;

// The stored values of a thing; the schema defaults are the member initialisers.
struct ThingState {
#define TAVRO_THING_MEMBER(name, Name, type, initial, ...) type name = initial;
    TAVRO_THING_VALUE_FIELDS(TAVRO_THING_MEMBER)
#undef TAVRO_THING_MEMBER
    std::vector<Tag*> tags;  // relationship order
    Project* project = nullptr;
};

// Plain numbers are read by value, everything else by reference.
template <typename T>
using ThingGetter = std::conditional_t<std::is_scalar_v<T>, T, const T&>;
// Text is written from a view, so that writing a value equal to the stored one (what most
// writes of an exchange do) allocates nothing.
template <typename T>
using ThingSetterArgument = std::conditional_t<std::is_same_v<T, std::string>, std::string_view, T>;

class Thing : public Record {
  public:
    // A new thing: new uuid, the kind and title given, the kind's aspect ratio, and creation
    // and update times read from the clock one after the other.
    Thing(ThingKind kind, std::string title);
    // A thing with this identifier and the schema's defaults for everything else, the clock
    // unread: for a thing whose every value is about to come from elsewhere (an exchange's
    // record of a thing the store does not have yet).
    explicit Thing(const platform::Uuid& uuid);
    ~Thing();

#define TAVRO_THING_ACCESSOR(name, Name, type, ...) \
    ThingGetter<type> name() const {                \
        return s_.name;                             \
    }
    TAVRO_THING_VALUE_FIELDS(TAVRO_THING_ACCESSOR)
#undef TAVRO_THING_ACCESSOR
    const std::vector<Tag*>& tags() const {
        return s_.tags;
    }
    Project* project() const {
        return s_.project;
    }

    // An unknown raw value reads as a note; it stays stored until the kind is written.
    ThingKind kind() const;
    void setKind(ThingKind kind);

#define TAVRO_THING_SETTER(name, Name, type, ...) void set##Name(ThingSetterArgument<type> value);
    TAVRO_THING_VALUE_FIELDS(TAVRO_THING_SETTER)
#undef TAVRO_THING_SETTER
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
    bool isTrashed() const {
        return s_.trashedAt.has_value();
    }
    bool hasThumbnail() const {
        return s_.thumbnailData.has_value();
    }
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
    const ThingState& state() const {
        return s_;
    }

    bool operator==(const Thing& other) const {
        return id() == other.id();
    }

  private:
    friend struct tavro::store::RecordAccess;
    friend class Tag;
    friend class Project;
    explicit Thing(ThingState state);

    template <typename T, typename V>
    void set(T& slot, V&& value, ThingField field) {
        assign(*this, slot, std::forward<V>(value), static_cast<int>(field));
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
