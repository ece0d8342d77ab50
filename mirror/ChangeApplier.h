// SPDX-License-Identifier: MIT
#pragma once
// Applies changes the sync server sent to the store, inside one unit of work whose save runs
// under a ChangeWriter::FromServer guard: records are created, changed and deleted as the
// server holds them unless the store's own pending change wins by the merge rules
// (mirror/MergeRules.h), and the server's version of each record settled is noted for the next
// push's compare-and-swap.
//
// A linked thing this store changed and has not pushed is merged three ways by file
// fingerprints (mirror/MergeRules.h) against FileBases, the server's version of it that the
// mirror last saw; the losing version is kept as a conflict copy, inserted in the same save
// (so that a file only the losing version names stays in the blob folder) and made a change
// of this store's own by queueConflictCopies after it.
//
// Relationships name records by identifier, and a record may arrive before one it names (the
// named one changed later, so it comes later in the change sequence): links to records not in
// the store yet are kept in References and made when those arrive, on a later page.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mirror/RecordBody.h"
#include "mirror/ServerRecords.h"
#include "platform/Uuid.h"
#include "store/ChangeWriter.h"
#include "store/Outbox.h"
#include "store/UnitOfWork.h"

namespace tavro::mirror {

struct References {
    struct ThingLinks {
        std::optional<platform::Uuid> project;
        std::vector<platform::Uuid> tags;
    };
    std::unordered_map<platform::Uuid, ThingLinks> things;
    std::unordered_map<platform::Uuid, std::optional<platform::Uuid>> parents;  // of projects

    bool empty() const { return things.empty() && parents.empty(); }
    void clear() {
        things.clear();
        parents.clear();
    }
};

// The file fingerprint of each thing's version on the server as the mirror last saw it (pulled
// or pushed), kept for the things in projects: only those can lie under a linked folder. Held
// in memory: what was changed before the mirror first looked has no base, and merges as
// changed on both sides.
using FileBases = std::unordered_map<platform::Uuid, std::string>;

// A conflict copy a merge inserted, and the title that makes it a change of this store's own.
struct KeptConflictCopy {
    model::Thing* copy;
    std::string title;
};

class ChangeApplier {
  public:
    // `downloaded` maps the digests of content fetched for these changes to their files.
    ChangeApplier(store::UnitOfWork& work, store::Outbox& outbox,
                  store::ChangeWriter::FromServer& state,
                  const std::unordered_map<std::string, std::string>& downloaded,
                  References& references, FileBases& bases, std::vector<KeptConflictCopy>& copies);

    // Notes as the server's last version the file fingerprint of every linked thing with no
    // change to push, which is what it holds. A mirror does this at its first pull: from then
    // on its pushes and pulls keep the versions noted, and a thing the machine changes later
    // still has the version it changed from.
    void noteUnchangedBases();

    void apply(const ServerChange& change);
    // Links the records whose relationships are waiting, as far as the records they name are
    // here; a link to a record that is not keeps it unlinked until it comes.
    void link();

    // Removes the records the server has never held or no longer holds: those with a server
    // version that are not in `seen`, and have no change of their own waiting to be pushed.
    using Seen = std::set<std::pair<model::RecordType, platform::Uuid>>;
    void removeUnseen(const Seen& seen);

    // Makes the copies a merge kept changes of this store, to be pushed: call after the save
    // that applied the server's changes, outside its ChangeWriter::FromServer guard.
    static void queueConflictCopies(const std::vector<KeptConflictCopy>& copies);

  private:
    model::Thing* findThing(const platform::Uuid& uuid);
    model::Tag* findTag(const platform::Uuid& uuid);
    model::Project* findProject(const platform::Uuid& uuid);
    static bool sameBody(model::RecordType type, const model::Record& local, std::string_view body);
    void noteVersion(model::RecordType type, int64_t row, int64_t version);
    void removeThing(model::Thing* thing);
    void removeTag(model::Tag* tag);
    void removeProject(model::Project* project);
    void applyThing(const ServerChange& change, const platform::Uuid& uuid, bool pending);
    // Whether the store's version stays; notes what to keep as a conflict copy.
    bool localThingStays(model::Thing& thing, const ServerChange& change, const ThingImage& image);
    void noteBase(const model::Thing& thing, std::string fingerprint);
    void keepCopy(const model::ThingState& losing, const platform::Uuid& original,
                  const std::string& fingerprint, std::optional<platform::Uuid> project,
                  std::vector<platform::Uuid> tags);
    void applyTag(const ServerChange& change, const platform::Uuid& uuid);
    void applyProject(const ServerChange& change, const platform::Uuid& uuid);

    store::UnitOfWork& work_;
    store::Outbox& outbox_;
    store::ChangeWriter::FromServer& state_;
    const std::unordered_map<std::string, std::string>& downloaded_;
    References& references_;
    FileBases& bases_;
    std::vector<KeptConflictCopy>& copies_;
    std::map<std::pair<model::RecordType, platform::Uuid>, store::Outbox::Entry> pending_;
    // What this page inserted, by the identifier it came under: not in the store's index yet.
    std::unordered_map<platform::Uuid, model::Thing*> things_;
    std::unordered_map<platform::Uuid, model::Tag*> tags_;
    std::unordered_map<platform::Uuid, model::Project*> projects_;
};

}  // namespace tavro::mirror
