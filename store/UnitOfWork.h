// SPDX-License-Identifier: MIT
#pragma once
// A unit of work on the store, with automatic saving off: the records it fetched or received,
// one object per stored record (an identity map), and the changes made to them since the last
// save. Changes stay private until save() writes them all in one transaction; rollback()
// returns every object to its stored values.
//
// Record objects belong to the unit of work and stay valid until it is destroyed, even after
// they were removed or rolled back. Use a unit of work on one thread at a time.

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/UuidIndex.h"

namespace tavro::platform {
struct ExtraCopies;
}  // namespace tavro::platform

namespace tavro::store {

class Store;

class UnitOfWork : private model::ChangeTracker {
  public:
    // When the store's write lock is taken. AtSave: only while saving, so other writers may
    // commit between this unit's reads and its save. FromFirstRead: from the first read to the
    // first save (or rollback), so that every decision made on what was read still holds when
    // the changes are written, whatever other processes do; they wait meanwhile, and so does
    // any other unit of work of this store (never open a second one on the same thread).
    enum class Writing { AtSave, FromFirstRead };

    explicit UnitOfWork(Store& store, Writing writing = Writing::AtSave);
    ~UnitOfWork();
    UnitOfWork(const UnitOfWork&) = delete;
    UnitOfWork& operator=(const UnitOfWork&) = delete;

    Store& store() const { return store_; }

    // Every record of one type: the stored ones as first read, with this unit of work's
    // inserts and without its removals. No order. The store is read once, at the first fetch,
    // insert or remove; may throw.
    std::vector<model::Thing*> fetchThings();
    std::vector<model::Tag*> fetchTags();
    std::vector<model::Project*> fetchProjects();

    // The live record of a type stored with this uuid as of the last read or save (one of them
    // when several share it), or null: by an index of the stored records, built at the first
    // lookup after the store was read and kept with the records for the next unit of work. A
    // record inserted since the last save is not found, and a record given another uuid since
    // is found under the uuid it was stored with: the caller that made those changes knows
    // them, and looking for them among every unsaved change would cost each miss a walk.
    model::Thing* findThing(const platform::Uuid& uuid);
    model::Tag* findTag(const platform::Uuid& uuid);
    model::Project* findProject(const platform::Uuid& uuid);

    // The record joins the unit of work with its permanent identifier. Records it refers to
    // must belong to this unit of work by the time of saving.
    model::Thing* insert(std::unique_ptr<model::Thing> thing);
    model::Tag* insert(std::unique_ptr<model::Tag> tag);
    model::Project* insert(std::unique_ptr<model::Project> project);

    // Removes the record and applies the delete rules at once: a project takes its whole
    // subtree of children with it; its things, and the things of a removed tag, stay with the
    // relationship cleared. Removing a removed record does nothing.
    void remove(model::Thing* thing);
    void remove(model::Tag* tag);
    void remove(model::Project* project);

    // Takes the store's write lock now, as a first read would, without reading the library:
    // for a FromFirstRead unit that only commits what a ChangeWriter::FromServer guard notes
    // (the mirror's acknowledgements), which has no use for the records. A later read happens
    // in the same transaction. Throws platform::Error.
    void holdWriteLock();

    bool hasChanges() const;

    // Bytes the caller holds of a content that stored records already name: if that blob has
    // gone missing from the store, the next save puts it back.
    void supply(const model::Content& content);

    // Writes every change in one transaction: new byte contents are copied into the blob
    // folder first, durably; blobs no longer referenced are removed after the commit, or when
    // this unit of work ends if another writer was busy then. Throws platform::Error; then the
    // database is as it was and the changes are still pending here (to retry or roll back).
    //
    // `alongside`, when given, runs on a thread of its own while the changes are written (on
    // the caller's thread, after the commit, when there is nothing to write or no thread to be
    // had), and has ended when save() returns or throws. It may read the records, which
    // nothing changes until then, but must change nothing and must not throw.
    //
    // `extra`, when given, names further copies wanted of the new contents this save copies
    // from files; they are made as those are (platform::ExtraCopies) and left prepared in it.
    // Its `onDisk` is told before the commit ends, however it ends: `alongside` may wait for it.
    void save(const std::function<void()>& alongside = {}, platform::ExtraCopies* extra = nullptr);

    // Discards every unsaved change: changed records take their stored values again, removed
    // ones come back, inserted ones leave (their objects stay valid but belong to nothing).
    void rollback();

  private:
    // A record with its type, so that what is done to a record is chosen at compile time and a
    // type left out of a visitor does not compile.
    using RecordRef = std::variant<model::Thing*, model::Tag*, model::Project*>;
    // A changed record and its stored values.
    template <typename Record>
    struct Stored {
        Record* record;
        std::remove_cvref_t<decltype(std::declval<const Record&>().state())> state;
    };
    using Snapshot = std::variant<Stored<model::Thing>, Stored<model::Tag>, Stored<model::Project>>;

    void willFirstChange(model::Thing& thing) override;
    void willFirstChange(model::Tag& tag) override;
    void willFirstChange(model::Project& project) override;
    template <typename Record>
    void keepStoredValues(Record& record);
    void ensureLoaded();
    template <typename Record>
    Record* find(const UuidIndex<Record>& index, const platform::Uuid& uuid);
    template <typename Record>
    const platform::Uuid& storedUuid(const Record& record) const;
    void buildUuidIndex();
    void reindexSaved();
    void endWriting(bool commit) noexcept;
    void repairBlobs();
    void commitChanges(platform::ExtraCopies* extra);
    void collectReplacedBlobs() noexcept;
    void adopt(model::Record& record, uint8_t status);
    void requireMember(const model::Record& record) const;
    template <typename Record>
    void markRemoved(Record& record);
    void checkReferences() const;
    // Starts writing the blobs of the contents this save adds, on a thread of its own when any
    // is new; the future ends when all are durable. Throws what the writing threw.
    std::future<void> startWritingBlobs(platform::ExtraCopies* extra);
    std::vector<std::string> replacedDigests() const;
    void writeChanges();
    void settleAfterSave();
    void relinkInverses();

    template <typename T>
    std::vector<T*> live(const std::vector<std::unique_ptr<T>>& records) const;

    void keepForNextUnit() noexcept;

    Store& store_;
    Writing writing_;
    bool loaded_ = false;
    // A unit that held the store from its first read leaves its records to the next one, when
    // they still match the database as of `dataVersion_` and `savesSeen_`; a failure or a
    // rollback clears `keepable_`.
    bool keepable_ = false;
    int64_t dataVersion_ = 0;
    uint64_t savesSeen_ = 0;
    // While a FromFirstRead unit holds the write transaction: the store's database mutex.
    std::unique_lock<std::mutex> writeLock_;
    std::vector<model::Content> supplied_;
    std::vector<std::string> uncollected_;  // replaced digests not yet removed
    std::vector<std::unique_ptr<model::Thing>> things_;
    std::vector<std::unique_ptr<model::Tag>> tags_;
    std::vector<std::unique_ptr<model::Project>> projects_;
    UuidIndexes uuids_;  // of the stored records, by their stored uuid

    std::vector<RecordRef> inserted_;
    std::vector<RecordRef> removed_;
    // Stored values of records changed since they were read or saved, taken before the first
    // change. Its keys are the records with changes to write.
    std::unordered_map<model::Record*, Snapshot> snapshots_;
};

}  // namespace tavro::store
