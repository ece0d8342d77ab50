// Exchange figures over generated libraries (10,000 and 100,000 things, 5,000 tags, 2,000
// projects, 5% of things with data files of 4–64 KiB and thumbnails):
//   (a) first import into an empty store;
//   (b) nothing changed, every known fingerprint sent back (the same process, warm, as hosts
//       run exchange after exchange), against its floor: parsing the request with simdjson,
//       selecting the same rows from SQLite and hashing the response bytes;
//   (c) 1% of things changed;
//   (d) 200 things with 5 MiB data files: first import, then unchanged.
// Each scenario runs in a child process of its own so that its peak RSS is its own.
// Usage: exchange_bench [--no-large-files] [THINGS...]   (default: 10000 100000)

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "LibraryGenerator.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "platform/Sha256.h"
#include "exchange/AssetDigestCache.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "store/Store.h"

namespace {

namespace json = tavro::platform::json;
namespace fs = std::filesystem;
using namespace tavro;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long peakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Bytes this process read and wrote through system calls (page cache included).
struct Io {
    long long read = 0, written = 0;
};
Io io() {
    Io result;
    std::ifstream file("/proc/self/io");
    std::string key;
    long long value;
    while (file >> key >> value) {
        if (key == "rchar:") {
            result.read = value;
        } else if (key == "wchar:") {
            result.written = value;
        }
    }
    return result;
}

struct Workspace {
    fs::path root;
    std::string storePath, directory;
    explicit Workspace(const std::string& name) {
        root = fs::temp_directory_path() /
               ("tavro-exchange-bench-" + name + "-" + std::to_string(getpid()));
        fs::remove_all(root);
        storePath = (root / "Library/Tavro.store").string();
        directory = (root / "exchange").string();
        fs::create_directories(root / "Library");
        fs::create_directories(directory);
    }
    ~Workspace() { fs::remove_all(root); }
};

// The request records of a generated library, with content written as files into the
// exchange directory. `dataSize` picks each data file's size.
json::Array requestRecords(const bench::GeneratedLibrary& library, const Workspace& workspace,
                           const std::function<size_t(size_t)>& dataSize) {
    json::Array records;
    records.reserve(library.projects.size() + library.tags.size() + library.things.size());
    for (const auto& p : library.projects) {
        json::Object record{{"recordType", "Project"},
                            {"uuid", p.uuid.lowercase()},
                            {"name", p.name},
                            {"sortOrder", p.sortOrder},
                            {"createdAt", int64_t(p.createdAt * 1000)},
                            {"linkedFolderOwner", p.linkedFolderOwner}};
        if (p.parent >= 0) {
            record.push_back({"parent", library.projects[p.parent].uuid.lowercase()});
        }
        records.push_back(std::move(record));
    }
    for (const auto& t : library.tags) {
        records.push_back(json::Object{{"recordType", "Tag"},
                                       {"uuid", t.uuid.lowercase()},
                                       {"name", t.name},
                                       {"createdAt", int64_t(t.createdAt * 1000)}});
    }
    auto& files = platform::FileSystem::real();
    for (size_t i = 0; i < library.things.size(); ++i) {
        const auto& g = library.things[i];
        json::Array tags;
        for (int64_t index : g.tags) {
            tags.push_back(library.tags[index].uuid.lowercase());
        }
        json::Object record{{"recordType", "Thing"},
                            {"uuid", g.uuid.lowercase()},
                            {"kind", std::string(model::rawValue(g.kind))},
                            {"title", g.title},
                            {"subtitle", g.subtitle},
                            {"content", g.content},
                            {"note", g.note},
                            {"urlString", g.urlString},
                            {"fileName", g.fileName},
                            {"typeIdentifier", g.typeIdentifier},
                            {"fileSize", g.fileSize},
                            {"aspectRatio", g.aspectRatio},
                            {"isStarred", g.isStarred},
                            {"createdAt", int64_t(g.createdAt * 1000)},
                            {"updatedAt", int64_t(g.updatedAt * 1000)},
                            {"metadataJson", g.metadataJSON},
                            {"tags", std::move(tags)}};
        if (g.trashedAt) {
            record.push_back({"trashedAt", int64_t(*g.trashedAt * 1000)});
        }
        if (g.project >= 0) {
            record.push_back({"project", library.projects[g.project].uuid.lowercase()});
        }
        if (g.data) {
            std::string path = workspace.directory + "/files/" + g.uuid.lowercase();
            files.createDirectories(workspace.directory + "/files");
            size_t size = dataSize(i);
            std::string bytes(size, static_cast<char>('a' + i % 26));
            bytes.replace(0, std::min(size, g.data->size()), *g.data, 0,
                          std::min(size, g.data->size()));
            std::ofstream(path + ".data", std::ios::binary).write(bytes.data(), bytes.size());
            record.push_back({"data", path + ".data"});
            if (g.thumbnail) {
                std::ofstream(path + ".thumb", std::ios::binary) << *g.thumbnail;
                record.push_back({"thumbnail", path + ".thumb"});
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::string requestText(const Workspace& workspace, const json::Array& records,
                        const std::string& knownFrom = {}) {
    json::Object request{{"version", 1},
                         {"storePath", workspace.storePath},
                         {"directory", workspace.directory},
                         {"records", records}};
    if (!knownFrom.empty()) {
        json::Parser parser;
        json::Object known;
        for (auto element :
             json::asArray(json::member(*json::asObject(parser.parse(knownFrom)), "records"))
                 .value()) {
            auto record = *json::asObject(element);
            if (auto fingerprint = json::asString(json::member(record, "fingerprint"))) {
                known.push_back(
                    {"Thing:" + std::string(*json::asString(json::member(record, "uuid"))),
                     std::string(*fingerprint)});
            }
        }
        request.push_back({"knownFingerprints", std::move(known)});
    }
    return json::write(request);
}

// One exchange, measured.
struct Exchange {
    std::string response;
    double seconds = 0;
    Io io;
};

Exchange run(store::Store& store, json::Parser& parser, const std::string& text) {
    exchange::SyncStatus sync{"iCloud enabled", std::nullopt};
    Io before = io();
    auto start = Clock::now();
    auto request = exchange::ExchangeRequest::parse(parser, text);
    Exchange result;
    static exchange::AssetDigestCache assetDigests;  // as the store owner keeps it
    result.response =
        exchange::runExchangeBody(store, request, platform::FileSystem::real(), sync, &assetDigests);
    result.seconds = secondsSince(start);
    Io after = io();
    result.io = {after.read - before.read, after.written - before.written};
    return result;
}

void report(const char* name, size_t records, const Exchange& exchange) {
    std::printf(
        "%-34s %8.3f s %9.0f records/s  read %8.1f MiB  written %8.1f MiB  peak RSS %5ld MiB\n",
        name, exchange.seconds, records / exchange.seconds, exchange.io.read / 1048576.0,
        exchange.io.written / 1048576.0, peakResidentMiB());
}

// The floor of an unchanged exchange: parse the request, select the same rows, hash the answer.
double floorSeconds(const std::string& request, const std::string& storePath,
                    const std::string& response, json::Parser& parser) {
    auto start = Clock::now();
    parser.parse(request);
    sqlite3* db = nullptr;
    sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (const char* table : {"Project", "Tag", "Thing", "ThingTags"}) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, (std::string("SELECT * FROM ") + table).c_str(), -1, &statement,
                           nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                sqlite3_column_text(statement, i);
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    platform::sha256Hex(response);
    return secondsSince(start);
}

void libraryScenarios(size_t things) {
    Workspace workspace("library");
    bench::LibraryShape shape;
    shape.things = things;
    shape.contentFraction = 0.05;
    auto library = bench::generateLibrary(shape);
    std::mt19937 random(7);
    auto records =
        requestRecords(library, workspace, [&](size_t) { return 4096 + random() % (60 * 1024); });
    size_t count = records.size();
    std::string first = requestText(workspace, records);
    std::printf("== %zu things (%zu records, request %.1f MiB)\n", things, count,
                first.size() / 1048576.0);

    json::Parser parser;
    auto store = store::Store::open(workspace.storePath);
    Exchange a = run(*store, parser, first);
    report("(a) first import", count, a);

    std::string unchanged = requestText(workspace, records, a.response);
    run(*store, parser, unchanged);  // warm: hosts run exchange after exchange
    Exchange b = run(*store, parser, unchanged);
    report("(b) unchanged, fingerprints known", count, b);
    double floor = floorSeconds(unchanged, workspace.storePath, b.response, parser);
    std::printf("    floor (parse + select + hash)  %8.3f s   ratio %.2f (target <= 3)\n", floor,
                b.seconds / floor);

    // 1% of things changed by the host.
    size_t thingStart = library.projects.size() + library.tags.size();
    for (size_t i = thingStart; i < count; i += 100) {
        auto& record = std::get<json::Object>(records[i].storage());
        for (auto& member : record) {
            if (member.key == "title") {
                member.value = std::string("changed title");
            } else if (member.key == "updatedAt") {
                member.value = int64_t{1900000000000};
            }
        }
    }
    Exchange c = run(*store, parser, requestText(workspace, records, b.response));
    report("(c) 1% changed", count, c);
}

void largeFileScenarios() {
    Workspace workspace("large");
    bench::LibraryShape shape;
    shape.things = 200;
    shape.tags = 20;
    shape.projects = 10;
    shape.contentFraction = 1.0;
    auto library = bench::generateLibrary(shape);
    auto records = requestRecords(library, workspace, [](size_t) { return size_t{5} << 20; });
    std::printf("== 200 things with 5 MiB data files\n");
    json::Parser parser;
    auto store = store::Store::open(workspace.storePath);
    Exchange first = run(*store, parser, requestText(workspace, records));
    report("(d) first import", records.size(), first);
    std::string unchanged = requestText(workspace, records, first.response);
    Exchange again = run(*store, parser, unchanged);
    report("(d) unchanged, first time", records.size(), again);
    // Files written less than two seconds before they were first hashed are hashed once more;
    // from then on their digests are remembered.
    Exchange steady = run(*store, parser, unchanged);
    report("(d) unchanged, steady", records.size(), steady);
    std::printf(
        "    (target: unchanged writes no file and reads no stored blob; peak RSS < 256 MiB)\n");
}

// Runs `scenario` in a child process so that its peak RSS and I/O are its own.
void isolated(const std::function<void()>& scenario) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        scenario();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes;
    bool largeFiles = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-large-files") {
            largeFiles = false;
        } else {
            sizes.push_back(std::stoul(argv[i]));
        }
    }
    if (sizes.empty()) {
        sizes = {10000, 100000};
    }
    for (size_t things : sizes) {
        isolated([&] { libraryScenarios(things); });
    }
    if (largeFiles) {
        isolated(largeFileScenarios);
    }
    return 0;
}
