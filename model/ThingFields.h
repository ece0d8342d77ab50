#pragma once
// The fields of a thing, in schema order: the one description from which its row, its table,
// its exchange record and its conflict copy follow.

#include "model/FieldTable.h"
#include "model/Thing.h"

namespace tavro::model::fields {

inline constexpr auto kThingFields = [] {
    using F = ThingField;
    using S = ThingState;
    using T = Thing;
    return std::make_tuple(
        field(F::uuid, "uuid", Storage::Uuid, &S::uuid, &T::setUuid, {"uuid"}, "", "uuid"),
        // The exchange calls the raw kind just "kind".
        field(F::kindRaw, "kindRaw", Storage::Text, &S::kindRaw, &T::setKindRaw, {"kindRaw"},
              "'note'", "kind"),
        field(F::title, "title", Storage::Text, &S::title, &T::setTitle, {"title"}, "''", "title"),
        field(F::subtitle, "subtitle", Storage::Text, &S::subtitle, &T::setSubtitle, {"subtitle"},
              "''", "subtitle"),
        field(F::content, "content", Storage::Text, &S::content, &T::setContent, {"content"}, "''",
              "content"),
        field(F::note, "note", Storage::Text, &S::note, &T::setNote, {"note"}, "''", "note"),
        field(F::urlString, "urlString", Storage::Text, &S::urlString, &T::setUrlString,
              {"urlString"}, "''", "urlString"),
        field(F::fileName, "fileName", Storage::Text, &S::fileName, &T::setFileName, {"fileName"},
              "''", "fileName"),
        field(F::typeIdentifier, "typeIdentifier", Storage::Text, &S::typeIdentifier,
              &T::setTypeIdentifier, {"typeIdentifier"}, "''", "typeIdentifier"),
        field(F::fileSize, "fileSize", Storage::Integer, &S::fileSize, &T::setFileSize,
              {"fileSize"}, "0", "fileSize"),
        // Byte fields travel as asset files, under shorter keys.
        field(F::data, "data", Storage::Bytes, &S::data, &T::setData, {"dataSha256", "dataSize"},
              "", "data"),
        field(F::thumbnailData, "thumbnailData", Storage::Bytes, &S::thumbnailData,
              &T::setThumbnailData, {"thumbnailDataSha256", "thumbnailDataSize"}, "", "thumbnail"),
        field(F::iconData, "iconData", Storage::Bytes, &S::iconData, &T::setIconData,
              {"iconDataSha256", "iconDataSize"}, "", "icon"),
        field(F::aspectRatio, "aspectRatio", Storage::Real, &S::aspectRatio, &T::setAspectRatio,
              {"aspectRatio"}, "1.0", "aspectRatio"),
        field(F::isStarred, "isStarred", Storage::Boolean, &S::isStarred, &T::setIsStarred,
              {"isStarred"}, "0", "isStarred"),
        field(F::trashedAt, "trashedAt", Storage::OptionalTime, &S::trashedAt, &T::setTrashedAt,
              {"trashedAt"}, "", "trashedAt"),
        field(F::createdAt, "createdAt", Storage::Time, &S::createdAt, &T::setCreatedAt,
              {"createdAt"}, "", "createdAt"),
        field(F::updatedAt, "updatedAt", Storage::Time, &S::updatedAt, &T::setUpdatedAt,
              {"updatedAt"}, "", "updatedAt"),
        // The exchange spells the acronym in lower case.
        field(F::metadataJSON, "metadataJSON", Storage::Text, &S::metadataJSON, &T::setMetadataJSON,
              {"metadataJSON"}, "''", "metadataJson"),
        field(F::tags, "tags", Storage::ToMany, &S::tags, &T::setTags, {}, "", "tags"),
        field(F::project, "project", Storage::ToOne, &S::project, &T::setProject, {"project"}, "",
              "project"));
}();

static_assert(std::tuple_size_v<decltype(kThingFields)> == kThingFieldCount,
              "every thing field needs an entry in kThingFields");
static_assert(positionsMatch(kThingFields), "kThingFields must follow ThingField's order");
static_assert(kThingFieldCount <= 32, "changed fields are kept as bits of a 32-bit mask");

}  // namespace tavro::model::fields
