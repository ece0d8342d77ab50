// SPDX-License-Identifier: MIT
#include "exchange/HostRecords.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "exchange/Asset.h"
#include "exchange/AssetLookahead.h"
#include "exchange/ConflictCopy.h"
#include "exchange/ExchangeRequest.h"
#include "exchange/FileFingerprint.h"
#include "exchange/RecordReaders.h"
#include "model/ProjectFields.h"
#include "model/TagFields.h"
#include "model/ThingFields.h"
#include "platform/BridgeError.h"
#include "store/UnitOfWork.h"

namespace tavro::exchange {

namespace json = platform::json;
using platform::Uuid;

namespace {

enum class RecordType { Project, Tag, Thing };

std::optional<RecordType> recordType(const json::Fields& record) {
    auto text = json::asString(record.get("recordType"));
    if (text == "Project") {
        return RecordType::Project;
    }
    if (text == "Tag") {
        return RecordType::Tag;
    }
    if (text == "Thing") {
        return RecordType::Thing;
    }
    return std::nullopt;
}

Uuid requireIdentifier(const json::Fields& record) {
    auto uuid = optionalUUID(record.get("uuid"));
    if (!uuid) {
        throw platform::BridgeError(platform::message::kInvalidRecordIdentifier);
    }
    return *uuid;
}

RecordType requireType(const json::Fields& record) {
    auto type = recordType(record);
    if (!type) {
        throw platform::BridgeError(platform::message::kUnknownRecordType);
    }
    return *type;
}

template <class Record>
std::unordered_map<Uuid, Record*> unique(const std::vector<Record*>& records) {
    std::unordered_map<Uuid, Record*> index;
    index.reserve(records.size());
    for (Record* record : records) {
        if (!index.emplace(record->uuid(), record).second) {
            throw platform::BridgeError(platform::message::kDuplicateIdentifiers);
        }
    }
    return index;
}

template <class Record>
Record* lookup(const std::unordered_map<Uuid, Record*>& index, std::optional<Uuid> uuid) {
    if (!uuid) {
        return nullptr;
    }
    auto found = index.find(*uuid);
    return found == index.end() ? nullptr : found->second;
}

std::string text(const json::Fields& record, std::string_view key) {
    return std::string(string(record, key));
}

// ---- Pass 1: create what is missing ------------------------------------------------------

// The members the first and last passes read of a record.
void readHead(json::Fields& record, json::ObjectView object) {
    record.assign(object, {"deleted", "recordType", "uuid"});
}

// The stored record a host record applies to, found (or made) once in the first pass and used
// by the second.
struct Target {
    RecordType type = RecordType::Thing;
    model::Record* record = nullptr;  // null for a deleted record
};

template <typename Record, typename Make>
Record* findOrCreate(std::unordered_map<Uuid, Record*>& index, const Uuid& uuid,
                     UnitOfWork& unitOfWork, Make make) {
    auto [at, added] = index.try_emplace(uuid, nullptr);
    if (added) {
        try {
            auto record = make();
            record->setUuid(uuid);
            at->second = unitOfWork.insert(std::move(record));
        } catch (...) {
            index.erase(at);
            throw;
        }
    }
    return at->second;
}

Target createMissing(UnitOfWork& unitOfWork, const json::Fields& record, ExchangeIndexes& indexes) {
    Uuid uuid = requireIdentifier(record);
    switch (RecordType type = requireType(record)) {
        case RecordType::Project:
            return {type, findOrCreate(indexes.projects, uuid, unitOfWork, [&] {
                        return std::make_unique<model::Project>(uuid, "", nullptr);
                    })};
        case RecordType::Tag:
            return {type, findOrCreate(indexes.tags, uuid, unitOfWork,
                                       [&] { return std::make_unique<model::Tag>(uuid, ""); })};
        case RecordType::Thing:
            // Every value of the new thing comes from the record: no random identifier and no
            // clock reading is made for it only to be replaced.
            return {type, findOrCreate(indexes.things, uuid, unitOfWork,
                                       [&] { return std::make_unique<model::Thing>(uuid); })};
    }
    return {};
}

// ---- Pass 2: apply ---------------------------------------------------------------------

namespace fields = model::fields;

// The tags a record names: the whole array is ignored when any element is not text;
// identifiers that do not parse or name no tag are dropped, the others keep their order.
std::vector<model::Tag*> namedTags(const json::Fields& record, std::string_view key,
                                   const ExchangeIndexes& indexes) {
    std::vector<model::Tag*> tags;
    auto array = json::asArray(record.get(key));
    if (!array) {
        return tags;
    }
    for (json::Element element : *array) {
        if (!element.isString()) {
            return {};
        }
    }
    for (json::Element element : *array) {
        model::Tag* tag = lookup(indexes.tags, optionalUUID(element));
        // A tag is carried once, however often the host names it.
        if (tag && std::find(tags.begin(), tags.end(), tag) == tags.end()) {
            tags.push_back(tag);
        }
    }
    return tags;
}

template <typename State>
const State& defaults() {
    static const State state{};
    return state;
}

// Applies one field of a host record through the record's setter. A key left out, null or of
// another type reads as the exchange's default: empty text, the epoch, no relationship, and
// the field's own default for numbers and booleans. The identifier is set when the record is
// created, and byte fields come through the asset reader (applyContents).
template <typename Record, typename Entry>
void applyField(Record& target, const json::Fields& record, const Entry& entry,
                const ExchangeIndexes& indexes) {
    if constexpr (!fields::kIsInverse<Entry>) {
        using Value = typename Entry::Value;
        const Value& fallback = defaults<typename Entry::StateType>().*entry.member;
        auto set = [&](auto value) { (target.*entry.setter)(std::move(value)); };
        auto value = record.get(entry.key);
        if constexpr (std::is_same_v<Value, std::string>) {
            if (entry.whenAbsent == fields::WhenAbsent::Keep) {
                if (auto present = json::asString(value)) {
                    set(std::string(*present));
                }
            } else if constexpr (std::is_invocable_v<decltype(entry.setter), Record&,
                                                     std::string_view>) {
                set(string(record, entry.key));  // no copy unless the text changed
            } else {
                set(text(record, entry.key));
            }
        } else if constexpr (std::is_same_v<Value, bool>) {
            set(json::asBoolean(value).value_or(fallback));
        } else if constexpr (std::is_same_v<Value, int64_t>) {
            set(json::asInteger(value).value_or(fallback));
        } else if constexpr (std::is_same_v<Value, double>) {
            if (entry.storage == fields::Storage::Time) {
                set(date(record, entry.key));
            } else {
                set(json::asDouble(value).value_or(fallback));
            }
        } else if constexpr (std::is_same_v<Value, std::optional<platform::Timestamp>>) {
            set(optionalDate(record, entry.key));
        } else if constexpr (std::is_same_v<Value, model::Project*>) {
            set(lookup(indexes.projects, optionalUUID(value)));
        } else if constexpr (std::is_same_v<Value, std::vector<model::Tag*>>) {
            set(namedTags(record, entry.key, indexes));
        } else {
            static_assert(std::is_same_v<Value, platform::Uuid> ||
                              std::is_same_v<Value, model::OptionalContent>,
                          "no exchange reader for this field type");
        }
    }
}

template <typename Record, typename Table>
void applyFields(Record& target, const json::Fields& record, const Table& table,
                 const ExchangeIndexes& indexes) {
    fields::forEach(table, [&](const auto& entry) { applyField(target, record, entry, indexes); });
}

void applyProject(model::Project& project, const json::Fields& record,
                  const ExchangeIndexes& indexes) {
    applyFields(project, record, fields::kProjectFields, indexes);
}

void applyTag(model::Tag& tag, const json::Fields& record, const ExchangeIndexes& indexes) {
    applyFields(tag, record, fields::kTagFields, indexes);
}

// The host sent the bytes of a content the thing already holds: should its blob have gone
// missing from the store, this is the chance to put it back.
void offerForRepair(UnitOfWork& unitOfWork, const model::OptionalContent& held,
                    const std::optional<model::Content>& sent) {
    if (held && sent && held->isStored() && *held == *sent) {
        unitOfWork.supply(*sent);
    }
}

// The byte fields, in schema order, from the record's asset files. `data` was read before the
// merge decision (and offered for repair then); the others are read here. Returns whether the
// thing now holds a content that is still one of the host's files (a new content).
bool applyContents(UnitOfWork& unitOfWork, model::Thing& thing, const json::Fields& record,
                   std::optional<model::Content> data, AssetReader& assets) {
    bool tookHostFile = false;
    fields::forEach(fields::kThingFields, [&](const auto& entry) {
        if constexpr (std::is_same_v<typename std::remove_cvref_t<decltype(entry)>::Value,
                                     model::OptionalContent>) {
            if (entry.index == static_cast<int>(model::ThingField::data)) {
                (thing.*entry.setter)(std::move(data));
            } else {
                std::optional<model::Content> content = assets.read(record, entry.key);
                (thing.*entry.setter)(content);
                offerForRepair(unitOfWork, thing.state().*entry.member, content);
            }
            const model::OptionalContent& held = thing.state().*entry.member;
            tookHostFile = tookHostFile || (held && held->isPendingFile());
        }
    });
    return tookHostFile;
}

void applyThingFields(UnitOfWork& unitOfWork, model::Thing& thing, const json::Fields& record,
                      std::optional<model::Content> data, AssetReader& assets,
                      ExchangeIndexes& indexes) {
    applyFields(thing, record, fields::kThingFields, indexes);
    if (applyContents(unitOfWork, thing, record, std::move(data), assets)) {
        indexes.givenHostFiles.push_back(&thing);
    }
}

enum class Decision { Apply, Skip };

// Newer wins, except for a linked thing whose host names the file fingerprint it last saw:
// that one is merged three-way by file fingerprints, keeping the store's version as a conflict
// copy when both sides changed the file.
Decision mergeDecision(UnitOfWork& unitOfWork, model::Thing& thing, const json::Fields& record,
                       const std::optional<model::Content>& data, ExchangeIndexes& indexes) {
    if (!indexes.priorThings.count(thing.uuid())) {
        return Decision::Apply;
    }
    auto base = json::asString(record.get("baseFileFingerprint"));
    if (base && isLinked(thing)) {
        std::string local = fileFingerprint(thing);
        std::optional<std::string> dataSha256;
        if (data) {
            dataSha256 = data->sha256;
        }
        std::string incoming = fileFingerprint(
            string(record, "kind"), string(record, "title"), string(record, "content"),
            string(record, "urlString"), string(record, "fileName"),
            optionalDate(record, "trashedAt"), dataSha256);
        if (incoming == *base && local != incoming) {
            return Decision::Skip;
        }
        if (local != *base && local != incoming) {
            preserveConflict(thing, local, indexes.things, unitOfWork);
        }
        return Decision::Apply;
    }
    return thing.updatedAt() > date(record, "updatedAt") ? Decision::Skip : Decision::Apply;
}

void applyThing(UnitOfWork& unitOfWork, model::Thing& thing, const json::Fields& record,
                AssetReader& assets, ExchangeIndexes& indexes) {
    // Read before the decision, so that a bad "data" path fails even a record that is skipped.
    std::optional<model::Content> data = assets.read(record, "data");
    offerForRepair(unitOfWork, thing.data(), data);
    if (mergeDecision(unitOfWork, thing, record, data, indexes) == Decision::Apply) {
        applyThingFields(unitOfWork, thing, record, std::move(data), assets, indexes);
    }
}

void apply(UnitOfWork& unitOfWork, const json::Fields& record, const Target& target,
           AssetReader& assets, ExchangeIndexes& indexes) {
    switch (target.type) {
        case RecordType::Project:
            applyProject(static_cast<model::Project&>(*target.record), record, indexes);
            break;
        case RecordType::Tag:
            applyTag(static_cast<model::Tag&>(*target.record), record, indexes);
            break;
        case RecordType::Thing:
            applyThing(unitOfWork, static_cast<model::Thing&>(*target.record), record, assets,
                       indexes);
            break;
    }
}

// ---- Pass 3: delete --------------------------------------------------------------------

template <class Record>
Record* take(std::unordered_map<Uuid, Record*>& index, const Uuid& uuid) {
    auto found = index.find(uuid);
    if (found == index.end()) {
        return nullptr;
    }
    Record* record = found->second;
    index.erase(found);
    return record;
}

void deleteRecord(UnitOfWork& unitOfWork, const json::Fields& record, ExchangeIndexes& indexes) {
    Uuid uuid = requireIdentifier(record);
    switch (requireType(record)) {
        case RecordType::Project:
            if (model::Project* project = take(indexes.projects, uuid)) {
                // Its sub-projects become top-level rather than going with it.
                std::vector<model::Project*> children = project->children();
                for (model::Project* child : children) {
                    child->setParent(nullptr);
                }
                unitOfWork.remove(project);
            }
            break;
        case RecordType::Tag:
            if (model::Tag* tag = take(indexes.tags, uuid)) {
                unitOfWork.remove(tag);
            }
            break;
        case RecordType::Thing:
            if (model::Thing* thing = take(indexes.things, uuid)) {
                unitOfWork.remove(thing);
            }
            break;
    }
}

}  // namespace

ExchangeIndexes loadIndexes(UnitOfWork& unitOfWork) {
    ExchangeIndexes indexes;
    indexes.things = unique(unitOfWork.fetchThings());
    indexes.priorThings.reserve(indexes.things.size());
    for (const auto& entry : indexes.things) {
        indexes.priorThings.insert(entry.first);
    }
    indexes.tags = unique(unitOfWork.fetchTags());
    indexes.projects = unique(unitOfWork.fetchProjects());
    return indexes;
}

void checkProjectCycles(const ExchangeIndexes& indexes) {
    for (const auto& [uuid, project] : indexes.projects) {
        std::unordered_set<Uuid> seen{uuid};
        for (const model::Project* parent = project->parent(); parent; parent = parent->parent()) {
            if (!seen.insert(parent->uuid()).second) {
                throw platform::BridgeError(platform::message::kProjectCycle);
            }
        }
    }
}

void applyHostRecords(UnitOfWork& unitOfWork, const ExchangeRequest& request, AssetReader& assets,
                      ExchangeIndexes& indexes) {
    // Each pass indexes the record it reads into one reused index: holding every record indexed
    // for the whole exchange would cost as much memory as the request's own document.
    // The first pass reads only the head of each record and remembers what it applies to, so
    // that the second reads no identifier again and the last revisits only deletions.
    const auto& records = request.records();
    AssetLookahead lookahead(assets, records, [](const json::Fields& record) {
        return !isDeleted(record) && recordType(record) == RecordType::Thing;
    });
    json::Fields record;
    std::vector<Target> targets(records.size());
    // A first import makes nearly every record it reads: an index grown record by record would
    // be rebuilt again and again on the way to a library's size.
    if (indexes.things.empty()) {
        indexes.things.reserve(records.size());
    }
    for (size_t i = 0; i < records.size(); ++i) {
        readHead(record, records[i]);
        if (!isDeleted(record)) {
            targets[i] = createMissing(unitOfWork, record, indexes);
        }
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (targets[i].record != nullptr) {
            record.assign(records[i]);
            apply(unitOfWork, record, targets[i], assets, indexes);
        }
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (targets[i].record == nullptr) {
            readHead(record, records[i]);
            deleteRecord(unitOfWork, record, indexes);
        }
    }
    checkProjectCycles(indexes);
}

}  // namespace tavro::exchange
