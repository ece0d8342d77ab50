// SPDX-License-Identifier: MIT
#pragma once
// A label that any number of things carry. Its name is kept exactly as given.

#include <string>
#include <vector>

#include "model/Record.h"
#include "platform/Time.h"
#include "platform/Uuid.h"

namespace tavro::model {

class Thing;

enum class TagField { uuid, name, createdAt, things };
inline constexpr int kTagFieldCount = 4;

struct TagState {
    platform::Uuid uuid;
    std::string name;
    platform::Timestamp createdAt = 0;
};

class Tag : public Record {
  public:
    // A new tag: new uuid, the name as given, created now.
    explicit Tag(std::string name);
    // The same with an identifier that comes from elsewhere (an exchange's record), so that no
    // random one is drawn only to be replaced.
    Tag(const platform::Uuid& uuid, std::string name);
    ~Tag();

    const platform::Uuid& uuid() const { return s_.uuid; }
    const std::string& name() const { return s_.name; }
    platform::Timestamp createdAt() const { return s_.createdAt; }
    // The inverse of Thing::tags, kept by the things; no order of its own.
    const std::vector<Thing*>& things() const { return things_; }

    void setUuid(const platform::Uuid& value);
    void setName(std::string value);
    void setCreatedAt(platform::Timestamp value);

    // Presentation (ProjectTree.cpp): the things not in the trash, in relationship order.
    std::vector<Thing*> activeThings() const;

    // The stored values as a whole, for code that walks the field table (TagFields.h).
    const TagState& state() const { return s_; }

    bool operator==(const Tag& other) const { return id() == other.id(); }

  private:
    friend struct tavro::store::RecordAccess;
    friend class Thing;
    explicit Tag(TagState state);

    TagState s_;
    std::vector<Thing*> things_;
};

}  // namespace tavro::model

template <>
struct std::hash<tavro::model::Tag> {
    size_t operator()(const tavro::model::Tag& tag) const noexcept {
        return std::hash<tavro::model::PersistentId>()(tag.id());
    }
};
