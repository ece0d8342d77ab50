// SPDX-License-Identifier: MIT
// Store figures for libraries of 10,000 and 100,000 things (5,000 tags, 2,000 projects):
// saving everything inserted, opening and fetching all three types (against a bare SELECT of
// the same rows through SQLite's C API), memory per loaded thing, saving 1% changed and 1,000
// changed things. Prints figures; judge them against the targets in the output.

#include <malloc.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LibraryGenerator.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes handed out by the allocator: what loading costs, whatever the allocator keeps cached.
size_t allocatedBytes() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The same rows and columns the store reads, stepped through with nothing built from them.
double bareSelectSeconds(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    auto start = Clock::now();
    const char* queries[] = {
        "SELECT id, uuid, name, sortOrder, linkedFolderOwner, createdAt, parent FROM Project",
        "SELECT id, uuid, name, createdAt FROM Tag",
        "SELECT id, uuid, kindRaw, title, subtitle, content, note, urlString, fileName, "
        "typeIdentifier, fileSize, dataSha256, dataSize, thumbnailDataSha256, thumbnailDataSize, "
        "iconDataSha256, iconDataSize, aspectRatio, isStarred, trashedAt, createdAt, updatedAt, "
        "metadataJSON, project FROM Thing",
        "SELECT thing, tag FROM ThingTags ORDER BY thing, position"};
    size_t bytes = 0;
    for (const char* sql : queries) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                sqlite3_column_text(statement, i);
                bytes += sqlite3_column_bytes(statement, i);
            }
        }
        sqlite3_finalize(statement);
    }
    double seconds = secondsSince(start);
    sqlite3_close(db);
    return bytes > 0 ? seconds : seconds;
}

size_t textBytes(const tavro::model::Thing& t) {
    return t.kindRaw().size() + t.title().size() + t.subtitle().size() + t.content().size() +
           t.note().size() + t.urlString().size() + t.fileName().size() +
           t.typeIdentifier().size() + t.metadataJSON().size();
}

void run(size_t thingCount, const std::string& folder) {
    using namespace tavro;
    std::string path = folder + "/Tavro-" + std::to_string(thingCount) + ".store";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    bench::LibraryShape shape;
    shape.things = thingCount;
    if (const char* fraction = std::getenv("TAVRO_BENCH_CONTENT_FRACTION")) {
        shape.contentFraction = std::atof(fraction);
    }
    auto library = bench::generateLibrary(shape);
    size_t records = shape.things + shape.tags + shape.projects;

    std::printf("== %zu things, %zu tags, %zu projects\n", shape.things, shape.tags,
                shape.projects);
    std::printf(
        "(%.1f%% of things carry data and a thumbnail; each new blob is a synced file, "
        "up to 8 written at a time)\n",
        shape.contentFraction * 100);
    {
        auto store = store::Store::open(path);
        store::UnitOfWork work(*store);
        bench::insertLibrary(library, work);
        auto start = Clock::now();
        work.save();
        double seconds = secondsSince(start);
        std::printf("save, all inserted:        %8.3f s  %10.0f records/s\n", seconds,
                    records / seconds);
    }
    library = {};

    double bare = bareSelectSeconds(path);
    size_t before = allocatedBytes();
    auto start = Clock::now();
    auto store = store::Store::open(path);
    store::UnitOfWork work(*store);
    auto things = work.fetchThings();
    auto tags = work.fetchTags();
    auto projects = work.fetchProjects();
    double fetch = secondsSince(start);
    size_t after = allocatedBytes();
    size_t text = 0;
    for (auto* thing : things) {
        text += textBytes(*thing);
    }
    std::printf("open + fetch all three:    %8.3f s  %10.0f records/s\n", fetch,
                (things.size() + tags.size() + projects.size()) / fetch);
    std::printf("bare SELECT of same rows:  %8.3f s  ratio %.2f (target < 3)\n", bare,
                fetch / bare);
    // Everything loaded is charged to the things: tags, projects and indexes included.
    double perThing = static_cast<double>(after - before) / things.size();
    double textPerThing = static_cast<double>(text) / things.size();
    std::printf(
        "memory per loaded thing:   %8.0f B   (text %.0f B; target < 1024 + text; the tags "
        "and projects are charged to the things too)\n",
        perThing, textPerThing);

    size_t onePercent = things.size() / 100;
    for (size_t i = 0; i < onePercent; ++i) {
        things[i * 100]->setTitle(things[i * 100]->title() + " (edited)");
        things[i * 100]->setUpdatedAt(things[i * 100]->updatedAt() + 1);
    }
    start = Clock::now();
    work.save();
    double seconds = secondsSince(start);
    std::printf("save, 1%% changed (%zu):   %8.3f s  %10.0f records/s\n", onePercent, seconds,
                onePercent / seconds);

    for (size_t i = 0; i < 1000 && i < things.size(); ++i) {
        things[i]->setNote("changed " + std::to_string(i));
        things[i]->setIsStarred(!things[i]->isStarred());
    }
    start = Clock::now();
    work.save();
    seconds = secondsSince(start);
    std::printf("save, 1,000 changed:       %8.3f s  (target < 0.100 s)\n", seconds);
    std::printf("peak RSS so far:           %8ld KiB\n", peakResidentKiB());
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "/tmp/tavro-store-bench";
    run(10000, folder);
    run(100000, folder);
    std::filesystem::remove_all(folder);
    return 0;
}
