// SPDX-License-Identifier: MIT
#include "exchange/ExchangeResponse.h"

#include <unistd.h>
#include <algorithm>
#include <array>

#include "exchange/ExchangeRequest.h"
#include "exchange/FileFingerprint.h"
#include "exchange/ReceivedAhead.h"
#include "exchange/ReceivedCopies.h"
#include "exchange/RecordMemo.h"
#include "model/Project.h"
#include "model/ProjectFields.h"
#include "model/Tag.h"
#include "model/TagFields.h"
#include "model/ThingFields.h"
#include "platform/Json.h"
#include "platform/JsonWriter.h"
#include "platform/LargePages.h"
#include "platform/Paths.h"
#include "platform/Prefault.h"
#include "platform/Sha256.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace tavro::exchange {

namespace json = platform::json;

namespace {

// One record's members, through the one JSON writer. Records are written as a stream, without
// an intermediate tree: the response lists every record of the store on every exchange.
class RecordWriter {
  public:
    explicit RecordWriter(json::Writer& out) : out_(out) { out_.beginObject(); }
    void finish() { out_.endObject(); }

    json::Writer& key(std::string_view name) { return out_.key(name); }
    void text(std::string_view name, std::string_view value) { key(name).string(value); }
    void integer(std::string_view name, int64_t value) { key(name).integer(value); }
    void timestamp(std::string_view name, platform::Timestamp value) {
        integer(name, platform::toMilliseconds(value));
    }

  private:
    json::Writer& out_;
};

namespace fields = model::fields;

// The members of a record the response writes that are no field of it: the record type, and
// for a thing its file fingerprint and (in the host's copy) its record fingerprint.
enum Derived : int { kRecordType = -1, kFileFingerprint = -2, kFingerprint = -3 };

struct Member {
    std::string_view key;
    int field;  // the field's position, or a Derived value
};

// The exchange keys of a table, from a field's position, and a key's field position.
template <typename Table>
constexpr int fieldWithKey(const Table& table, std::string_view key) {
    auto keys = fields::keysOf(table);
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!keys[i].empty() && keys[i] == key) {
            return static_cast<int>(i);
        }
    }
    return key == "recordType"        ? kRecordType
           : key == "fileFingerprint" ? kFileFingerprint
           : key == "fingerprint"     ? kFingerprint
                                      : -100;
}

// Members in the order written, from their keys; a key that names nothing is -100.
template <typename Table, size_t N>
constexpr std::array<Member, N> membersInOrder(const Table& table,
                                               const std::array<std::string_view, N>& keys) {
    std::array<Member, N> members{};
    for (size_t i = 0; i < N; ++i) {
        members[i] = {keys[i], fieldWithKey(table, keys[i])};
    }
    return members;
}

// Whether every member names a field or a derived value, and every field with an exchange key
// has its member: a new field cannot be left out of the response by mistake.
template <typename Table, size_t N>
constexpr bool coversTable(const Table& table, const std::array<Member, N>& members) {
    for (const Member& member : members) {
        if (member.field == -100) {
            return false;
        }
    }
    auto keys = fields::keysOf(table);
    for (size_t i = 0; i < keys.size(); ++i) {
        bool found = keys[i].empty();
        for (const Member& member : members) {
            found = found || member.field == static_cast<int>(i);
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

// A thing's members in ascending key order (bytewise), the order the record fingerprint hashes:
// its fields' keys and the derived ones, sorted here so that a new field finds its place.
constexpr auto kThingMembers = [] {
    constexpr auto keys = fields::keysOf(fields::kThingFields);
    std::array<std::string_view, keys.size() + 3> all{};
    std::copy(keys.begin(), keys.end(), all.begin());
    all[keys.size()] = "recordType";
    all[keys.size() + 1] = "fileFingerprint";
    all[keys.size() + 2] = "fingerprint";
    std::sort(all.begin(), all.end());
    return membersInOrder(fields::kThingFields, all);
}();

template <size_t N>
constexpr bool strictlyIncreasing(const std::array<Member, N>& members) {
    for (size_t i = 1; i < N; ++i) {
        if (!(members[i - 1].key < members[i].key)) {
            return false;
        }
    }
    return true;
}

static_assert(strictlyIncreasing(kThingMembers),
              "a thing's record must list its keys in strictly increasing byte order");
static_assert(coversTable(fields::kThingFields, kThingMembers));
static_assert(kThingMembers[0].field != kFingerprint,
              "the fingerprint member is put in after the member before it");

// Projects and tags are not fingerprinted; their members keep the order hosts have always seen.
constexpr auto kProjectMembers =
    membersInOrder(fields::kProjectFields,
                   std::array<std::string_view, 7>{"recordType", "uuid", "createdAt", "name",
                                                   "sortOrder", "parent", "linkedFolderOwner"});
static_assert(coversTable(fields::kProjectFields, kProjectMembers));
constexpr auto kTagMembers = membersInOrder(
    fields::kTagFields, std::array<std::string_view, 4>{"recordType", "uuid", "createdAt", "name"});
static_assert(coversTable(fields::kTagFields, kTagMembers));

// The byte fields of a thing in schema order; the response names their contents under their
// exchange keys (data, thumbnail, icon).
constexpr size_t kAssetCount =
    static_cast<size_t>(fields::countOf(fields::kThingFields, fields::Storage::Bytes));

constexpr std::array<std::string_view, kAssetCount> kAssetKeys = [] {
    std::array<std::string_view, kAssetCount> keys{};
    size_t i = 0;
    fields::forEach(fields::kThingFields, [&](const auto& entry) {
        if (entry.storage == fields::Storage::Bytes) {
            keys[i++] = entry.key;
        }
    });
    return keys;
}();

// The place among the byte fields of the field at `position`.
constexpr size_t assetIndex(int position) {
    size_t index = 0;
    fields::forEach(fields::kThingFields, [&](const auto& entry) {
        if (entry.storage == fields::Storage::Bytes && entry.index < position) {
            ++index;
        }
    });
    return index;
}

// What a thing's record says under each asset key: the digest (for the fingerprint) or the
// path of its file in "received" (for the host).
using AssetTexts = std::array<std::optional<std::string>, kAssetCount>;

// Calls `visit(index, content)` for each content the thing holds, with its place among the
// byte fields.
template <typename Visit>
void forEachAsset(const model::Thing& thing, Visit&& visit) {
    size_t i = 0;
    fields::forEach(fields::kThingFields, [&](const auto& entry) {
        if constexpr (std::is_same_v<typename std::remove_cvref_t<decltype(entry)>::Value,
                                     model::OptionalContent>) {
            if (const auto& content = thing.state().*entry.member) {
                visit(i, *content);
            }
            ++i;
        }
    });
}

AssetTexts assetDigests(const model::Thing& thing) {
    AssetTexts texts;
    forEachAsset(thing,
                 [&](size_t i, const model::Content& content) { texts[i] = content.sha256; });
    return texts;
}

// The name in "received" of a thing's content at `asset`.
std::string assetName(std::string_view identifier, size_t asset) {
    return std::string(identifier).append(".").append(kAssetKeys[asset]);
}

void writeTags(json::Writer& out, const std::vector<model::Tag*>& tags) {
    thread_local std::vector<platform::Uuid::Text> identifiers;  // reused from thing to thing
    identifiers.clear();
    for (const model::Tag* tag : tags) {
        identifiers.push_back(tag->uuid().lowercaseText());
    }
    std::sort(identifiers.begin(), identifiers.end());
    out.beginArray();
    for (const platform::Uuid::Text& identifier : identifiers) {
        out.string(identifier.view());
    }
    out.endArray();
}

// Writes one field's value under its key; an absent optional value or relationship is left
// out. Byte fields are written by the caller, which knows what stands for their contents.
template <typename Entry, typename State>
void writeField(RecordWriter& record, const State& state, const Entry& entry) {
    const auto& value = state.*entry.member;
    using Value = std::remove_cvref_t<decltype(value)>;
    if constexpr (std::is_same_v<Value, platform::Uuid>) {
        record.text(entry.key, value.lowercaseText().view());
    } else if constexpr (std::is_same_v<Value, std::string>) {
        record.text(entry.key, value);
    } else if constexpr (std::is_same_v<Value, bool>) {
        record.key(entry.key).boolean(value);
    } else if constexpr (std::is_same_v<Value, int64_t>) {
        record.integer(entry.key, value);
    } else if constexpr (std::is_same_v<Value, double>) {
        if (entry.storage == fields::Storage::Time) {
            record.timestamp(entry.key, value);
        } else {
            record.key(entry.key).number(value);
        }
    } else if constexpr (std::is_same_v<Value, std::optional<platform::Timestamp>>) {
        if (value) {
            record.timestamp(entry.key, *value);
        }
    } else if constexpr (std::is_pointer_v<Value>) {
        if (value != nullptr) {
            record.text(entry.key, value->uuid().lowercaseText().view());
        }
    } else {
        static_assert(std::is_same_v<Value, std::vector<model::Tag*>>);
        writeTags(record.key(entry.key), value);
    }
}

// What a thing's record says besides its fields.
struct ThingExtras {
    const std::string& fileFingerprint;
    const AssetTexts& assets;
    const std::string* fingerprint;  // only in the host's copy
    // Without a fingerprint: where in `written` the fingerprint member belongs.
    const std::string* written = nullptr;
    size_t fingerprintAt = 0;
};

template <const auto& Table, const auto& Members, size_t I, typename State>
void writeMember(RecordWriter& record, const State& state, std::string_view recordType,
                 ThingExtras* extras) {
    constexpr int field = Members[I].field;
    if constexpr (field == kRecordType) {
        record.text("recordType", recordType);
    } else if constexpr (field == kFileFingerprint) {
        record.text("fileFingerprint", extras->fileFingerprint);
    } else if constexpr (field == kFingerprint) {
        if (extras->fingerprint) {
            record.text("fingerprint", *extras->fingerprint);
        } else if (extras->written) {
            extras->fingerprintAt = extras->written->size();
        }
    } else {
        const auto& entry = std::get<field>(Table);
        if constexpr (std::is_same_v<typename std::remove_cvref_t<decltype(entry)>::Value,
                                     model::OptionalContent>) {
            if (const auto& text = extras->assets[assetIndex(field)]) {
                record.text(entry.key, *text);
            }
        } else {
            writeField(record, state, entry);
        }
    }
}

template <const auto& Table, const auto& Members, typename State, size_t... I>
void writeMembers(json::Writer& out, const State& state, std::string_view recordType,
                  ThingExtras* extras, std::index_sequence<I...>) {
    RecordWriter record(out);
    (writeMember<Table, Members, I>(record, state, recordType, extras), ...);
    record.finish();
}

// A thing's record with its keys in ascending order, the order the record fingerprint hashes.
// `fingerprint` is written only for the host's copy.
void writeThing(json::Writer& out, const model::Thing& thing, ThingExtras& extras) {
    writeMembers<fields::kThingFields, kThingMembers>(
        out, thing.state(), "Thing", &extras, std::make_index_sequence<kThingMembers.size()>());
}

void writeProject(json::Writer& out, const model::Project& project) {
    writeMembers<fields::kProjectFields, kProjectMembers>(
        out, project.state(), "Project", nullptr,
        std::make_index_sequence<kProjectMembers.size()>());
}

void writeTag(json::Writer& out, const model::Tag& tag) {
    writeMembers<fields::kTagFields, kTagMembers>(out, tag.state(), "Tag", nullptr,
                                                  std::make_index_sequence<kTagMembers.size()>());
}

class ThingReporter {
  public:
    // `text` is what `out` writes into; `memo` (optional) holds the records of the last
    // response.
    // `copies` gathers the files the host is to receive.
    ThingReporter(const ExchangeRequest& request, const Store& store, std::string receivedPath,
                  const std::string& text, RecordMemo* memo,
                  std::vector<platform::FileSystem::FileCopy>& copies)
        : known_(request.knownFingerprints()),
          store_(store),
          receivedPath_(std::move(receivedPath)),
          text_(text),
          memo_(memo),
          copies_(copies) {}

    void write(json::Writer& out, const model::Thing& thing) {
        const platform::Uuid::Text text = thing.uuid().lowercaseText();
        const std::string_view identifier = text.view();
        if (const RecordMemo::Entry* entry = memo_ ? memo_->find(thing.revision()) : nullptr) {
            if (hostHolds(identifier, entry->fingerprint)) {
                memo_->keep(thing.revision());
            } else {
                copyContents(identifier, assetDigests(thing));
            }
            out.raw(entry->record);
            return;
        }

        std::string fileFingerprint = exchange::fileFingerprint(thing);
        AssetTexts digests = assetDigests(thing);
        scratch_.clear();
        json::Writer hashed(scratch_);
        ThingExtras hashedExtras{fileFingerprint, digests, nullptr, &scratch_};
        writeThing(hashed, thing, hashedExtras);
        std::string fingerprint = platform::sha256Hex(scratch_);
        bool held = hostHolds(identifier, fingerprint);

        // Without contents the host's copy differs from the hashed one only by the fingerprint
        // member: it is put in place rather than the whole record written a second time.
        if (std::none_of(digests.begin(), digests.end(), [](const auto& d) { return d; })) {
            insertFingerprint(fingerprint, hashedExtras.fingerprintAt);
            out.raw(scratch_);
            remember(thing, held, scratch_, std::move(fingerprint));
            return;
        }

        AssetTexts paths;
        for (size_t i = 0; i < kAssetKeys.size(); ++i) {
            if (digests[i]) {
                paths[i] = receivedPath_ + "/" + assetName(identifier, i);
            }
        }
        if (!held) {
            copyContents(identifier, digests);
        }
        ThingExtras hostExtras{fileFingerprint, paths, &fingerprint};
        size_t start = text_.size();
        writeThing(out, thing, hostExtras);
        if (start < text_.size() && text_[start] == ',') {
            ++start;  // the separator before the record is the array's
        }
        remember(thing, held, std::string_view(text_).substr(start), std::move(fingerprint));
    }

  private:
    void copyContents(std::string_view identifier, const AssetTexts& digests) {
        for (size_t i = 0; i < kAssetKeys.size(); ++i) {
            if (digests[i]) {
                copies_.push_back({store_.blobPath(*digests[i]), assetName(identifier, i), {}});
            }
        }
    }

    // Only what the host holds is kept: see exchange/RecordMemo.h.
    void remember(const model::Thing& thing, bool held, std::string_view record,
                  std::string fingerprint) {
        if (memo_ != nullptr && held) {
            memo_->keep(thing.revision(), {std::string(record), std::move(fingerprint)});
        }
    }

    // `at` is the offset where the member would have been written: after a member, never first.
    void insertFingerprint(const std::string& fingerprint, size_t at) {
        member_.assign(",\"fingerprint\":\"").append(fingerprint).append("\"");
        scratch_.insert(at, member_);
    }

    bool hostHolds(std::string_view identifier, std::string_view fingerprint) {
        key_.assign("Thing:").append(identifier);
        auto found = known_.find(key_);
        return found != known_.end() && found->second == fingerprint;
    }

    const std::unordered_map<std::string_view, std::string_view>& known_;
    const Store& store_;
    std::string receivedPath_;
    const std::string& text_;
    RecordMemo* memo_;
    std::string scratch_;
    std::string member_;
    std::string key_;
    std::vector<platform::FileSystem::FileCopy>& copies_;
};

}  // namespace

// A generous size of one record in the response (typical things take about 700 bytes).
constexpr size_t kResponseBytesPerRecord = 2048;
// A response text of this size or more has its pages faulted in on another thread while it is
// written, this far ahead of the writing.
constexpr size_t kFaultedAheadFrom = size_t{16} << 20;
constexpr size_t kFaultedAhead = size_t{8} << 20;

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

ListedRecords listRecords(UnitOfWork& unitOfWork) {
    return {unitOfWork.fetchProjects(), unitOfWork.fetchTags(), unitOfWork.fetchThings()};
}

ResponseDraft draftResponse(const ListedRecords& records, const ExchangeRequest& request,
                            const Store& store, const SyncStatus& sync, RecordMemo* memo) {
    ResponseDraft draft;
    draft.receivedPath = receivedFolder(request.directory());
    // Room for the whole response at once: grown by doubling, the text of a large library
    // would be copied again and again and, while it is, held twice. Address space reserved
    // beyond what is written costs no memory. The last response's text is written over when
    // its host gave it back.
    std::string& out = draft.text;
    out = memo != nullptr ? memo->takeText() : std::string();
    out.reserve(kResponseBytesPerRecord *
                    (records.projects.size() + records.tags.size() + records.things.size()) +
                kResponseBytesPerRecord);
    platform::adviseLargePages(out.data(), out.capacity());
    // The reservation is generous, so the text's pages are faulted in only a little ahead of
    // the writing; a text given back by the host has them already. Should a record outgrow the
    // reservation, the text moves and the faulting ends at the next record (what it faulted in
    // meanwhile at the old place is left as it was: populating writes nothing).
    platform::Prefault prefault =
        out.capacity() >= kFaultedAheadFrom
            ? platform::Prefault::ahead(out.data(), out.capacity(), kFaultedAhead)
            : platform::Prefault();
    json::Writer response(out);
    response.beginObject();
    response.key("version").integer(1);
    response.key("directory").string(request.directory());
    response.key("records").beginArray();
    for (const model::Project* project : records.projects) {
        writeProject(response, *project);
    }
    for (const model::Tag* tag : records.tags) {
        writeTag(response, *tag);
    }
    if (memo != nullptr) {
        memo->begin(draft.receivedPath);
    }
    ThingReporter things(request, store, draft.receivedPath, out, memo, draft.copies);
    for (const model::Thing* thing : records.things) {
        things.write(response, *thing);
        prefault.reached(out.data(), out.size());
    }
    prefault.stop();
    if (memo != nullptr) {
        memo->finish();
    }
    response.endArray();
    response.key("status").string(sync.status);
    if (sync.lastSync) {
        response.key("lastSync").integer(platform::toMilliseconds(*sync.lastSync));
    }
    response.endObject();
    return draft;
}

HostFileCopies copiesOfHostFiles(const std::vector<model::Thing*>& things) {
    HostFileCopies host;
    for (const model::Thing* thing : things) {
        forEachAsset(*thing, [&](size_t i, const model::Content& content) {
            if (content.isPendingFile()) {
                const platform::Uuid::Text identifier = thing->uuid().lowercaseText();
                host[content.sha256].push_back(assetName(identifier.view(), i));
            }
        });
    }
    return host;
}

std::string finishResponse(ResponseDraft draft, platform::FileSystem& fileSystem,
                           ReceivedAhead& ahead) {
    // The host's folder, so its files follow the host's umask; a "received" that is a link or
    // a file is refused rather than written through. The files go through the folder opened
    // here, so they land in it even if its path is replaced meanwhile.
    std::optional<platform::OpenFolder> opened;
    const platform::OpenFolder* folder = ahead.folder();
    if (folder == nullptr) {
        opened.emplace(
            fileSystem.openSubfolder(platform::paths::parent(draft.receivedPath), "received"));
        folder = &*opened;
    }
    std::vector<platform::FileSystem::FileCopy> unwritten =
        fileSystem.placePreparedCopies(*folder, ahead.handOver(), draft.copies);
    writeReceivedCopies(fileSystem, *folder, std::move(unwritten));
    return std::move(draft.text);
}

}  // namespace tavro::exchange
