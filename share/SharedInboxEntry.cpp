// SPDX-License-Identifier: MIT
#include "share/SharedInboxEntry.h"

#include "platform/Text.h"
#include "share/InboxDate.h"

namespace tavro::share {

namespace json = platform::json;

namespace {

void addOptional(json::Object& record, const char* key, const std::optional<std::string>& value) {
    if (value)
        record.push_back({key, platform::text::replaceIllFormedUtf8(*value)});
}

// An optional string member: missing or null is absent; any other type fails the record, as
// a decoder of the record's declared types does.
bool readOptional(const json::Fields& fields, std::string_view key,
                  std::optional<std::string>& out) {
    auto element = fields.get(key);
    if (!element || element->isNull())
        return true;
    auto text = json::asString(element);
    if (!text)
        return false;
    out = std::string(*text);
    return true;
}

bool readTags(const json::Fields& fields, std::vector<std::string>& out) {
    auto array = json::asArray(fields.get("tags"));
    if (!array)
        return false;
    for (json::Element tag : *array) {
        auto text = json::asString(tag);
        if (!text)
            return false;
        out.emplace_back(*text);
    }
    return true;
}

}  // namespace

SharedInboxEntry::SharedInboxEntry() : id(platform::Uuid::random()), createdAt(platform::now()) {}

SharedInboxEntry::SharedInboxEntry(std::optional<platform::Uuid> id,
                                   std::optional<platform::Timestamp> createdAt,
                                   std::optional<std::string> url, std::optional<std::string> text,
                                   std::optional<std::string> title,
                                   std::optional<std::string> note, std::vector<std::string> tags,
                                   std::optional<std::string> fileName,
                                   std::optional<std::string> typeIdentifier)
    : id(id ? *id : platform::Uuid::random()),
      createdAt(createdAt ? *createdAt : platform::now()),
      url(std::move(url)),
      text(std::move(text)),
      title(std::move(title)),
      note(std::move(note)),
      tags(std::move(tags)),
      fileName(std::move(fileName)),
      typeIdentifier(std::move(typeIdentifier)) {}

json::Object SharedInboxEntry::record() const {
    json::Object record;
    record.push_back({"id", id.uppercase()});
    record.push_back({"createdAt", formatInboxDate(createdAt)});
    addOptional(record, "url", url);
    addOptional(record, "text", text);
    addOptional(record, "title", title);
    addOptional(record, "note", note);
    json::Array tagValues;
    for (const std::string& tag : tags) {
        tagValues.emplace_back(platform::text::replaceIllFormedUtf8(tag));
    }
    record.push_back({"tags", std::move(tagValues)});
    addOptional(record, "fileName", fileName);
    addOptional(record, "typeIdentifier", typeIdentifier);
    return record;
}

std::string SharedInboxEntry::encoded() const {
    return json::write(record(), json::KeyOrder::AsGiven);
}

std::optional<SharedInboxEntry> SharedInboxEntry::decode(std::string_view text) {
    try {
        json::Parser parser;
        auto object = json::asObject(parser.parse(text));
        if (!object)
            return std::nullopt;
        json::Fields fields(*object);

        auto idText = json::asString(fields.get("id"));
        auto dateText = json::asString(fields.get("createdAt"));
        if (!idText || !dateText)
            return std::nullopt;
        auto id = platform::Uuid::parse(*idText);
        auto createdAt = parseInboxDate(*dateText);
        if (!id || !createdAt)
            return std::nullopt;

        SharedInboxEntry entry(id, createdAt, {}, {}, {}, {}, {}, {}, {});
        if (!readTags(fields, entry.tags) || !readOptional(fields, "url", entry.url) ||
            !readOptional(fields, "text", entry.text) ||
            !readOptional(fields, "title", entry.title) ||
            !readOptional(fields, "note", entry.note) ||
            !readOptional(fields, "fileName", entry.fileName) ||
            !readOptional(fields, "typeIdentifier", entry.typeIdentifier)) {
            return std::nullopt;
        }
        return entry;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace tavro::share
