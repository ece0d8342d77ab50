// SPDX-License-Identifier: MIT
#pragma once
// Realistic libraries for benchmarks: things of every kind with text of typical lengths,
// tags and a project tree, some things with small contents. Deterministic for a seed.
// Header-only, so that every benchmark can use it: the store benchmark inserts it through a
// unit of work; the exchange benchmark can turn the same records into a request.

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/Content.h"
#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "platform/Uuid.h"
#include "store/UnitOfWork.h"

namespace tavro::bench {

struct LibraryShape {
    size_t things = 10000;
    size_t tags = 5000;
    size_t projects = 2000;
    double contentFraction = 0.02;  // things that carry `data` (and a thumbnail)
    uint32_t seed = 1;
};

struct GeneratedProject {
    platform::Uuid uuid;
    std::string name;
    int64_t sortOrder = 0;
    std::string linkedFolderOwner;
    double createdAt = 0;
    int64_t parent = -1;  // index into projects, or -1
};

struct GeneratedTag {
    platform::Uuid uuid;
    std::string name;
    double createdAt = 0;
};

struct GeneratedThing {
    platform::Uuid uuid;
    model::ThingKind kind = model::ThingKind::note;
    std::string title, subtitle, content, note, urlString, fileName, typeIdentifier;
    int64_t fileSize = 0;
    double aspectRatio = 1.0;
    bool isStarred = false;
    std::optional<double> trashedAt;
    double createdAt = 0, updatedAt = 0;
    std::string metadataJSON;
    std::vector<int64_t> tags;  // indexes into tags
    int64_t project = -1;       // index into projects, or -1
    std::optional<std::string> data;
    std::optional<std::string> thumbnail;
};

struct GeneratedLibrary {
    std::vector<GeneratedProject> projects;
    std::vector<GeneratedTag> tags;
    std::vector<GeneratedThing> things;
};

namespace detail {

inline std::string words(std::mt19937& random, size_t minWords, size_t maxWords) {
    static const char* vocabulary[] = {
        "design",    "notes",  "river",  "paper",   "garden", "swift", "memory", "light",
        "caf\u00e9", "stone",  "review", "draft",   "ocean",  "build", "market", "plan",
        "\u00fcber", "vector", "house",  "journal", "screen", "trail", "sketch", "story"};
    std::uniform_int_distribution<size_t> count(minWords, maxWords);
    std::uniform_int_distribution<size_t> pick(0, std::size(vocabulary) - 1);
    std::string text;
    for (size_t i = count(random); i > 0; --i) {
        if (!text.empty()) {
            text += ' ';
        }
        text += vocabulary[pick(random)];
    }
    return text;
}

inline platform::Uuid uuid(std::mt19937_64& random) {
    platform::Uuid id;
    for (size_t i = 0; i < 16; i += 8) {
        uint64_t bits = random();
        for (size_t j = 0; j < 8; ++j) {
            id.bytes[i + j] = static_cast<uint8_t>(bits >> (8 * j));
        }
    }
    id.bytes[6] = (id.bytes[6] & 0x0f) | 0x40;
    id.bytes[8] = (id.bytes[8] & 0x3f) | 0x80;
    return id;
}

inline void fillByKind(GeneratedThing& thing, std::mt19937& random, size_t index) {
    using model::ThingKind;
    std::string slug = std::to_string(index);
    switch (thing.kind) {
        case ThingKind::link:
        case ThingKind::github:
        case ThingKind::tweet:
            thing.urlString = "https://example.com/" + words(random, 1, 3) + "/" + slug;
            thing.subtitle = "example.com";
            thing.metadataJSON = R"({"siteName":"Example","author":")" + words(random, 1, 2) +
                                 R"(","publishedAt":"2024-05-01"})";
            break;
        case ThingKind::image:
        case ThingKind::video:
        case ThingKind::document:
            thing.fileName = words(random, 1, 2) + " " + slug +
                             (thing.kind == ThingKind::image   ? ".png"
                              : thing.kind == ThingKind::video ? ".mp4"
                                                               : ".pdf");
            thing.typeIdentifier = thing.kind == ThingKind::image   ? "public.png"
                                   : thing.kind == ThingKind::video ? "public.mpeg-4"
                                                                    : "com.adobe.pdf";
            thing.fileSize = 10000 + static_cast<int64_t>(random() % 5000000);
            break;
        case ThingKind::quote:
        case ThingKind::note:
            thing.content = words(random, 20, 60);
            break;
    }
}

}  // namespace detail

inline GeneratedLibrary generateLibrary(const LibraryShape& shape) {
    std::mt19937 random(shape.seed);
    std::mt19937_64 ids(shape.seed * 7919ull + 1);
    std::uniform_real_distribution<double> time(1.6e9, 1.75e9);
    GeneratedLibrary library;

    library.projects.resize(shape.projects);
    for (size_t i = 0; i < shape.projects; ++i) {
        auto& project = library.projects[i];
        project.uuid = detail::uuid(ids);
        project.name = detail::words(random, 1, 3);
        project.sortOrder = static_cast<int64_t>(i % 17);
        project.createdAt = time(random);
        // A forest: about a fifth are top level, the rest hang under an earlier project.
        if (i > 0 && random() % 5 != 0) {
            project.parent = static_cast<int64_t>(random() % i);
        }
        if (random() % 50 == 0) {
            project.linkedFolderOwner = "device-" + std::to_string(random() % 4);
        }
    }
    library.tags.resize(shape.tags);
    for (size_t i = 0; i < shape.tags; ++i) {
        library.tags[i] = {detail::uuid(ids), detail::words(random, 1, 2) + " " + std::to_string(i),
                           time(random)};
    }
    library.things.resize(shape.things);
    // Tag use is skewed: a few tags are on many things, most on a few.
    std::geometric_distribution<int64_t> tagPick(0.01);
    for (size_t i = 0; i < shape.things; ++i) {
        auto& thing = library.things[i];
        thing.uuid = detail::uuid(ids);
        thing.kind = model::kAllThingKinds[random() % 8];
        thing.title = detail::words(random, 2, 8);
        thing.note = random() % 4 == 0 ? detail::words(random, 3, 15) : "";
        detail::fillByKind(thing, random, i);
        thing.aspectRatio = model::defaultAspectRatio(thing.kind);
        thing.isStarred = random() % 10 == 0;
        thing.createdAt = time(random);
        thing.updatedAt = thing.createdAt + (random() % 100000);
        if (random() % 25 == 0) {
            thing.trashedAt = thing.updatedAt;
        }
        for (size_t t = random() % 4; t > 0 && shape.tags > 0; --t) {
            thing.tags.push_back(tagPick(random) % static_cast<int64_t>(shape.tags));
        }
        if (shape.projects > 0 && random() % 3 != 0) {
            thing.project = static_cast<int64_t>(random() % shape.projects);
        }
        if (static_cast<double>(random() % 10000) < shape.contentFraction * 10000) {
            thing.data = "bytes of thing " + std::to_string(i) + std::string(1024, 'd');
            thing.thumbnail = "thumbnail " + std::to_string(i % 97);
        }
    }
    return library;
}

// Inserts the whole library into a unit of work (not saved).
inline void insertLibrary(const GeneratedLibrary& library, store::UnitOfWork& work) {
    std::vector<model::Project*> projects;
    for (const auto& p : library.projects) {
        auto project = std::make_unique<model::Project>(p.name, nullptr);
        project->setUuid(p.uuid);
        project->setSortOrder(p.sortOrder);
        project->setLinkedFolderOwner(p.linkedFolderOwner);
        project->setCreatedAt(p.createdAt);
        projects.push_back(work.insert(std::move(project)));
    }
    for (size_t i = 0; i < library.projects.size(); ++i) {
        if (library.projects[i].parent >= 0) {
            projects[i]->setParent(projects[library.projects[i].parent]);
        }
    }
    std::vector<model::Tag*> tags;
    for (const auto& t : library.tags) {
        auto tag = std::make_unique<model::Tag>(t.name);
        tag->setUuid(t.uuid);
        tag->setCreatedAt(t.createdAt);
        tags.push_back(work.insert(std::move(tag)));
    }
    for (const auto& g : library.things) {
        auto thing = std::make_unique<model::Thing>(g.kind, g.title);
        thing->setUuid(g.uuid);
        thing->setSubtitle(g.subtitle);
        thing->setContent(g.content);
        thing->setNote(g.note);
        thing->setUrlString(g.urlString);
        thing->setFileName(g.fileName);
        thing->setTypeIdentifier(g.typeIdentifier);
        thing->setFileSize(g.fileSize);
        thing->setAspectRatio(g.aspectRatio);
        thing->setIsStarred(g.isStarred);
        thing->setTrashedAt(g.trashedAt);
        thing->setCreatedAt(g.createdAt);
        thing->setUpdatedAt(g.updatedAt);
        thing->setMetadataJSON(g.metadataJSON);
        if (g.data) {
            thing->setData(model::Content::fromBytes(*g.data));
        }
        if (g.thumbnail) {
            thing->setThumbnailData(model::Content::fromBytes(*g.thumbnail));
        }
        model::Thing* inserted = work.insert(std::move(thing));
        std::vector<model::Tag*> thingTags;
        for (int64_t index : g.tags) {
            thingTags.push_back(tags[index]);
        }
        inserted->setTags(std::move(thingTags));
        if (g.project >= 0) {
            inserted->setProject(projects[g.project]);
        }
    }
}

}  // namespace tavro::bench
