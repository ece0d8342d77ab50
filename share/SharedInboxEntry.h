// SPDX-License-Identifier: MIT
#pragma once
// One shared item as the share side hands it to the host: the record stored as "manifest.json"
// in the item's entry folder.
//
// The record is compact JSON with the keys in this order: "id" (upper-case UUID), "createdAt"
// (YYYY-MM-DDThh:mm:ssZ), "url", "text", "title", "note", "tags" (always present),
// "fileName", "typeIdentifier". Absent optionals are left out, never written as null; "/" is
// escaped as "\/". Reading accepts any key order, ignores unknown keys and treats null
// optionals as absent.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Json.h"
#include "platform/Time.h"
#include "platform/Uuid.h"

namespace tavro::share {

struct SharedInboxEntry {
    platform::Uuid id;
    platform::Timestamp createdAt;
    std::optional<std::string> url;
    std::optional<std::string> text;
    std::optional<std::string> title;
    std::optional<std::string> note;
    std::vector<std::string> tags;
    std::optional<std::string> fileName;
    std::optional<std::string> typeIdentifier;

    // A fresh entry: a new random id, created now, no content.
    SharedInboxEntry();
    // All nine fields in order; an absent id or creation time is made as above.
    SharedInboxEntry(std::optional<platform::Uuid> id, std::optional<platform::Timestamp> createdAt,
                     std::optional<std::string> url, std::optional<std::string> text,
                     std::optional<std::string> title, std::optional<std::string> note,
                     std::vector<std::string> tags, std::optional<std::string> fileName,
                     std::optional<std::string> typeIdentifier);

    // The record as a JSON object in the format's key order. Text that is not well-formed
    // UTF-8 is repaired (U+FFFD) so that the record always parses. Throws platform::Error when
    // the creation time cannot be written.
    platform::json::Object record() const;
    // The record's bytes, as stored in "manifest.json".
    std::string encoded() const;

    // Nothing when the text is no JSON object, lacks "id", "createdAt" or "tags", carries a
    // date in another form, or a member of the wrong type.
    static std::optional<SharedInboxEntry> decode(std::string_view json);
};

}  // namespace tavro::share
