// SPDX-License-Identifier: MIT
#include "model/ConflictCopy.h"

#include <algorithm>

#include "model/ThingFields.h"
#include "platform/Error.h"
#include "platform/Json.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"

namespace tavro::model {

namespace json = platform::json;

platform::Uuid conflictCopyIdentifier(const platform::Uuid& original,
                                      const std::string& fingerprint) {
    platform::Sha256 hash;
    hash.update(original.uppercase());
    hash.update(fingerprint);
    auto digest = hash.finish();
    platform::Uuid copy;
    std::copy_n(digest.begin(), copy.bytes.size(), copy.bytes.begin());
    return copy;
}

std::string conflictFileName(const std::string& fileName) {
    if (fileName.empty()) {
        return fileName;
    }
    std::string extension = platform::paths::extension(fileName);
    std::string name = platform::paths::deletingExtension(fileName) + kConflictSuffix;
    if (!extension.empty()) {
        name += "." + extension;
    }
    return name;
}

std::string conflictMetadata(const std::string& metadataJSON) {
    json::Parser parser;
    json::Element root;
    try {
        root = parser.parse(metadataJSON);
    } catch (const platform::Error&) {
        return metadataJSON;
    }
    if (!root.isObject()) {
        return metadataJSON;
    }
    json::Value metadata = json::toValue(root);
    json::Object kept;
    for (json::Member& member : std::get<json::Object>(metadata.storage())) {
        if (member.key != "linkedRelativePath") {
            kept.push_back(std::move(member));
        }
    }
    return json::write(kept);
}

std::unique_ptr<Thing> makeConflictCopy(const ThingState& losing, const platform::Uuid& original,
                                        const std::string& fingerprint,
                                        platform::Timestamp updatedAt) {
    // Everything that can fail comes before the copy is made.
    std::string metadata = conflictMetadata(losing.metadataJSON);

    platform::Uuid identifier = conflictCopyIdentifier(original, fingerprint);
    auto copy = std::make_unique<Thing>(identifier);
    fields::forEach(fields::kThingFields, [&](const auto& entry) {
        using Value = typename std::remove_cvref_t<decltype(entry)>::Value;
        if constexpr (!std::is_pointer_v<Value> && !std::is_same_v<Value, std::vector<Tag*>>) {
            (copy.get()->*entry.setter)(losing.*entry.member);
        }
    });
    copy->setUuid(identifier);  // the loop above copied the original's
    copy->setTitle(losing.title + kConflictSuffix);
    copy->setFileName(conflictFileName(losing.fileName));
    copy->setUpdatedAt(updatedAt);
    copy->setTrashedAt(std::nullopt);
    copy->setMetadataJSON(metadata);
    return copy;
}

}  // namespace tavro::model
