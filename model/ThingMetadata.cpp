// SPDX-License-Identifier: MIT
#include "model/ThingMetadata.h"

#include "platform/Error.h"
#include "platform/Json.h"

namespace tavro::model {

namespace json = platform::json;

namespace {

// Absent for a missing key or null; false when the value has another type.
bool readString(const json::Fields& fields, std::string_view key, std::optional<std::string>& out) {
    auto value = fields.get(key);
    if (!value || value->isNull()) {
        return true;
    }
    auto text = json::asString(value);
    if (!text) {
        return false;
    }
    out.emplace(*text);
    return true;
}

// A JSON number that is a whole number in range (12, 12.0, 1.2e1); not 12.5, not true, not
// "12".
bool readInteger(const json::Fields& fields, std::string_view key, std::optional<int64_t>& out) {
    auto value = fields.get(key);
    if (!value || value->isNull()) {
        return true;
    }
    out = json::asInteger(value);
    return out.has_value();
}

void addString(json::Object& object, const char* key, const std::optional<std::string>& value) {
    if (value) {
        object.push_back({key, json::Value(*value)});
    }
}

void addInteger(json::Object& object, const char* key, const std::optional<int64_t>& value) {
    if (value) {
        object.push_back({key, json::Value(*value)});
    }
}

}  // namespace

std::string ThingMetadata::toJson() const {
    json::Object object;
    addString(object, "author", author);
    addString(object, "authorHandle", authorHandle);
    addString(object, "siteName", siteName);
    addInteger(object, "stars", stars);
    addInteger(object, "forks", forks);
    addString(object, "language", language);
    addString(object, "homepage", homepage);
    addInteger(object, "width", width);
    addInteger(object, "height", height);
    return json::write(json::Value(std::move(object)));
}

std::optional<ThingMetadata> ThingMetadata::fromJson(std::string_view text) {
    json::Element root;
    try {
        // Views read the metadata of many things in a row; the parser's buffers are kept per
        // thread, and the parsed document is used up before this function returns.
        thread_local json::Parser parser;
        root = parser.parse(text);
    } catch (const platform::Error&) {
        return std::nullopt;
    }
    auto object = json::asObject(root);
    if (!object) {
        return std::nullopt;
    }
    const json::Fields fields(*object);
    ThingMetadata m;
    const bool ok =
        readString(fields, "author", m.author) &&
        readString(fields, "authorHandle", m.authorHandle) &&
        readString(fields, "siteName", m.siteName) && readInteger(fields, "stars", m.stars) &&
        readInteger(fields, "forks", m.forks) && readString(fields, "language", m.language) &&
        readString(fields, "homepage", m.homepage) && readInteger(fields, "width", m.width) &&
        readInteger(fields, "height", m.height);
    if (!ok) {
        return std::nullopt;
    }
    return m;
}

}  // namespace tavro::model
