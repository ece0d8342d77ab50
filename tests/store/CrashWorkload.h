// SPDX-License-Identifier: MIT
#pragma once
// The change that the crash test's child process saves over and over: one "generation" per
// save. Every save rewrites the note of every thing to the new generation, inserts 200 things
// (with tags, projects and contents), removes the 200 oldest once 400 exist, and replaces one
// project subtree. So a store that holds all of a save or none of it has every note equal,
// min(200 × generation, 400) things and 40 projects.
//
// The received workload: exchange after exchange of the same things, each with a file, and no
// fingerprint known, so that every exchange writes every file into "received" again.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "exchange/ExchangeResponse.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace tavro::test::crash {

inline constexpr int kInsertedPerSave = 200;
inline constexpr int kMaxThings = 400;
inline constexpr int kRoots = 10;
inline constexpr int kChildrenPerRoot = 3;
inline constexpr int kTags = 20;

inline int64_t generationOf(const std::string& note) {
    return note.rfind("gen ", 0) == 0 ? std::stoll(note.substr(4)) : 0;
}

inline int64_t expectedThings(int64_t generation) {
    return std::min<int64_t>(kInsertedPerSave * generation, kMaxThings);
}

inline model::Project* addSubtree(store::UnitOfWork& work, int64_t generation) {
    auto* root = work.insert(
        std::make_unique<model::Project>("root " + std::to_string(generation), nullptr));
    for (int i = 0; i < kChildrenPerRoot; ++i) {
        work.insert(std::make_unique<model::Project>("child " + std::to_string(i), root));
    }
    return root;
}

// Runs one generation and saves it; returns the generation saved.
inline int64_t saveNextGeneration(store::UnitOfWork& work) {
    using model::Thing;
    auto things = work.fetchThings();
    auto tags = work.fetchTags();
    auto projects = work.fetchProjects();
    int64_t next = (things.empty() ? 0 : generationOf(things.front()->note())) + 1;
    std::string note = "gen " + std::to_string(next);

    while (tags.size() < kTags) {
        tags.push_back(
            work.insert(std::make_unique<model::Tag>("tag " + std::to_string(tags.size()))));
    }
    if (projects.empty()) {
        for (int i = 0; i < kRoots; ++i) {
            addSubtree(work, 0);
        }
    } else {
        // The oldest root goes with its children; a new one takes its place.
        model::Project* oldest = nullptr;
        for (auto* project : projects) {
            if (project->parent() == nullptr && (!oldest || project->id().row < oldest->id().row)) {
                oldest = project;
            }
        }
        work.remove(oldest);
        addSubtree(work, next);
    }
    projects = work.fetchProjects();

    std::sort(things.begin(), things.end(),
              [](Thing* a, Thing* b) { return a->id().row < b->id().row; });
    if (things.size() >= static_cast<size_t>(kMaxThings)) {
        for (int i = 0; i < kInsertedPerSave; ++i) {
            work.remove(things[i]);
        }
    }
    for (Thing* thing : work.fetchThings()) {
        thing->setNote(note);
    }
    auto thumbnail = model::Content::fromBytes(std::string(512, 'a' + next % 26));
    for (int i = 0; i < kInsertedPerSave; ++i) {
        auto thing =
            std::make_unique<Thing>(model::kAllThingKinds[i % 8], "thing " + std::to_string(i));
        thing->setNote(note);
        thing->setTags({tags[i % kTags], tags[(i * 7) % kTags]});
        thing->setProject(projects[i % projects.size()]);
        if (i % 50 == 0) {
            thing->setData(
                model::Content::fromBytes(note + " " + std::to_string(i) + std::string(2048, 'x')));
            thing->setThumbnailData(thumbnail);
        }
        work.insert(std::move(thing));
    }
    work.save();
    return next;
}

inline constexpr int kReceivedThings = 24;
inline constexpr size_t kReceivedFileBytes = 256 * 1024;

inline std::string receivedThing(int index) {
    char identifier[40];
    std::snprintf(identifier, sizeof identifier, "30000000-0000-0000-0000-%012d", index);
    return identifier;
}

// The bytes of thing `index`'s file; a file in "received" is whole when it holds exactly these.
inline std::string receivedBytes(int index) {
    return std::string(kReceivedFileBytes, static_cast<char>('a' + index % 26));
}

// Places the things' files in the exchange directory (done once, before any exchange).
inline void writeOutgoingFiles(const std::string& directory) {
    auto& files = platform::FileSystem::real();
    files.createDirectories(directory + "/outgoing");
    for (int i = 0; i < kReceivedThings; ++i) {
        files.writeFileAtomically(directory + "/outgoing/" + std::to_string(i), receivedBytes(i));
    }
}

// One exchange of every thing with its file; the host knows no fingerprint.
inline void exchangeEveryFile(store::Store& store, const std::string& storePath,
                              const std::string& directory) {
    namespace json = platform::json;
    json::Array records;
    for (int i = 0; i < kReceivedThings; ++i) {
        records.push_back(json::Object{{"recordType", "Thing"},
                                       {"uuid", receivedThing(i)},
                                       {"updatedAt", 1000},
                                       {"data", directory + "/outgoing/" + std::to_string(i)}});
    }
    std::string text = json::write(json::Object{{"version", 1},
                                                {"storePath", storePath},
                                                {"directory", directory},
                                                {"records", std::move(records)}});
    json::Parser parser;
    auto request = exchange::ExchangeRequest::parse(parser, text);
    exchange::runExchangeBody(store, request, platform::FileSystem::real(), {"", std::nullopt});
}

}  // namespace tavro::test::crash
