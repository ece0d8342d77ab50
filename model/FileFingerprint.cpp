// SPDX-License-Identifier: MIT
#include "model/FileFingerprint.h"

#include <unordered_set>

#include "model/Project.h"
#include "model/Thing.h"
#include "platform/JsonWriter.h"
#include "platform/Sha256.h"

namespace tavro::model {

namespace json = platform::json;

std::string fileFingerprint(std::string_view kind, std::string_view title, std::string_view content,
                            std::string_view url, std::string_view name,
                            std::optional<platform::Timestamp> trashed,
                            const std::optional<std::string>& dataSha256) {
    // Members in ascending key order, written directly rather than through a sorted tree: the
    // order is fixed and this runs for every thing of every response.
    std::string out;
    json::Writer writer(out);
    writer.beginObject().key("content").string(content);
    if (dataSha256) {
        writer.key("data").string(*dataSha256);
    }
    writer.key("kind").string(kind).key("name").string(name).key("title").string(title);
    if (trashed) {
        writer.key("trashed").integer(platform::toMilliseconds(*trashed));
    }
    writer.key("url").string(url).endObject();
    return platform::sha256Hex(out);
}

std::string fileFingerprint(const Thing& thing) {
    return fileFingerprint(thing.state());
}

std::string fileFingerprint(const ThingState& state) {
    std::optional<std::string> dataSha256;
    if (state.data) {
        dataSha256 = state.data->sha256;
    }
    return fileFingerprint(state.kindRaw, state.title, state.content, state.urlString,
                           state.fileName, state.trashedAt, dataSha256);
}

bool isLinked(const Thing& thing) {
    std::unordered_set<const Project*> visited;
    for (const Project* project = thing.project(); project; project = project->parent()) {
        if (!visited.insert(project).second) {
            return false;
        }
        if (!project->linkedFolderOwner().empty()) {
            return true;
        }
    }
    return false;
}

}  // namespace tavro::model
