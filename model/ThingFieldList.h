// SPDX-License-Identifier: MIT
#pragma once
// The stored fields of a thing that hold a value of their own, in schema order: one line each,
// from which ThingField, ThingState, Thing's accessors and setters and the field table
// (ThingFields.h, and through it the row, the table, the exchange record and the conflict copy)
// are all generated. A new stored field is one line here (before the relationships, which keep
// their hand-written setters and come last) plus a store layout step that adds its columns.
//
// X(name, Name, type, initial, storage, columns, sqlDefault, key)
//   name        the field, its state member and its accessor; its setter is setName
//   type        its value type; `initial` is the member's first value (the schema default)
//   storage     how it is kept and carried (fields::Storage)
//   columns     its column names, in parentheses
//   sqlDefault  the column default as SQL, for storages whose default is a plain value
//   key         the exchange key
// Arguments must not contain a comma outside parentheses.

#define TAVRO_THING_VALUE_FIELDS(X)                                                              \
    X(uuid, Uuid, platform::Uuid, {}, Uuid, ("uuid"), "", "uuid")                                \
    /* The exchange calls the raw kind just "kind". */                                           \
    X(kindRaw, KindRaw, std::string, "note", Text, ("kindRaw"), "'note'", "kind")                \
    X(title, Title, std::string, {}, Text, ("title"), "''", "title")                             \
    X(subtitle, Subtitle, std::string, {}, Text, ("subtitle"), "''", "subtitle")                 \
    X(content, Content, std::string, {}, Text, ("content"), "''", "content")                     \
    X(note, Note, std::string, {}, Text, ("note"), "''", "note")                                 \
    X(urlString, UrlString, std::string, {}, Text, ("urlString"), "''", "urlString")             \
    X(fileName, FileName, std::string, {}, Text, ("fileName"), "''", "fileName")                 \
    X(typeIdentifier, TypeIdentifier, std::string, {}, Text, ("typeIdentifier"), "''",           \
      "typeIdentifier")                                                                          \
    X(fileSize, FileSize, int64_t, 0, Integer, ("fileSize"), "0", "fileSize")                    \
    /* Byte fields travel as asset files, under shorter keys. */                                 \
    X(data, Data, OptionalContent, {}, Bytes, ("dataSha256", "dataSize"), "", "data")            \
    X(thumbnailData, ThumbnailData, OptionalContent, {}, Bytes,                                  \
      ("thumbnailDataSha256", "thumbnailDataSize"), "", "thumbnail")                             \
    X(iconData, IconData, OptionalContent, {}, Bytes, ("iconDataSha256", "iconDataSize"), "",    \
      "icon")                                                                                    \
    X(aspectRatio, AspectRatio, double, 1.0, Real, ("aspectRatio"), "1.0", "aspectRatio")        \
    X(isStarred, IsStarred, bool, false, Boolean, ("isStarred"), "0", "isStarred")               \
    X(trashedAt, TrashedAt, std::optional<platform::Timestamp>, {}, OptionalTime, ("trashedAt"), \
      "", "trashedAt")                                                                           \
    X(createdAt, CreatedAt, platform::Timestamp, 0, Time, ("createdAt"), "", "createdAt")        \
    X(updatedAt, UpdatedAt, platform::Timestamp, 0, Time, ("updatedAt"), "", "updatedAt")        \
    /* The exchange spells the acronym in lower case. */                                         \
    X(metadataJSON, MetadataJSON, std::string, {}, Text, ("metadataJSON"), "''", "metadataJson")
