#include "exchange/FileFingerprint.h"

#include "model/Thing.h"
#include "platform/Json.h"
#include "platform/Sha256.h"

namespace tavro::exchange {

namespace json = platform::json;

namespace {

void appendMember(std::string& out, std::string_view key, std::string_view text) {
    if (out.size() > 1) {
        out.push_back(',');
    }
    json::appendString(out, key);
    out.push_back(':');
    json::appendString(out, text);
}

}  // namespace

std::string fileFingerprint(std::string_view kind, std::string_view title, std::string_view content,
                            std::string_view url, std::string_view name,
                            std::optional<platform::Timestamp> trashed,
                            const std::optional<std::string>& dataSha256) {
    // Members in ascending key order, written directly rather than through a sorted tree: the
    // order is fixed and this runs for every thing of every response.
    std::string out = "{";
    appendMember(out, "content", content);
    if (dataSha256) {
        appendMember(out, "data", *dataSha256);
    }
    appendMember(out, "kind", kind);
    appendMember(out, "name", name);
    appendMember(out, "title", title);
    if (trashed) {
        out += ",\"trashed\":";
        json::appendInteger(out, platform::toMilliseconds(*trashed));
    }
    appendMember(out, "url", url);
    out.push_back('}');
    return platform::sha256Hex(out);
}

std::string fileFingerprint(const model::Thing& thing) {
    std::optional<std::string> dataSha256;
    if (const auto& data = thing.data()) {
        dataSha256 = data->sha256;
    }
    return fileFingerprint(thing.kindRaw(), thing.title(), thing.content(), thing.urlString(),
                           thing.fileName(), thing.trashedAt(), dataSha256);
}

}  // namespace tavro::exchange
