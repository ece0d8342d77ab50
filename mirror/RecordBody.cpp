// SPDX-License-Identifier: MIT
#include "mirror/RecordBody.h"

#include <type_traits>

#include "model/ProjectFields.h"
#include "model/TagFields.h"
#include "model/ThingFields.h"
#include "platform/Error.h"
#include "platform/Json.h"

namespace tavro::mirror {

namespace json = platform::json;
namespace fields = model::fields;

namespace {

constexpr const char* kBodyErrorDomain = "TavroMirror.RecordBody";

template <typename Entry>
using ValueOf = typename std::remove_cvref_t<Entry>::Value;

template <typename Table, typename State>
EncodedRecord encodeState(const Table& table, const State& state) {
    EncodedRecord encoded;
    json::Writer out(encoded.body);
    out.beginObject();
    fields::forEach(table, [&](const auto& entry) {
        if constexpr (!fields::kIsInverse<decltype(entry)>) {
            using V = ValueOf<decltype(entry)>;
            const V& value = state.*entry.member;
            out.key(entry.name);
            if constexpr (std::is_same_v<V, platform::Uuid>) {
                out.string(value.lowercaseText().view());
            } else if constexpr (std::is_same_v<V, std::string>) {
                out.string(value);
            } else if constexpr (std::is_same_v<V, bool>) {
                out.boolean(value);
            } else if constexpr (std::is_same_v<V, int64_t>) {
                out.integer(value);
            } else if constexpr (std::is_same_v<V, double>) {
                out.number(value);
            } else if constexpr (std::is_same_v<V, std::optional<double>>) {
                value ? out.number(*value) : out.null();
            } else if constexpr (std::is_same_v<V, model::OptionalContent>) {
                if (value) {
                    out.beginObject().key("sha256").string(value->sha256);
                    out.key("size").unsignedInteger(value->size).endObject();
                    encoded.contents.push_back(value->sha256);
                } else {
                    out.null();
                }
            } else if constexpr (std::is_pointer_v<V>) {
                value ? out.string(value->uuid().lowercaseText().view()) : out.null();
            } else {
                static_assert(std::is_same_v<V, std::vector<model::Tag*>>);
                out.beginArray();
                for (const model::Tag* tag : value) {
                    out.string(tag->uuid().lowercaseText().view());
                }
                out.endArray();
            }
        }
    });
    out.endObject();
    return encoded;
}

[[noreturn]] void refuseBody(std::string_view type) {
    platform::throwError(
        kBodyErrorDomain, 1,
        "The sync server holds a " + std::string(type) + " that Tavro can\u2019t read.");
}

// Reads the value fields of `table` into `state`; `relation(entry, element)` is given the
// relationships. A missing or mistyped value keeps the schema default.
template <typename Table, typename State, typename Relation>
void decodeState(std::string_view type, std::string_view body, const Table& table, State& state,
                 Relation&& relation) {
    thread_local json::Parser parser;
    json::Element root;
    try {
        root = parser.parse(body);
    } catch (const platform::Error&) {
        refuseBody(type);
    }
    auto object = json::asObject(root);
    if (!object) {
        refuseBody(type);
    }
    json::Fields members(*object);
    fields::forEach(table, [&](const auto& entry) {
        if constexpr (!fields::kIsInverse<decltype(entry)>) {
            using V = ValueOf<decltype(entry)>;
            std::optional<json::Element> element = members.get(entry.name);
            V& value = state.*entry.member;
            if constexpr (std::is_same_v<V, platform::Uuid>) {
                auto uuid = json::asUuid(element);
                if (!uuid) {
                    refuseBody(type);
                }
                value = *uuid;
            } else if constexpr (std::is_same_v<V, std::string>) {
                if (auto text = json::asString(element)) {
                    value = std::string(*text);
                }
            } else if constexpr (std::is_same_v<V, bool>) {
                value = json::asBoolean(element).value_or(value);
            } else if constexpr (std::is_same_v<V, int64_t>) {
                value = json::asInteger(element).value_or(value);
            } else if constexpr (std::is_same_v<V, double>) {
                value = json::asDouble(element).value_or(value);
            } else if constexpr (std::is_same_v<V, std::optional<double>>) {
                value = json::asDouble(element);
            } else if constexpr (std::is_same_v<V, model::OptionalContent>) {
                value.reset();
                if (auto content = json::asObject(element)) {
                    json::Fields parts(*content);
                    auto digest = json::asString(parts.get("sha256"));
                    auto size = json::asInteger(parts.get("size"));
                    if (!digest || digest->size() != 64 || !size || *size < 0) {
                        refuseBody(type);
                    }
                    value =
                        model::Content::stored(std::string(*digest), static_cast<uint64_t>(*size));
                }
            } else {
                relation(entry, element);
            }
        }
    });
}

template <typename Table, typename Record, typename State>
void assignState(const Table& table, Record& record, const State& state) {
    fields::forEach(table, [&](const auto& entry) {
        if constexpr (!fields::kIsInverse<decltype(entry)>) {
            using V = ValueOf<decltype(entry)>;
            if constexpr (!std::is_pointer_v<V> && !std::is_same_v<V, std::vector<model::Tag*>>) {
                (record.*entry.setter)(state.*entry.member);
            }
        }
    });
}

}  // namespace

std::string_view recordTypeName(model::RecordType type) {
    switch (type) {
        case model::RecordType::Thing:
            return "Thing";
        case model::RecordType::Tag:
            return "Tag";
        case model::RecordType::Project:
            return "Project";
    }
    return "Thing";
}

std::optional<model::RecordType> recordTypeNamed(std::string_view name) {
    for (auto type :
         {model::RecordType::Thing, model::RecordType::Tag, model::RecordType::Project}) {
        if (recordTypeName(type) == name) {
            return type;
        }
    }
    return std::nullopt;
}

EncodedRecord encode(const model::Thing& thing) {
    return encodeState(fields::kThingFields, thing.state());
}

EncodedRecord encode(const model::Tag& tag) {
    return encodeState(fields::kTagFields, tag.state());
}

EncodedRecord encode(const model::Project& project) {
    return encodeState(fields::kProjectFields, project.state());
}

ThingImage decodeThing(std::string_view body) {
    ThingImage image;
    decodeState("thing", body, fields::kThingFields, image.state,
                [&](const auto& entry, std::optional<json::Element> element) {
                    using V = ValueOf<decltype(entry)>;
                    if constexpr (std::is_pointer_v<V>) {
                        image.project = json::asUuid(element);
                    } else if (auto tags = json::asArray(element)) {
                        for (json::Element tag : *tags) {
                            if (auto uuid = json::asUuid(tag)) {
                                image.tags.push_back(*uuid);
                            }
                        }
                    }
                });
    return image;
}

TagImage decodeTag(std::string_view body) {
    TagImage image;
    decodeState("tag", body, fields::kTagFields, image.state, [](const auto&, auto) {});
    return image;
}

ProjectImage decodeProject(std::string_view body) {
    ProjectImage image;
    decodeState("project", body, fields::kProjectFields, image.state,
                [&](const auto&, std::optional<json::Element> element) {
                    image.parent = json::asUuid(element);
                });
    return image;
}

void assign(model::Thing& thing, const ThingImage& image) {
    assignState(fields::kThingFields, thing, image.state);
}

void assign(model::Tag& tag, const TagImage& image) {
    assignState(fields::kTagFields, tag, image.state);
}

void assign(model::Project& project, const ProjectImage& image) {
    assignState(fields::kProjectFields, project, image.state);
}

}  // namespace tavro::mirror
