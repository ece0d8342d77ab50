// SPDX-License-Identifier: MIT
// Exchange figures measured as a host sees them. The request exists only as text (written
// record by record, never held as a tree), and each exchange's peak memory is its own: every
// scenario runs in a child process of its own that opens the store file, reads its request
// text from a file (or builds it from the previous response, for (d)) and measures the rise of
// its peak resident memory over each exchange alone.
//
// Generated libraries (10,000 and 100,000 things, 5,000 tags, 2,000 projects, 5% of things
// with data files of 4–64 KiB and thumbnails):
//   (a) first import into an empty store;
//   (b) nothing changed, every known fingerprint (from the previous response) sent back; warm,
//       as hosts run exchange after exchange: the child runs it once before the measured run.
//       Against its floor: parsing the request with simdjson, selecting the same rows from
//       SQLite and hashing the response bytes;
//   (c) 1% of things changed (title and updatedAt of every 100th thing), warmed by one
//       unchanged exchange in the same child;
//   (d) 200 things with 5 MiB data files: first import, then unchanged twice, in one child.
// With --million: the first import of 1,000,000 small things (a uuid each, no files).
//
// For each exchange: time, records/s, request and response sizes, peak memory (the rise of
// VmHWM over the exchange, reset through /proc/self/clear_refs) beside the bound
// 2 × (request + response) + 64 MiB and the resident size it rose from, the processor time of
// its threads (user and system), and bytes read and written. Between exchanges the child gives
// each response back to the record memo, as the library's bridge does once its host has the
// answer.
//
// Usage: exchange_bench [--no-large-files] [--first-import-only] [--million] [THINGS...]
//   THINGS defaults to 10000 100000, unless --million is given.

#include <fcntl.h>
#include <linux/fs.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LibraryGenerator.h"
#include "exchange/AssetDigestCache.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "exchange/RecordMemo.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "platform/JsonWriter.h"
#include "platform/Sha256.h"
#include "store/Store.h"

namespace {

namespace json = tavro::platform::json;
namespace fs = std::filesystem;
using namespace tavro;
using Clock = std::chrono::steady_clock;

constexpr double kMiB = 1048576.0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- This process's memory and I/O ------------------------------------------------------

// A "VmXXX:" figure of /proc/self/status, in bytes.
long long statusBytes(std::string_view key) {
    std::ifstream file("/proc/self/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            return std::stoll(line.substr(key.size())) * 1024;
        }
    }
    return 0;
}

// Sets the peak resident size (VmHWM) to the current one, so that the peak read afterwards is
// that of what ran in between. Returns the resident size it starts from.
long long resetPeak() {
    int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0 || write(fd, "5", 1) != 1) {
        throw std::runtime_error("cannot reset the peak resident size");
    }
    close(fd);
    return statusBytes("VmRSS:");
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

// Processor time of this process's threads, those already ended included, in seconds. Beside
// the wall time it tells a slow machine (the same processor time, waited for longer) from more
// work, and how much of the time the threads ran side by side.
struct ProcessorTime {
    double user = 0, system = 0;
};
ProcessorTime processorTime() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// ---- Files --------------------------------------------------------------------------------

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text(fs::file_size(path), '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

void writeFile(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

// The folder every workspace of this run lies in. Each run deletes tens of thousands of files
// at its end. On ext4 without a journal, new files skip over inodes deleted within the last
// minutes one by one, so creating the next run's files among them costs seconds (20,000 files:
// 0.3 s in a clean place, 2.6 s two seconds after deleting 30,000 beside them). Marked as the
// top of a folder hierarchy (chattr +T), its folders are placed as new top-level folders are,
// in block groups with room to spare chosen by the folder's name, and most runs measure their
// own exchanges, not the last run's clean-up (the file system may still choose the block group
// that run emptied). Where the mark cannot be set the run goes on and says so.
const fs::path& scratchRoot() {
    static const fs::path root = [] {
        fs::path path =
            fs::temp_directory_path() / ("tavro-exchange-bench-" + std::to_string(getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        const bool marked = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                            ::ioctl(fd, FS_IOC_SETFLAGS, &(flags |= FS_TOPDIR_FL)) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (!marked) {
            std::printf(
                "(workspaces not marked as a top folder: files deleted by an earlier run "
                "may slow the creation of this one's)\n");
        }
        return path;
    }();
    return root;
}

struct Workspace {
    fs::path root;
    std::string storePath, directory;
    explicit Workspace(const std::string& name) {
        // A name unlike the last run's (hence the process number): a new top-level folder's
        // block group is chosen from its name.
        static int made = 0;
        root =
            scratchRoot() / (name + "-" + std::to_string(getpid()) + "-" + std::to_string(++made));
        fs::remove_all(root);
        storePath = (root / "Library/Tavro.store").string();
        directory = (root / "exchange").string();
        fs::create_directories(root / "Library");
        fs::create_directories(directory);
    }
    ~Workspace() { fs::remove_all(root); }
    std::string file(const std::string& name) const { return (root / name).string(); }
};

// ---- Request texts ------------------------------------------------------------------------

// Where the host keeps a thing's data file and thumbnail for the exchange.
std::string contentPath(const Workspace& workspace, const bench::GeneratedThing& thing) {
    return workspace.directory + "/files/" + thing.uuid.lowercase();
}

// Writes the data file (of `dataSize(index)` bytes) and thumbnail of every thing with content.
void writeContentFiles(const bench::GeneratedLibrary& library, const Workspace& workspace,
                       const std::function<size_t(size_t)>& dataSize) {
    fs::create_directories(workspace.directory + "/files");
    for (size_t i = 0; i < library.things.size(); ++i) {
        const auto& g = library.things[i];
        if (!g.data) {
            continue;
        }
        std::string path = contentPath(workspace, g);
        size_t size = dataSize(i);
        std::string bytes(size, static_cast<char>('a' + i % 26));
        size_t prefix = std::min(size, g.data->size());
        bytes.replace(0, prefix, *g.data, 0, prefix);
        writeFile(path + ".data", bytes);
        if (g.thumbnail) {
            writeFile(path + ".thumb", *g.thumbnail);
        }
    }
}

// "Thing:<uuid>" → fingerprint, as the host keeps them from the previous response.
using KnownFingerprints = std::vector<std::pair<std::string, std::string>>;

// The fingerprints of the things in a response, found in its text. A thing's record lists its
// keys in ascending order, so its "fingerprint" comes before its "uuid"; the writer escapes
// every quote inside a text, so `"fingerprint":"` and `"uuid":"` are found only as keys.
KnownFingerprints thingFingerprints(std::string_view response) {
    constexpr std::string_view kFingerprint = "\"fingerprint\":\"", kUuid = "\"uuid\":\"";
    auto textAt = [&](size_t start) {
        size_t end = response.find('"', start);
        if (end == std::string_view::npos) {
            throw std::runtime_error("unterminated text in the response");
        }
        return response.substr(start, end - start);
    };
    KnownFingerprints known;
    for (size_t at = response.find(kFingerprint); at != std::string_view::npos;) {
        std::string_view fingerprint = textAt(at + kFingerprint.size());
        size_t uuid = response.find(kUuid, at);
        size_t next = response.find(kFingerprint, at + kFingerprint.size());
        if (uuid == std::string_view::npos || uuid > next) {
            throw std::runtime_error("a fingerprinted record without its uuid in the response");
        }
        known.emplace_back("Thing:" + std::string(textAt(uuid + kUuid.size())),
                           std::string(fingerprint));
        at = next;
    }
    return known;
}

void writeProject(json::Writer& out, const bench::GeneratedLibrary& library,
                  const bench::GeneratedProject& p) {
    out.beginObject();
    out.key("recordType").string("Project");
    out.key("uuid").string(p.uuid.lowercase());
    out.key("name").string(p.name);
    out.key("sortOrder").integer(p.sortOrder);
    out.key("createdAt").integer(int64_t(p.createdAt * 1000));
    out.key("linkedFolderOwner").string(p.linkedFolderOwner);
    if (p.parent >= 0) {
        out.key("parent").string(library.projects[p.parent].uuid.lowercase());
    }
    out.endObject();
}

void writeTag(json::Writer& out, const bench::GeneratedTag& t) {
    out.beginObject();
    out.key("recordType").string("Tag");
    out.key("uuid").string(t.uuid.lowercase());
    out.key("name").string(t.name);
    out.key("createdAt").integer(int64_t(t.createdAt * 1000));
    out.endObject();
}

// `changed`: the host changed the thing's title since the last exchange.
void writeThing(json::Writer& out, const bench::GeneratedLibrary& library,
                const bench::GeneratedThing& g, const Workspace& workspace, bool changed) {
    out.beginObject();
    out.key("recordType").string("Thing");
    out.key("uuid").string(g.uuid.lowercase());
    out.key("kind").string(model::rawValue(g.kind));
    out.key("title").string(changed ? "changed title" : g.title);
    out.key("subtitle").string(g.subtitle);
    out.key("content").string(g.content);
    out.key("note").string(g.note);
    out.key("urlString").string(g.urlString);
    out.key("fileName").string(g.fileName);
    out.key("typeIdentifier").string(g.typeIdentifier);
    out.key("fileSize").integer(g.fileSize);
    out.key("aspectRatio").number(g.aspectRatio);
    out.key("isStarred").boolean(g.isStarred);
    out.key("createdAt").integer(int64_t(g.createdAt * 1000));
    out.key("updatedAt").integer(changed ? int64_t{1900000000000} : int64_t(g.updatedAt * 1000));
    out.key("metadataJson").string(g.metadataJSON);
    out.key("tags").beginArray();
    for (int64_t index : g.tags) {
        out.string(library.tags[index].uuid.lowercase());
    }
    out.endArray();
    if (g.trashedAt) {
        out.key("trashedAt").integer(int64_t(*g.trashedAt * 1000));
    }
    if (g.project >= 0) {
        out.key("project").string(library.projects[g.project].uuid.lowercase());
    }
    if (g.data) {
        std::string path = contentPath(workspace, g);
        out.key("data").string(path + ".data");
        if (g.thumbnail) {
            out.key("thumbnail").string(path + ".thumb");
        }
    }
    out.endObject();
}

// A request around the records `writeRecords` writes, with the fingerprints the host knows.
std::string requestText(const Workspace& workspace, const KnownFingerprints& known,
                        const std::function<void(json::Writer&)>& writeRecords) {
    std::string text;
    json::Writer out(text);
    out.beginObject();
    out.key("version").integer(1);
    out.key("storePath").string(workspace.storePath);
    out.key("directory").string(workspace.directory);
    out.key("records").beginArray();
    writeRecords(out);
    out.endArray();
    if (!known.empty()) {
        out.key("knownFingerprints").beginObject();
        for (const auto& [key, fingerprint] : known) {
            out.key(key).string(fingerprint);
        }
        out.endObject();
    }
    out.endObject();
    return text;
}

// The request of a generated library; `changeEveryHundredth` changes 1% of its things.
std::string libraryRequest(const bench::GeneratedLibrary& library, const Workspace& workspace,
                           const KnownFingerprints& known, bool changeEveryHundredth = false) {
    return requestText(workspace, known, [&](json::Writer& out) {
        for (const auto& p : library.projects) {
            writeProject(out, library, p);
        }
        for (const auto& t : library.tags) {
            writeTag(out, t);
        }
        for (size_t i = 0; i < library.things.size(); ++i) {
            writeThing(out, library, library.things[i], workspace,
                       changeEveryHundredth && i % 100 == 0);
        }
    });
}

// ---- Exchanges in child processes ---------------------------------------------------------

// What one measured exchange did. Plain data: it crosses from the child through a pipe.
struct Figures {
    double seconds = 0;
    long long requestBytes = 0, responseBytes = 0, peakBytes = 0;
    long long residentBefore = 0;  // what the process held when the exchange began
    Io io;
    ProcessorTime processor;
    double floorSeconds = 0;  // only when asked for
};

// One exchange of a child. Its request text is read from a file, or built from the previous
// response (for a host that exchanges again in the same process); an unmeasured step only
// brings the process to the state a host is in after earlier exchanges.
struct Step {
    std::function<std::string(const std::string& previousResponse)> request;
    bool measured = true;
    bool floor = false;  // also time the floor of this exchange
};

Step fromFile(const std::string& path, bool measured = true, bool floor = false) {
    return {[path](const std::string&) { return readFile(path); }, measured, floor};
}

// The floor of an unchanged exchange: parse the request, select the same rows, hash the answer.
double floorSeconds(const json::PaddedText& request, const std::string& storePath,
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

// The child's side: opens the store as a host does on its first exchange, runs the steps with
// one parser and one digest cache (as the store owner keeps them), sends the figures of each
// measured step to `out` and leaves the last response in `responsePath`.
void runSteps(const std::string& storePath, const std::vector<Step>& steps,
              const std::string& responsePath, int out) {
    // What the parent freed before the fork would otherwise be reused without being counted.
    malloc_trim(0);
    auto store = store::Store::open(storePath);
    json::Parser parser;
    exchange::AssetDigestCache assetDigests;
    exchange::RecordMemo records;
    exchange::SyncStatus sync{"iCloud enabled", std::nullopt};
    std::string response;
    for (const Step& step : steps) {
        // As the library's bridge hands a host's request over: copied once, with the padding the
        // parser reads past its end.
        json::PaddedText text = json::PaddedText::copyOf(step.request(response));
        const long long requestBytes = static_cast<long long>(text.size());
        std::optional<json::PaddedText> floorText;
        if (step.floor) {
            floorText = text;  // the exchange takes the request's text over
        }
        // Given back as the library's bridge gives it back once its host has the answer.
        records.reuseText(std::move(response));
        response = {};
        Figures figures;
        long long start = resetPeak();
        Io before = io();
        ProcessorTime processorBefore = processorTime();
        auto began = Clock::now();
        {
            auto request = exchange::ExchangeRequest::parse(parser, std::move(text));
            response = exchange::runExchangeBody(*store, request, platform::FileSystem::real(),
                                                 sync, &assetDigests, &records);
        }
        figures.seconds = secondsSince(began);
        ProcessorTime processorAfter = processorTime();
        figures.processor = {processorAfter.user - processorBefore.user,
                             processorAfter.system - processorBefore.system};
        Io after = io();
        figures.peakBytes = statusBytes("VmHWM:") - start;
        figures.residentBefore = start;
        figures.io = {after.read - before.read, after.written - before.written};
        figures.requestBytes = requestBytes;
        figures.responseBytes = static_cast<long long>(response.size());
        // As the store owner does once a host has its answer.
        store->checkpointIfDue();
        if (step.floor) {
            figures.floorSeconds = floorSeconds(*floorText, storePath, response, parser);
        }
        if (step.measured && write(out, &figures, sizeof figures) != sizeof figures) {
            throw std::runtime_error("cannot hand the figures to the parent");
        }
    }
    writeFile(responsePath, response);
}

// Runs the steps in a child process; returns the figures of the measured ones.
std::vector<Figures> isolated(const std::string& storePath, const std::vector<Step>& steps,
                              const std::string& responsePath) {
    int channel[2];
    if (pipe(channel) != 0) {
        throw std::runtime_error("cannot open a pipe");
    }
    std::fflush(stdout);
    // The bench's own writing (request texts, a host's content files) is flushed first: a
    // host hands its request over in memory, and what the exchange flushes should be its own.
    ::sync();
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        int status = 0;
        try {
            runSteps(storePath, steps, responsePath, channel[1]);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "exchange failed: %s\n", error.what());
            status = 1;
        }
        _exit(status);
    }
    close(channel[1]);
    std::vector<Figures> result;
    Figures figures;
    while (read(channel[0], &figures, sizeof figures) == sizeof figures) {
        result.push_back(figures);
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the exchange's child process failed");
    }
    return result;
}

// ---- Report -------------------------------------------------------------------------------

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void report(const char* name, size_t records, const Figures& f, const std::string& target = {}) {
    double bound = 2.0 * double(f.requestBytes + f.responseBytes) + 64 * kMiB;
    std::printf("%-30s %7.3f s %9.0f records/s  request %7.1f MiB  response %7.1f MiB\n", name,
                f.seconds, records / f.seconds, f.requestBytes / kMiB, f.responseBytes / kMiB);
    std::printf("    peak %6.1f MiB, bound 2 x (request + response) + 64 MiB = %6.1f MiB: %s\n",
                f.peakBytes / kMiB, bound / kMiB, f.peakBytes <= bound ? "holds" : "EXCEEDED");
    // The peak is the rise above this: the store's records, and the parser's and the last
    // response's memory that an exchange after another finds in place, are held before it.
    std::printf("    resident before it %.1f MiB\n", f.residentBefore / kMiB);
    std::printf("    processor %.3f s user + %.3f s system\n", f.processor.user,
                f.processor.system);
    std::printf("    read %.1f MiB, written %.1f MiB%s%s\n", f.io.read / kMiB, f.io.written / kMiB,
                target.empty() ? "" : "; ", target.c_str());
}

std::string secondsTarget(const Figures& f, double limit) {
    char text[64];
    std::snprintf(text, sizeof text, "target <= %.1f s: %s", limit, verdict(f.seconds <= limit));
    return text;
}

// ---- Scenarios ----------------------------------------------------------------------------

void libraryScenarios(size_t things, bool firstOnly) {
    Workspace workspace("library");
    bench::LibraryShape shape;
    shape.things = things;
    shape.contentFraction = 0.05;
    auto library = bench::generateLibrary(shape);
    std::mt19937 random(7);
    writeContentFiles(library, workspace, [&](size_t) { return 4096 + random() % (60 * 1024); });
    size_t count = library.projects.size() + library.tags.size() + library.things.size();
    std::printf("== %zu things (%zu records)\n", things, count);

    std::string first = workspace.file("a.request"), unchanged = workspace.file("b.request"),
                changed = workspace.file("c.request"), response = workspace.file("response");
    writeFile(first, libraryRequest(library, workspace, {}));
    Figures a = isolated(workspace.storePath, {fromFile(first)}, response).at(0);
    report("(a) first import", count, a, secondsTarget(a, 2.0));
    if (firstOnly) {
        return;
    }

    writeFile(unchanged, libraryRequest(library, workspace, thingFingerprints(readFile(response))));
    Figures b = isolated(workspace.storePath,
                         {fromFile(unchanged, false), fromFile(unchanged, true, true)}, response)
                    .at(0);
    report("(b) unchanged, warm", count, b, secondsTarget(b, 0.8));
    double ratio = b.seconds / b.floorSeconds;
    std::printf("    floor (parse + select + hash) %.3f s, ratio %.2f (target <= 2.5: %s)\n",
                b.floorSeconds, ratio, verdict(ratio <= 2.5));

    writeFile(changed,
              libraryRequest(library, workspace, thingFingerprints(readFile(response)), true));
    Figures c =
        isolated(workspace.storePath, {fromFile(unchanged, false), fromFile(changed)}, response)
            .at(0);
    char target[96];
    std::snprintf(target, sizeof target, "%.2f x (b) (target <= 1.2: %s)", c.seconds / b.seconds,
                  verdict(c.seconds <= 1.2 * b.seconds));
    report("(c) 1% changed, warm", count, c, target);
}

void largeFileScenarios() {
    Workspace workspace("large");
    bench::LibraryShape shape;
    shape.things = 200;
    shape.tags = 20;
    shape.projects = 10;
    shape.contentFraction = 1.0;
    auto library = bench::generateLibrary(shape);
    writeContentFiles(library, workspace, [](size_t) { return size_t{5} << 20; });
    size_t count = library.projects.size() + library.tags.size() + library.things.size();
    std::printf("== 200 things with 5 MiB data files\n");

    std::string first = workspace.file("a.request");
    writeFile(first, libraryRequest(library, workspace, {}));
    // One process throughout, as a host keeps running: files written less than two seconds
    // before they were first hashed are hashed once more; from then on their digests are
    // remembered. The unchanged request is built from the previous response in the child.
    auto unchanged = [&](const std::string& previous) {
        return libraryRequest(library, workspace, thingFingerprints(previous));
    };
    auto figures =
        isolated(workspace.storePath, {fromFile(first), Step{unchanged}, Step{unchanged}},
                 workspace.file("response"));
    report("(d) first import", count, figures.at(0));
    report("(d) unchanged, first time", count, figures.at(1));
    report("(d) unchanged, steady", count, figures.at(2));
    std::printf(
        "    (target: unchanged writes no file and reads no stored blob; peak < 256 MiB)\n");
}

// A million small things, each a uuid and nothing else, imported into an empty store.
void millionScenario() {
    constexpr size_t kThings = 1000000;
    Workspace workspace("million");
    std::mt19937_64 ids(11);
    std::string first = workspace.file("a.request");
    writeFile(first, requestText(workspace, {}, [&](json::Writer& out) {
                  for (size_t i = 0; i < kThings; ++i) {
                      out.beginObject();
                      out.key("recordType").string("Thing");
                      out.key("uuid").string(bench::detail::uuid(ids).lowercase());
                      out.endObject();
                  }
              }));
    std::printf("== 1,000,000 small things\n");
    Figures a = isolated(workspace.storePath, {fromFile(first)}, workspace.file("response")).at(0);
    report("(a) first import", kThings, a);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes;
    bool largeFiles = true, million = false, firstOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--no-large-files") {
            largeFiles = false;
        } else if (argument == "--first-import-only") {
            firstOnly = true;
            largeFiles = false;
        } else if (argument == "--million") {
            million = true;
        } else if (!argument.empty() && argument.size() <= 9 &&
                   argument.find_first_not_of("0123456789") == std::string::npos) {
            sizes.push_back(std::stoul(argument));
        } else {
            std::fprintf(stderr,
                         "usage: exchange_bench [--no-large-files] [--first-import-only] "
                         "[--million] [THINGS...]\n");
            return argument == "--help" ? 0 : 2;
        }
    }
    if (sizes.empty() && !million) {
        sizes = {10000, 100000};
    }
    int status = 0;
    try {
        for (size_t things : sizes) {
            libraryScenarios(things, firstOnly);
        }
        if (million) {
            millionScenario();
        }
        if (largeFiles) {
            largeFileScenarios();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "exchange_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(scratchRoot(), ignored);
    return status;
}
