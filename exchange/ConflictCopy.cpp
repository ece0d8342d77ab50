// SPDX-License-Identifier: MIT
#include "exchange/ConflictCopy.h"

#include <memory>

#include "model/ThingFields.h"
#include "platform/Error.h"
#include "platform/Json.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/Time.h"
#include "store/UnitOfWork.h"

namespace tavro::exchange {

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

void preserveConflict(model::Thing& thing, const std::string& fingerprint,
                      std::unordered_map<platform::Uuid, model::Thing*>& things,
                      UnitOfWork& unitOfWork) {
    platform::Uuid identifier = conflictCopyIdentifier(thing.uuid(), fingerprint);
    if (things.count(identifier) != 0) {
        return;  // this conflict has been preserved already
    }
    // Everything that can fail comes before the copy joins the unit of work.
    std::string metadata = conflictMetadata(thing.metadataJSON());

    // Every stored value is copied (a new field included), then the copy's own ones replace
    // some. Relationships are set once the copy belongs to the unit of work.
    auto copy = std::make_unique<model::Thing>(thing.kind(), thing.title());
    model::fields::forEach(model::fields::kThingFields, [&](const auto& entry) {
        using Value = typename std::remove_cvref_t<decltype(entry)>::Value;
        if constexpr (!std::is_pointer_v<Value> &&
                      !std::is_same_v<Value, std::vector<model::Tag*>>) {
            (copy.get()->*entry.setter)(thing.state().*entry.member);
        }
    });
    copy->setUuid(identifier);
    copy->setTitle(thing.title() + kConflictSuffix);
    copy->setFileName(conflictFileName(thing.fileName()));
    copy->setUpdatedAt(platform::now());
    copy->setTrashedAt(std::nullopt);
    copy->setMetadataJSON(metadata);

    model::Thing* inserted = unitOfWork.insert(std::move(copy));
    inserted->setProject(thing.project());
    inserted->setTags(thing.tags());
    things.emplace(identifier, inserted);
}

}  // namespace tavro::exchange
