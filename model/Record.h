// SPDX-License-Identifier: MIT
#pragma once
// What the three record types share: the persistent identifier they compare by, the
// announcement of field writes to observers, and the hook through which the unit of work that
// owns a record learns of changes (to keep its stored values for rollback and to know which
// fields to write on save).

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "model/PersistentId.h"

namespace tavro::store {
struct RecordAccess;
}

namespace tavro::model {

class Thing;
class Tag;
class Project;

// Implemented by the unit of work that owns a record. Called once before the first change of a
// record since it was loaded or last saved, while the record still holds its stored values.
// One overload per record type, so that the tracker gets the record with its type and a
// tracker that forgets a type does not compile.
class ChangeTracker {
  public:
    virtual void willFirstChange(Thing& thing) = 0;
    virtual void willFirstChange(Tag& tag) = 0;
    virtual void willFirstChange(Project& project) = 0;

  protected:
    ~ChangeTracker() = default;
};

class Record {
  public:
    using ObserverToken = uint64_t;
    // Called with the index of the field written (the field's position in its type's schema,
    // from 0). Every write of a stored field is announced, even of an equal value.
    using Observer = std::function<void(const Record&, int field)>;

    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    const PersistentId& id() const { return id_; }
    // Changes whenever anything the record shows may have changed, its relationships'
    // identifiers included. Unique in the process: a value once seen never stands for another
    // state, of this record or of any other, so it can key what was derived from a state.
    uint64_t revision() const { return revision_; }
    ObserverToken observe(Observer observer);
    void unobserve(ObserverToken token);

  protected:
    explicit Record(RecordType type) : id_{type, nextTemporaryRow()}, revision_(nextRevision()) {}
    ~Record();

    void renewRevision() { revision_ = nextRevision(); }

    // Stores `value` in `slot` when it differs, marking the field changed; announces the write
    // either way. `self` is the record as its own type, for the tracker.
    template <typename Self, typename T, typename V>
    void assign(Self& self, T& slot, V&& value, int field) {
        if (!(slot == value)) {
            markChanged(self, field);
            slot = std::forward<V>(value);
        }
        announce(field);
    }
    template <typename Self>
    void markChanged(Self& self, int field) {
        if (changedFields_ == 0 && tracker_ != nullptr) {
            tracker_->willFirstChange(self);
        }
        changedFields_ |= 1u << field;
        renewRevision();
    }
    void announce(int field) const;

  private:
    friend struct tavro::store::RecordAccess;

    struct Observers {
        ObserverToken next = 1;
        std::vector<std::pair<ObserverToken, Observer>> list;
    };

    static uint64_t nextRevision();

    PersistentId id_;
    uint64_t revision_;
    ChangeTracker* tracker_ = nullptr;
    uint32_t changedFields_ = 0;
    uint8_t storeStatus_ = 0;               // kept by the owning unit of work
    std::unique_ptr<Observers> observers_;  // most records are never observed
};

}  // namespace tavro::model
