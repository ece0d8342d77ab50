// SPDX-License-Identifier: MIT
#pragma once
// The mirror of one store on its account's sync server. syncOnce() brings both to the same
// library: it pushes what the store's outbox holds (content first, then each record by
// compare-and-swap against the server's version), pulls the account's changes after the
// store's cursor page by page and settles them by the merge rules (mirror/MergeRules.h), and
// pushes again what the merge left to push. Nothing is lost on the way: an outbox row goes only
// once the server took its change, and the cursor moves only in the transaction that applies
// the changes it passes.
//
// Network work runs on the calling thread; every read and write of the store runs as a step
// handed to `onOwner`, which runs it where the store's owner runs its exchanges and returns
// when it is done (or rethrows what it threw), so that a mirror step never interleaves with an
// exchange. Progress is posted to the store's sync events: setup while connecting, export
// while pushing, import while pulling, each with its end and success or error.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "mirror/ChangeApplier.h"
#include "mirror/Connection.h"
#include "store/Outbox.h"
#include "store/Store.h"
#include "store/SyncEvent.h"

namespace tavro::mirror {

class Mirror {
  public:
    using OwnerSteps = std::function<void(const std::function<void()>&)>;
    // Runs the step at once, on the calling thread: for a caller that is the owner itself.
    static void runHere(const std::function<void()>& step) { step(); }

    // `account` is the record name the store belongs to; a server that signs the service's role
    // in as another account is refused.
    Mirror(store::Store& store, std::string service, std::string account,
           OwnerSteps onOwner = runHere);
    ~Mirror();
    Mirror(const Mirror&) = delete;
    Mirror& operator=(const Mirror&) = delete;

    // Throws ServerError for the server's failures (the connection is then dropped, and made
    // again by the next call) and platform::Error for the store's; what was done before the
    // failure stays done.
    void syncOnce();
    // Pushes what the store's outbox holds, and pulls only when a push met a newer version:
    // for a store that saved, when nothing is known to have changed on the server.
    void pushChanges();

    // The session, connected (and checked to be the store's account) when it was not.
    Connection& connection();
    void disconnect();
    // Posts a failure met outside syncOnce() (watching the session for changes, say) as a
    // setup event ended with its error, so the status says what went wrong.
    void reportFailure(const std::exception& failure);
    // Whether a change sequence the server announced is one of this mirror's own pushes.
    bool isOwnChange(int64_t sequence) const { return ownSequences_.contains(sequence); }

    // How many changes a push reads from the outbox at a time, and a pull asks for at once.
    static constexpr int kPushBatch = 500;
    static constexpr int kPullPage = 1000;

  private:
    struct Outgoing;
    store::Outbox& outbox();
    // Pushes and pulls until nothing is left to settle; throws a change held back for its
    // file (uploadContents) at the end, once everything else is done.
    void round(bool pulling);
    void passes(bool pulling);
    // Uploads a record's contents; false, noting why in heldBack_, when the store's own copy
    // of one could not be read or does not match its digest.
    bool uploadContents(Connection& server, const std::vector<model::Content>& contents);
    // Answers whether a push met a newer version on the server (the pull settles it).
    bool push();
    std::vector<Outgoing> readOutgoing(const std::vector<store::Outbox::Entry>& entries);
    void pull();
    bool hasPending();
    void post(store::SyncEvent::Type type, std::optional<platform::Timestamp> end,
              platform::ErrorRef error = nullptr);
    template <typename Work>
    void reported(store::SyncEvent::Type type, Work&& work);

    store::Store& store_;
    std::string service_;
    std::string account_;
    OwnerSteps onOwner_;
    std::unique_ptr<store::Outbox> outbox_;  // used in owner steps only
    std::unique_ptr<Connection> connection_;
    References references_;
    FileBases fileBases_;      // used in owner steps only
    bool basesNoted_ = false;  // whether a pull has noted the bases of unchanged things
    std::string incoming_;     // where downloads wait for the store to take them
    std::unordered_set<int64_t> ownSequences_;
    std::optional<platform::Error> heldBack_;  // the first change a round held back, and why
};

}  // namespace tavro::mirror
