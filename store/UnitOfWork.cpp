// SPDX-License-Identifier: MIT
#include "store/UnitOfWork.h"

#include <algorithm>
#include <thread>
#include <unordered_set>

#include "platform/Error.h"
#include "platform/ThreadPriority.h"
#include "store/ChangeWriter.h"
#include "store/KeptLibrary.h"
#include "store/RecordAccess.h"
#include "store/RecordLoader.h"
#include "store/RecordTables.h"
#include "store/Store.h"

namespace tavro::store {

namespace {

using model::Project;
using model::Record;
using model::Tag;
using model::Thing;

// Where a record stands in its unit of work.
enum Status : uint8_t {
    kUnmanaged = 0,  // constructed, not inserted
    kStored = 1,     // read from the store, or saved
    kInserted = 2,   // inserted, not saved yet
    kRemoved = 3,    // stored, removed, not saved yet
    kDetached = 4,   // belongs to nothing any more (removal saved, or insert rolled back)
};

bool isLive(const Record& record) {
    uint8_t status = RecordAccess::status(record);
    return status == kStored || status == kInserted;
}

constexpr uint32_t kByteFields =
    model::fields::maskOf(model::fields::kThingFields, model::fields::Storage::Bytes);

[[noreturn]] void refuse(const std::string& message) {
    platform::throwError(platform::kCocoaErrorDomain, 134020, message);
}

void forgetPendingSources(model::ThingState& state) {
    model::fields::forEachContent(state, [](model::Content& content) { content.pending.reset(); });
}

// The record behind a typed reference, as the base its bookkeeping lives in.
template <typename Ref>
Record& base(const Ref& ref) {
    return std::visit([](auto* record) -> Record& { return *record; }, ref);
}

}  // namespace

UnitOfWork::UnitOfWork(Store& store, Writing writing) : store_(store), writing_(writing) {}

UnitOfWork::~UnitOfWork() {
    endWriting(false);
    collectReplacedBlobs();
    keepForNextUnit();
    unlinkAll(things_, tags_, projects_);
}

void UnitOfWork::ensureLoaded() {
    if (loaded_) {
        return;
    }
    LoadedLibrary library;
    if (writing_ == Writing::FromFirstRead) {
        holdWriteLock();
        std::unique_lock lock = std::move(writeLock_);
        try {
            dataVersion_ = store_.dataVersion();
            if (auto kept = store_.kept_.take(dataVersion_, store_.saves_)) {
                library = std::move(*kept);
            } else {
                library = RecordLoader::loadWithinTransaction(store_);
            }
        } catch (...) {
            store_.writer().rollbackQuietly();
            throw;
        }
        savesSeen_ = store_.saves_;
        keepable_ = true;
        writeLock_ = std::move(lock);
    } else {
        library = RecordLoader::load(store_);
    }
    auto take = [this](auto& from, auto& into) {
        into.reserve(into.size() + from.size());
        for (auto& record : from) {
            RecordAccess::setTracker(*record, this);
            RecordAccess::setStatus(*record, kStored);
            into.push_back(std::move(record));
        }
    };
    take(library.things, things_);
    take(library.tags, tags_);
    take(library.projects, projects_);
    uuids_ = std::move(library.uuids);
    loaded_ = true;
}

void UnitOfWork::holdWriteLock() {
    if (writing_ != Writing::FromFirstRead || loaded_ || writeLock_.owns_lock()) {
        return;
    }
    std::unique_lock lock(store_.dbMutex_);
    store_.beginWriting();
    writeLock_ = std::move(lock);
}

template <typename Record>
const platform::Uuid& UnitOfWork::storedUuid(const Record& record) const {
    auto snapshot = snapshots_.find(const_cast<Record*>(&record));
    if (snapshot != snapshots_.end()) {
        return std::get<Stored<Record>>(snapshot->second).state.uuid;
    }
    return record.uuid();
}

void UnitOfWork::buildUuidIndex() {
    if (uuids_.built) {
        return;
    }
    auto index = [this](auto& records, auto& into) {
        for (auto& record : records) {
            uint8_t status = RecordAccess::status(*record);
            if (status == kStored || status == kRemoved) {
                into.add(storedUuid(*record), record.get());
            }
        }
    };
    index(things_, uuids_.things);
    index(tags_, uuids_.tags);
    index(projects_, uuids_.projects);
    uuids_.built = true;
}

template <typename Record>
Record* UnitOfWork::find(const UuidIndex<Record>& index, const platform::Uuid& uuid) {
    return index.find(uuid, [](const Record& record) { return isLive(record); });
}

Thing* UnitOfWork::findThing(const platform::Uuid& uuid) {
    ensureLoaded();
    buildUuidIndex();
    return find(uuids_.things, uuid);
}

Tag* UnitOfWork::findTag(const platform::Uuid& uuid) {
    ensureLoaded();
    buildUuidIndex();
    return find(uuids_.tags, uuid);
}

Project* UnitOfWork::findProject(const platform::Uuid& uuid) {
    ensureLoaded();
    buildUuidIndex();
    return find(uuids_.projects, uuid);
}

// After a save, before its changes are forgotten: the index follows what was written.
void UnitOfWork::reindexSaved() {
    if (!uuids_.built) {
        return;
    }
    auto indexOf = [this](auto* record) -> auto& {
        using Type = std::remove_cvref_t<decltype(*record)>;
        if constexpr (std::is_same_v<Type, Thing>) {
            return uuids_.things;
        } else if constexpr (std::is_same_v<Type, Tag>) {
            return uuids_.tags;
        } else {
            return uuids_.projects;
        }
    };
    for (const RecordRef& record : removed_) {
        std::visit([&](auto* typed) { indexOf(typed).remove(storedUuid(*typed), typed); }, record);
    }
    for (const RecordRef& record : inserted_) {
        std::visit([&](auto* typed) { indexOf(typed).add(typed->uuid(), typed); }, record);
    }
    for (const auto& [record, snapshot] : snapshots_) {
        std::visit(
            [&](const auto& stored) {
                if (RecordAccess::status(*stored.record) == kStored &&
                    stored.state.uuid != stored.record->uuid()) {
                    indexOf(stored.record).remove(stored.state.uuid, stored.record);
                    indexOf(stored.record).add(stored.record->uuid(), stored.record);
                }
            },
            snapshot);
    }
}

template <typename T>
std::vector<T*> UnitOfWork::live(const std::vector<std::unique_ptr<T>>& records) const {
    std::vector<T*> result;
    result.reserve(records.size());
    for (const auto& record : records) {
        if (isLive(*record)) {
            result.push_back(record.get());
        }
    }
    return result;
}

std::vector<Thing*> UnitOfWork::fetchThings() {
    ensureLoaded();
    return live(things_);
}

std::vector<Tag*> UnitOfWork::fetchTags() {
    ensureLoaded();
    return live(tags_);
}

std::vector<Project*> UnitOfWork::fetchProjects() {
    ensureLoaded();
    return live(projects_);
}

void UnitOfWork::adopt(Record& record, uint8_t status) {
    if (RecordAccess::tracker(record) != nullptr) {
        refuse("The record already belongs to a unit of work.");
    }
    RecordAccess::setId(record, store_.allocateRow(record.id().type));
    RecordAccess::setTracker(record, this);
    RecordAccess::setStatus(record, status);
    RecordAccess::clearChanges(record);
}

Thing* UnitOfWork::insert(std::unique_ptr<Thing> thing) {
    ensureLoaded();
    adopt(*thing, kInserted);
    inserted_.push_back(RecordRef{thing.get()});
    things_.push_back(std::move(thing));
    return things_.back().get();
}

Tag* UnitOfWork::insert(std::unique_ptr<Tag> tag) {
    ensureLoaded();
    adopt(*tag, kInserted);
    inserted_.push_back(RecordRef{tag.get()});
    tags_.push_back(std::move(tag));
    return tags_.back().get();
}

Project* UnitOfWork::insert(std::unique_ptr<Project> project) {
    ensureLoaded();
    adopt(*project, kInserted);
    inserted_.push_back(RecordRef{project.get()});
    projects_.push_back(std::move(project));
    return projects_.back().get();
}

void UnitOfWork::requireMember(const Record& record) const {
    if (RecordAccess::tracker(record) != this) {
        refuse("The record does not belong to this unit of work.");
    }
}

template <typename Record>
void UnitOfWork::keepStoredValues(Record& record) {
    if (RecordAccess::status(record) != kStored || snapshots_.count(&record) != 0) {
        return;  // new records are written whole; nothing to restore for them
    }
    snapshots_.emplace(&record, Stored<Record>{&record, record.state()});
}

void UnitOfWork::willFirstChange(Thing& thing) {
    keepStoredValues(thing);
}
void UnitOfWork::willFirstChange(Tag& tag) {
    keepStoredValues(tag);
}
void UnitOfWork::willFirstChange(Project& project) {
    keepStoredValues(project);
}

// Called while the record still holds its stored relationships, so that rollback can bring
// them back.
template <typename Record>
void UnitOfWork::markRemoved(Record& record) {
    if (RecordAccess::status(record) == kInserted) {
        RecordAccess::setStatus(record, kDetached);
        inserted_.erase(std::find(inserted_.begin(), inserted_.end(), RecordRef{&record}));
        return;
    }
    keepStoredValues(record);
    RecordAccess::setStatus(record, kRemoved);
    removed_.push_back(RecordRef{&record});
}

void UnitOfWork::remove(Thing* thing) {
    ensureLoaded();
    requireMember(*thing);
    if (!isLive(*thing)) {
        return;
    }
    markRemoved(*thing);
    thing->setTags({});
    thing->setProject(nullptr);
}

void UnitOfWork::remove(Tag* tag) {
    ensureLoaded();
    requireMember(*tag);
    if (!isLive(*tag)) {
        return;
    }
    markRemoved(*tag);
    // Taken out first: the tag ends with no things anyway, and each thing's setter then finds
    // nothing to search through in the tag's list.
    std::vector<Thing*> carriers = std::move(RecordAccess::things(*tag));
    RecordAccess::things(*tag).clear();
    for (Thing* thing : carriers) {
        std::vector<Tag*> kept = thing->tags();
        kept.erase(std::remove(kept.begin(), kept.end(), tag), kept.end());
        thing->setTags(std::move(kept));
    }
}

void UnitOfWork::remove(Project* project) {
    ensureLoaded();
    requireMember(*project);
    // The subtree goes with the project; a cycle in the parents ends where a removed project
    // is met again.
    std::vector<Project*> pending{project};
    while (!pending.empty()) {
        Project* next = pending.back();
        pending.pop_back();
        if (!isLive(*next)) {
            continue;
        }
        markRemoved(*next);
        for (Project* child : next->children()) {
            pending.push_back(child);
        }
        std::vector<Thing*> things = std::move(RecordAccess::things(*next));
        RecordAccess::things(*next).clear();
        for (Thing* thing : things) {
            thing->setProject(nullptr);
        }
        next->setParent(nullptr);
    }
}

bool UnitOfWork::hasChanges() const {
    return !inserted_.empty() || !removed_.empty() || !snapshots_.empty();
}

void UnitOfWork::checkReferences() const {
    auto check = [this](const Record* target) {
        if (target != nullptr && (RecordAccess::tracker(*target) != this || !isLive(*target))) {
            refuse("A record refers to a record that is not part of this unit of work.");
        }
    };
    auto checkRecord = [&](const auto* record) {
        using Type = std::remove_cvref_t<decltype(*record)>;
        if (!isLive(*record)) {
            return;
        }
        if constexpr (std::is_same_v<Type, Thing>) {
            check(record->project());
            for (const Tag* tag : record->tags()) {
                check(tag);
            }
        } else if constexpr (std::is_same_v<Type, Project>) {
            check(record->parent());
        }
    };
    for (const RecordRef& record : inserted_) {
        std::visit(checkRecord, record);
    }
    for (const auto& entry : snapshots_) {
        std::visit([&](const auto& stored) { checkRecord(stored.record); }, entry.second);
    }
}

std::future<void> UnitOfWork::startWritingBlobs(platform::ExtraCopies* extra) {
    std::vector<const model::Content*> contents;
    auto collect = [&contents](const auto* record, uint32_t fields) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(*record)>, Thing>) {
            if (isLive(*record) && (fields & kByteFields) != 0) {
                model::fields::forEachContent(
                    record->state(),
                    [&contents](const model::Content& content) { contents.push_back(&content); });
            }
        }
    };
    for (const RecordRef& record : inserted_) {
        std::visit([&](const auto* typed) { collect(typed, kByteFields); }, record);
    }
    for (const auto& entry : snapshots_) {
        std::visit(
            [&](const auto& stored) {
                collect(stored.record, RecordAccess::changedFields(*stored.record));
            },
            entry.second);
    }
    for (const auto& content : supplied_) {
        contents.push_back(&content);
    }
    // A first import's thousands of new files take about as long to create and flush as its
    // rows take to write, so the two go side by side. The thread reads only the contents
    // gathered here, which nothing changes until the commit that waits for it. When no thread
    // is to be had, the writing is deferred to the wait for it.
    BlobStore::Missing missing = store_.blobs_.missing(contents);
    if (missing.empty()) {
        return {};
    }
    return std::async(
        std::launch::async | std::launch::deferred,
        [this, missing = std::move(missing), extra] { store_.blobs_.write(missing, extra); });
}

void UnitOfWork::supply(const model::Content& content) {
    if (!content.isStored()) {
        supplied_.push_back(content);
    }
}

void UnitOfWork::repairBlobs() {
    if (supplied_.empty()) {
        return;
    }
    BlobStore::Lock blobs = store_.blobs_.lockShared();
    std::vector<const model::Content*> contents;
    for (const auto& content : supplied_) {
        contents.push_back(&content);
    }
    store_.blobs_.ensureAll(contents);
    supplied_.clear();
}

// Ends the write transaction of a FromFirstRead unit, if it holds one.
void UnitOfWork::endWriting(bool commit) noexcept {
    if (!writeLock_.owns_lock()) {
        return;
    }
    try {
        ChangeWriter& writer = store_.writer();
        if (commit) {
            writer.commit();
        } else {
            writer.rollbackQuietly();
        }
    } catch (...) {
        store_.writer().rollbackQuietly();
    }
    writeLock_.unlock();
}

void UnitOfWork::collectReplacedBlobs() noexcept {
    try {
        if (store_.removeUnreferencedBlobs(uncollected_)) {
            uncollected_.clear();
        }
    } catch (...) {
        // Best effort: an unreferenced blob left behind is collected another time.
    }
}

// Digests that this save may leave without a reference: those of removed things and the
// former contents of changed byte fields.
std::vector<std::string> UnitOfWork::replacedDigests() const {
    std::unordered_set<std::string> digests;
    for (const auto& [record, snapshot] : snapshots_) {
        const auto* thing = std::get_if<Stored<Thing>>(&snapshot);
        if (thing == nullptr) {
            continue;
        }
        bool removed = RecordAccess::status(*record) == kRemoved;
        if (removed || (RecordAccess::changedFields(*record) & kByteFields) != 0) {
            model::fields::forEachContent(thing->state, [&](const model::Content& content) {
                digests.insert(content.sha256);
            });
        }
    }
    return {digests.begin(), digests.end()};
}

void UnitOfWork::writeChanges() {
    ChangeWriter& writer = *store_.writer_;
    for (const RecordRef& record : removed_) {
        std::visit([&](const auto* typed) { writer.remove(*typed); }, record);
    }
    for (const RecordRef& record : inserted_) {
        std::visit([&](const auto* typed) { writer.insert(*typed); }, record);
    }
    for (const auto& entry : snapshots_) {
        if (RecordAccess::status(*entry.first) != kStored) {
            continue;
        }
        uint32_t fields = RecordAccess::changedFields(*entry.first);
        std::visit([&](const auto& stored) { writer.update(*stored.record, fields); },
                   entry.second);
    }
}

void UnitOfWork::settleAfterSave() {
    reindexSaved();
    auto settle = [](auto* record) {
        RecordAccess::clearChanges(*record);
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(*record)>, Thing>) {
            forgetPendingSources(RecordAccess::state(*record));
        }
    };
    for (const RecordRef& record : removed_) {
        RecordAccess::setStatus(base(record), kDetached);
        RecordAccess::clearChanges(base(record));
    }
    for (const RecordRef& record : inserted_) {
        RecordAccess::setStatus(base(record), kStored);
        std::visit(settle, record);
    }
    for (const auto& entry : snapshots_) {
        if (RecordAccess::status(*entry.first) == kStored) {
            std::visit([&](const auto& stored) { settle(stored.record); }, entry.second);
        }
    }
    inserted_.clear();
    removed_.clear();
    snapshots_.clear();
}

void UnitOfWork::save(const std::function<void()>& alongside, platform::ExtraCopies* extra) {
    if (!hasChanges()) {
        try {
            repairBlobs();
        } catch (...) {
            endWriting(false);
            throw;
        }
        endWriting(true);
        if (extra != nullptr) {
            extra->onDisk.tell(false);  // no blob written, so no copy beside one
        }
        if (alongside) {
            alongside();
        }
        return;
    }
    try {
        checkReferences();
    } catch (...) {
        endWriting(false);
        throw;
    }
    // Should the commit fail, the future's end waits for the thread before the changes could
    // be rolled back under it. The writing decides when the save ends, so a thread beside it
    // gives way to it. When no thread is to be had, the work is deferred to the wait for it,
    // on this thread, after the commit, as the blobs' writing is.
    std::future<void> beside;
    if (alongside) {
        beside = std::async(std::launch::async | std::launch::deferred,
                            [&alongside, caller = std::this_thread::get_id()] {
                                if (std::this_thread::get_id() != caller) {
                                    platform::giveWayToOtherThreads();
                                }
                                alongside();
                            });
    }
    // Every way out of the commit tells a thread beside the save, which may be waiting for the
    // copies made beside the blobs, before that thread is waited for in turn.
    {
        const platform::ExtraCopies::TellOnExit tellOnExit(extra);
        commitChanges(extra);
    }
    if (beside.valid()) {
        beside.wait();
    }
    // After the locks are released: removal needs the blob folder to itself.
    collectReplacedBlobs();
    settleAfterSave();
}

void UnitOfWork::commitChanges(platform::ExtraCopies* extra) {
    bool inTransaction = writeLock_.owns_lock();
    std::unique_lock lock =
        inTransaction ? std::move(writeLock_) : std::unique_lock(store_.dbMutex_);
    ChangeWriter& writer = store_.writer();
    try {
        // Held from the first blob written or found until the commit that names it, so no
        // other writer's collection removes a blob this save relies on.
        BlobStore::Lock blobs = store_.blobs_.lockShared();
        // Contents are written while the rows are, and durably before the commit: a committed
        // row never names a missing blob. Should the rows fail, the future waits for the
        // writing as it goes, before the rollback.
        std::future<void> blobsWritten = startWritingBlobs(extra);
        std::vector<std::string> replaced = replacedDigests();
        if (!inTransaction) {
            writer.begin();
        }
        // Counted before writing: whatever happens from here, records kept from before this
        // save no longer match the database.
        ++store_.saves_;
        writeChanges();
        if (blobsWritten.valid()) {
            blobsWritten.get();
        }
        writer.commit();
        savesSeen_ = store_.saves_;
        uncollected_.insert(uncollected_.end(), replaced.begin(), replaced.end());
        supplied_.clear();
    } catch (...) {
        keepable_ = false;
        writer.rollbackQuietly();
        throw;
    }
}

void UnitOfWork::rollback() {
    keepable_ = false;
    endWriting(false);
    supplied_.clear();
    for (auto& entry : snapshots_) {
        std::visit(
            [](auto& stored) {
                RecordAccess::state(*stored.record) = std::move(stored.state);
                RecordAccess::renewRevision(*stored.record);
                RecordAccess::setStatus(*stored.record, kStored);
                RecordAccess::clearChanges(*stored.record);
            },
            entry.second);
    }
    for (const RecordRef& record : removed_) {
        RecordAccess::setStatus(base(record), kStored);
    }
    for (const RecordRef& record : inserted_) {
        RecordAccess::setStatus(base(record), kDetached);
        RecordAccess::clearChanges(base(record));
    }
    inserted_.clear();
    removed_.clear();
    snapshots_.clear();
    relinkInverses();
}

void UnitOfWork::keepForNextUnit() noexcept {
    if (!keepable_ || hasChanges()) {
        return;
    }
    try {
        std::lock_guard lock(store_.dbMutex_);
        if (store_.saves_ != savesSeen_) {
            return;  // another unit of this store saved meanwhile
        }
        relinkInverses();
        LoadedLibrary library;
        auto hand = [](auto& from, auto& into) {
            into.reserve(from.size());
            for (auto& record : from) {
                if (RecordAccess::status(*record) == kStored) {
                    RecordAccess::setTracker(*record, nullptr);
                    RecordAccess::forgetObservers(*record);
                    into.push_back(std::move(record));
                }
            }
            from.clear();  // what is left left the store; relinkInverses unlinked it
        };
        hand(things_, library.things);
        hand(tags_, library.tags);
        hand(projects_, library.projects);
        library.uuids = std::move(uuids_);
        store_.kept_.keep(std::move(library), dataVersion_, savesSeen_);
    } catch (...) {
        // Keeping is an optimisation: without it the next unit reads the rows.
    }
}

// Rebuilds the inverse lists from the forward ends of the live records; records that left
// keep no relationship with them.
void UnitOfWork::relinkInverses() {
    for (auto& tag : tags_) {
        RecordAccess::things(*tag).clear();
    }
    for (auto& project : projects_) {
        RecordAccess::children(*project).clear();
        RecordAccess::things(*project).clear();
        if (!isLive(*project)) {
            RecordAccess::state(*project).parent = nullptr;
        }
    }
    for (auto& thing : things_) {
        auto& state = RecordAccess::state(*thing);
        if (!isLive(*thing)) {
            state.tags.clear();
            state.project = nullptr;
            continue;
        }
        for (Tag* tag : state.tags) {
            RecordAccess::things(*tag).push_back(thing.get());
        }
        if (state.project != nullptr) {
            RecordAccess::things(*state.project).push_back(thing.get());
        }
    }
    for (auto& project : projects_) {
        if (Project* parent = RecordAccess::state(*project).parent) {
            RecordAccess::children(*parent).push_back(project.get());
        }
    }
}

}  // namespace tavro::store
