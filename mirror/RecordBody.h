// SPDX-License-Identifier: MIT
#pragma once
// A record as the sync server keeps it: a JSON object of every stored field under the field's
// own name, written the same way for the same values on every machine (so two machines can
// compare two versions of a record byte for byte), and the content digests it references.
//
// Times are seconds since 1970 as JSON numbers, written in the shortest form that reads back
// exactly; byte fields are {"sha256": …, "size": …}; a project or parent is its identifier,
// tags the list of theirs; an absent value is null.
//
// Decoding gives the record's values with its relationships as identifiers: the caller finds
// the records they name in its unit of work.

#include <optional>
#include <string>
#include <vector>

#include "model/PersistentId.h"
#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "platform/Uuid.h"

namespace tavro::mirror {

// The name the server keys a record type by.
std::string_view recordTypeName(model::RecordType type);
std::optional<model::RecordType> recordTypeNamed(std::string_view name);

struct EncodedRecord {
    std::string body;
    std::vector<std::string> contents;  // digests of the byte fields that hold content
};

EncodedRecord encode(const model::Thing& thing);
EncodedRecord encode(const model::Tag& tag);
EncodedRecord encode(const model::Project& project);

// The values of one record read from a body. The relationships of `state` are left empty.
struct ThingImage {
    model::ThingState state;
    std::optional<platform::Uuid> project;
    std::vector<platform::Uuid> tags;
};
struct TagImage {
    model::TagState state;
};
struct ProjectImage {
    model::ProjectState state;
    std::optional<platform::Uuid> parent;
};

// Throw platform::Error for a body that is not a record of the type: a server that holds one
// has been written by something other than Tavro.
ThingImage decodeThing(std::string_view body);
TagImage decodeTag(std::string_view body);
ProjectImage decodeProject(std::string_view body);

// Writes every value field of the image through the record's setters (so the unit of work sees
// exactly what changed); relationships are the caller's. Byte fields take the image's content
// as it is: a caller that downloaded new content puts the downloaded file in first.
void assign(model::Thing& thing, const ThingImage& image);
void assign(model::Tag& tag, const TagImage& image);
void assign(model::Project& project, const ProjectImage& image);

}  // namespace tavro::mirror
