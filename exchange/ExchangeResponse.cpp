#include "exchange/ExchangeResponse.h"

#include <unistd.h>
#include <algorithm>
#include <array>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "platform/Json.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "exchange/ExchangeRequest.h"
#include "exchange/FileFingerprint.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace tavro::exchange {

namespace json = platform::json;

namespace {

// Appends the members of one JSON object straight into a buffer. Records are written without
// an intermediate tree: the response lists every record of the store on every exchange.
class ObjectWriter {
  public:
    explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
    void finish() { out_.push_back('}'); }

    std::string& key(std::string_view name) {
        if (!first_) {
            out_.push_back(',');
        }
        first_ = false;
        json::appendString(out_, name);
        out_.push_back(':');
        return out_;
    }
    void text(std::string_view name, std::string_view value) {
        json::appendString(key(name), value);
    }
    void integer(std::string_view name, int64_t value) { json::appendInteger(key(name), value); }
    void timestamp(std::string_view name, platform::Timestamp value) {
        integer(name, platform::toMilliseconds(value));
    }

  private:
    std::string& out_;
    bool first_ = true;
};

// The three contents of a thing in asset-key order.
struct Asset {
    const char* key;
    const std::optional<model::Content>& (model::Thing::*content)() const;
};
constexpr std::array<Asset, 3> kAssets{{{"data", &model::Thing::data},
                                        {"thumbnail", &model::Thing::thumbnailData},
                                        {"icon", &model::Thing::iconData}}};

// What a thing's record says under each asset key: the digest (for the fingerprint) or the
// path of its file in "received" (for the host).
using AssetTexts = std::array<std::optional<std::string>, 3>;

AssetTexts assetDigests(const model::Thing& thing) {
    AssetTexts texts;
    for (size_t i = 0; i < kAssets.size(); ++i) {
        if (const auto& content = (thing.*kAssets[i].content)()) {
            texts[i] = content->sha256;
        }
    }
    return texts;
}

void writeTags(std::string& out, const model::Thing& thing) {
    std::vector<std::string> identifiers;
    identifiers.reserve(thing.tags().size());
    for (const model::Tag* tag : thing.tags()) {
        identifiers.push_back(tag->uuid().lowercase());
    }
    std::sort(identifiers.begin(), identifiers.end());
    out.push_back('[');
    for (size_t i = 0; i < identifiers.size(); ++i) {
        if (i) {
            out.push_back(',');
        }
        json::appendString(out, identifiers[i]);
    }
    out.push_back(']');
}

// A thing's record with its keys in ascending order, the order the record fingerprint hashes.
// `fingerprint` is written only for the host's copy.
void writeThing(std::string& out, const model::Thing& thing, const std::string& fileFingerprint,
                const AssetTexts& assets, const std::string* fingerprint) {
    ObjectWriter record(out);
    json::appendDouble(record.key("aspectRatio"), thing.aspectRatio());
    record.text("content", thing.content());
    record.timestamp("createdAt", thing.createdAt());
    if (assets[0]) {
        record.text("data", *assets[0]);
    }
    record.text("fileFingerprint", fileFingerprint);
    record.text("fileName", thing.fileName());
    record.integer("fileSize", thing.fileSize());
    if (fingerprint) {
        record.text("fingerprint", *fingerprint);
    }
    if (assets[2]) {
        record.text("icon", *assets[2]);
    }
    record.key("isStarred") += thing.isStarred() ? "true" : "false";
    record.text("kind", thing.kindRaw());
    record.text("metadataJson", thing.metadataJSON());
    record.text("note", thing.note());
    if (const model::Project* project = thing.project()) {
        record.text("project", project->uuid().lowercase());
    }
    record.text("recordType", "Thing");
    record.text("subtitle", thing.subtitle());
    writeTags(record.key("tags"), thing);
    if (assets[1]) {
        record.text("thumbnail", *assets[1]);
    }
    record.text("title", thing.title());
    if (auto trashedAt = thing.trashedAt()) {
        record.timestamp("trashedAt", *trashedAt);
    }
    record.text("typeIdentifier", thing.typeIdentifier());
    record.timestamp("updatedAt", thing.updatedAt());
    record.text("urlString", thing.urlString());
    record.text("uuid", thing.uuid().lowercase());
    record.finish();
}

void writeProject(std::string& out, const model::Project& project) {
    ObjectWriter record(out);
    record.text("recordType", "Project");
    record.text("uuid", project.uuid().lowercase());
    record.timestamp("createdAt", project.createdAt());
    record.text("name", project.name());
    record.integer("sortOrder", project.sortOrder());
    if (const model::Project* parent = project.parent()) {
        record.text("parent", parent->uuid().lowercase());
    }
    record.text("linkedFolderOwner", project.linkedFolderOwner());
    record.finish();
}

void writeTag(std::string& out, const model::Tag& tag) {
    ObjectWriter record(out);
    record.text("recordType", "Tag");
    record.text("uuid", tag.uuid().lowercase());
    record.timestamp("createdAt", tag.createdAt());
    record.text("name", tag.name());
    record.finish();
}

class ThingReporter {
  public:
    ThingReporter(const ExchangeRequest& request, const Store& store,
                  platform::FileSystem& fileSystem, std::string receivedPath,
                  const platform::OpenFolder& received)
        : known_(request.knownFingerprints()),
          store_(store),
          fileSystem_(fileSystem),
          receivedPath_(std::move(receivedPath)),
          received_(received) {}

    void write(std::string& out, const model::Thing& thing) {
        std::string fileFingerprint = exchange::fileFingerprint(thing);
        AssetTexts digests = assetDigests(thing);
        scratch_.clear();
        writeThing(scratch_, thing, fileFingerprint, digests, nullptr);
        std::string fingerprint = platform::sha256Hex(scratch_);

        std::string identifier = thing.uuid().lowercase();
        AssetTexts paths;
        AssetTexts names;
        for (size_t i = 0; i < kAssets.size(); ++i) {
            if (digests[i]) {
                names[i] = identifier + "." + kAssets[i].key;
                paths[i] = receivedPath_ + "/" + *names[i];
            }
        }
        if (!hostHolds(identifier, fingerprint)) {
            for (size_t i = 0; i < kAssets.size(); ++i) {
                if (names[i]) {
                    copies_.push_back({store_.blobPath(*digests[i]), *names[i], {}});
                }
            }
        }
        writeThing(out, thing, fileFingerprint, paths, &fingerprint);
    }

    // Writes the files of every thing the host does not hold in its current state, as one
    // batch: a library's first exchange may hand over thousands of files. They are written
    // through the folder opened before, so they land in it even if its path is replaced
    // meanwhile.
    void writeFiles() { fileSystem_.copyFilesInto(received_, copies_); }

  private:
    bool hostHolds(const std::string& identifier, const std::string& fingerprint) {
        key_.assign("Thing:").append(identifier);
        auto found = known_.find(key_);
        return found != known_.end() && found->second == fingerprint;
    }

    const std::unordered_map<std::string_view, std::string_view>& known_;
    const Store& store_;
    platform::FileSystem& fileSystem_;
    std::string receivedPath_;
    const platform::OpenFolder& received_;
    std::string scratch_;
    std::string key_;
    std::vector<platform::FileSystem::FileCopy> copies_;
};

}  // namespace

std::string receivedFolder(std::string_view directory) {
    std::string absolute;
    if (!directory.empty() && directory.front() == '/') {
        absolute = directory;
    } else {
        std::array<char, 4096> cwd{};
        absolute = getcwd(cwd.data(), cwd.size()) ? cwd.data() : "";
        absolute = platform::paths::join(absolute, directory);
    }
    return platform::paths::join(absolute, "received");
}

std::string buildResponse(UnitOfWork& unitOfWork, const ExchangeRequest& request,
                          const Store& store, platform::FileSystem& fileSystem,
                          const SyncStatus& sync) {
    // The host's folder, so its files follow the host's umask; a "received" that is a link or
    // a file is refused rather than written through.
    std::string received = receivedFolder(request.directory());
    platform::OpenFolder folder =
        fileSystem.openSubfolder(platform::paths::parent(received), "received");

    std::string out;
    ObjectWriter response(out);
    response.integer("version", 1);
    response.text("directory", request.directory());
    std::string& records = response.key("records");
    records.push_back('[');
    bool first = true;
    auto separate = [&] {
        if (!first) {
            records.push_back(',');
        }
        first = false;
    };
    for (const model::Project* project : unitOfWork.fetchProjects()) {
        separate();
        writeProject(records, *project);
    }
    for (const model::Tag* tag : unitOfWork.fetchTags()) {
        separate();
        writeTag(records, *tag);
    }
    ThingReporter things(request, store, fileSystem, received, folder);
    for (const model::Thing* thing : unitOfWork.fetchThings()) {
        separate();
        things.write(records, *thing);
    }
    things.writeFiles();
    records.push_back(']');
    response.text("status", sync.status);
    if (sync.lastSync) {
        response.timestamp("lastSync", *sync.lastSync);
    }
    response.finish();
    return out;
}

}  // namespace tavro::exchange
