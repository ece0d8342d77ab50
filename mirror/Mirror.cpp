// SPDX-License-Identifier: MIT
#include "mirror/Mirror.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unordered_map>

#include "mirror/ContentTransfer.h"
#include "mirror/MergeRules.h"
#include "mirror/RecordBody.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerError.h"
#include "mirror/ServerRecords.h"
#include "model/FileFingerprint.h"
#include "model/ThingFields.h"
#include "platform/Error.h"
#include "store/ChangeWriter.h"
#include "store/RecordLoader.h"
#include "store/UnitOfWork.h"

namespace tavro::mirror {

using model::RecordType;
using store::SyncEvent;

namespace {

// The contents a thing's byte fields hold.
std::vector<model::Content> contentsOf(const model::Thing& thing) {
    std::vector<model::Content> contents;
    model::fields::forEachContent(
        thing.state(), [&](const model::Content& content) { contents.push_back(content); });
    return contents;
}

// Files downloaded for one page, removed once the store has copied what it took.
struct Downloads {
    std::unordered_map<std::string, std::string> files;  // digest -> path
    ~Downloads() {
        for (auto& [digest, path] : files) {
            ::unlink(path.c_str());
        }
    }
};

}  // namespace

// One outbox change ready to push.
struct Mirror::Outgoing {
    store::Outbox::Entry entry;
    EncodedRecord encoded;
    std::vector<model::Content> contents;
    int order = 0;
    std::optional<std::string> fileBase;  // a thing in a project: its file fingerprint
};

Mirror::Mirror(store::Store& store, std::string service, std::string account, OwnerSteps onOwner)
    : store_(store),
      service_(std::move(service)),
      account_(std::move(account)),
      onOwner_(std::move(onOwner)),
      incoming_(store.path() + "-incoming") {}

Mirror::~Mirror() = default;

store::Outbox& Mirror::outbox() {
    if (!outbox_) {
        outbox_ = std::make_unique<store::Outbox>(store_.path());
    }
    return *outbox_;
}

void Mirror::post(SyncEvent::Type type, std::optional<platform::Timestamp> end,
                  platform::ErrorRef error) {
    SyncEvent event;
    event.type = type;
    event.endDate = end;
    event.succeeded = end.has_value() && error == nullptr;
    event.error = std::move(error);
    store_.syncEvents().post(event);
}

// Runs `work` between the start and the end of one sync event; a failure ends the event with
// its error and is rethrown.
template <typename Work>
void Mirror::reported(SyncEvent::Type type, Work&& work) {
    post(type, std::nullopt);
    try {
        work();
    } catch (const platform::Error& error) {
        post(type, platform::now(), error.value());
        throw;
    } catch (const std::exception& error) {
        post(type, platform::now(), platform::errorFromException(error));
        throw;
    }
    post(type, platform::now());
}

Connection& Mirror::connection() {
    if (connection_) {
        return *connection_;
    }
    reported(SyncEvent::Type::Setup, [&] {
        auto connection = std::make_unique<Connection>(Connection::open(service_));
        std::string recordName = accountRecordName(*connection);
        if (recordName != account_) {
            throw ServerError(ServerFailure::NotAnAccount,
                              "The sync server signs this machine in to another account than "
                              "the library\u2019s; sign in again with \u201ctavro account "
                              "sign-in\u201d as the library\u2019s owner.",
                              recordName + " is not " + account_);
        }
        connection_ = std::move(connection);
    });
    return *connection_;
}

void Mirror::reportFailure(const std::exception& failure) {
    const auto* error = dynamic_cast<const platform::Error*>(&failure);
    post(SyncEvent::Type::Setup, platform::now(),
         error ? error->value() : platform::errorFromException(failure));
}

void Mirror::disconnect() {
    connection_.reset();
}

void Mirror::syncOnce() {
    round(true);
}

void Mirror::pushChanges() {
    round(false);
}

void Mirror::round(bool pulling) {
    heldBack_.reset();
    passes(pulling);
    store_.checkpointIfDue();  // what the round's pages wrote, now that nobody waits on it
    if (heldBack_) {
        throw *heldBack_;
    }
}

bool Mirror::uploadContents(Connection& server, const std::vector<model::Content>& contents) {
    try {
        for (const model::Content& content : contents) {
            uploadContent(server, store_, content);
        }
        return true;
    } catch (const ServerError&) {
        throw;
    } catch (const platform::Error& error) {
        // The store's own copy of a file is missing or altered. Its thing waits (the host's
        // next exchange of the file puts the copy back) rather than stopping every other
        // change in both directions; the round ends by reporting it, and is retried.
        if (!heldBack_) {
            heldBack_ = platform::Error(platform::makeError(
                kContentErrorDomain, static_cast<int64_t>(ContentFailure::Unreadable),
                "A file in the library couldn\u2019t be read, so its thing wasn\u2019t synced: " +
                    error.value()->description(),
                error.value()->debugDescription));
        }
        return false;
    }
}

void Mirror::passes(bool pulling) {
    try {
        connection();
        onOwner_([&] {
            if (outbox().account() != account_) {
                outbox().attach(account_);
            }
        });
        // A push that met a newer version leaves its change for the pull to settle, and what
        // the merge kept (or a loop it broke) is pushed on the next pass. A round with
        // nothing to push reports no export, so the status moves only when work is done.
        for (int pass = 0; pass < 4; ++pass) {
            bool conflicted = false;
            if (hasPending()) {
                reported(SyncEvent::Type::Export, [&] { conflicted = push(); });
            }
            if (!pulling && !conflicted) {
                return;
            }
            reported(SyncEvent::Type::Import, [&] { pull(); });
            // A change held back for its file stays pending: it waits for the next round.
            if (!conflicted && (heldBack_ || !hasPending())) {
                return;
            }
        }
    } catch (const ServerError& error) {
        if (error.failure() == ServerFailure::Unreachable) {
            disconnect();
        }
        throw;
    }
}

bool Mirror::hasPending() {
    bool pending = false;
    onOwner_([&] { pending = !outbox().pending(1).empty(); });
    return pending;
}

bool Mirror::push() {
    Connection& server = connection();
    bool conflicted = false;
    for (;;) {
        std::vector<Outgoing> batch;
        size_t read = 0;  // outbox rows read, some perhaps left for their record's later change
        onOwner_([&] {
            std::vector<store::Outbox::Entry> entries = outbox().pending(kPushBatch);
            read = entries.size();
            if (entries.empty()) {
                return;
            }
            batch = readOutgoing(entries);
        });
        if (batch.empty()) {
            return conflicted;
        }
        std::stable_sort(batch.begin(), batch.end(),
                         [](const Outgoing& a, const Outgoing& b) { return a.order < b.order; });

        std::vector<store::ChangeWriter::FromServer::Version> versions;
        std::vector<int64_t> acknowledged;
        std::vector<std::pair<platform::Uuid, std::string>> fileBases;
        // What the server took is noted even when a later push of the batch fails.
        auto acknowledge = [&] {
            if (acknowledged.empty()) {
                return;
            }
            onOwner_([&] {
                store::UnitOfWork work(store_, store::UnitOfWork::Writing::FromFirstRead);
                store::ChangeWriter::FromServer state;
                state.versions = versions;
                state.acknowledged = acknowledged;
                work.holdWriteLock();  // the save commits the notes, and reads no record
                work.save();
                for (auto& [uuid, fingerprint] : fileBases) {
                    fileBases_[uuid] = std::move(fingerprint);
                }
            });
        };
        try {
            for (const Outgoing& outgoing : batch) {
                const store::Outbox::Entry& entry = outgoing.entry;
                std::string type(recordTypeName(entry.type));
                std::string identifier = entry.uuid.lowercase();
                WriteOutcome outcome;
                if (entry.deleted) {
                    outcome = deleteRecord(server, type, identifier, entry.serverVersion);
                } else {
                    if (!uploadContents(server, outgoing.contents)) {
                        continue;  // waits in the outbox; the rest of the library goes on
                    }
                    outcome = pushRecord(server, type, identifier, entry.serverVersion,
                                         outgoing.encoded.body, outgoing.encoded.contents);
                    if (!outcome.applied && outcome.version == 0) {
                        // The server no longer has the record at all (its delete expired):
                        // what the machine holds is new to it again.
                        outcome = pushRecord(server, type, identifier, 0, outgoing.encoded.body,
                                             outgoing.encoded.contents);
                    }
                }
                if (outcome.applied) {
                    versions.push_back({entry.type, entry.row, outcome.version});
                    acknowledged.push_back(entry.change);
                    if (outgoing.fileBase) {
                        fileBases.emplace_back(entry.uuid, *outgoing.fileBase);
                    }
                    if (outcome.sequence > 0) {
                        ownSequences_.insert(outcome.sequence);
                    }
                } else {
                    conflicted = true;
                }
            }
        } catch (...) {
            acknowledge();
            throw;
        }
        acknowledge();
        if (acknowledged.empty() || read < static_cast<size_t>(kPushBatch)) {
            return conflicted;
        }
    }
}

// Reads only the records the outbox names (and what they name), not the library: a push of one
// change costs the same in a library of any size.
std::vector<Mirror::Outgoing> Mirror::readOutgoing(
    const std::vector<store::Outbox::Entry>& entries) {
    std::vector<model::PersistentId> ids;
    for (const store::Outbox::Entry& entry : entries) {
        if (!entry.deleted) {
            ids.push_back({entry.type, entry.row});
        }
    }
    store::LoadedLibrary named = store::RecordLoader::loadNamed(store_, ids);
    struct Unlink {
        store::LoadedLibrary& library;
        ~Unlink() { store::unlinkAll(library.things, library.tags, library.projects); }
    } unlink{named};
    std::unordered_map<int64_t, const model::Thing*> things;
    std::unordered_map<int64_t, const model::Tag*> tags;
    std::unordered_map<int64_t, const model::Project*> projects;
    for (const auto& thing : named.things) {
        things.emplace(thing->id().row, thing.get());
    }
    for (const auto& tag : named.tags) {
        tags.emplace(tag->id().row, tag.get());
    }
    for (const auto& project : named.projects) {
        projects.emplace(project->id().row, project.get());
    }
    std::vector<Outgoing> batch;
    for (const store::Outbox::Entry& entry : entries) {
        Outgoing outgoing{entry, {}, {}, 0, std::nullopt};
        // What records name goes first (tags, then projects from the top down), so a machine
        // pulling finds it before the records that name it; deletes last.
        if (entry.deleted) {
            outgoing.order = 1000;
        } else if (entry.type == RecordType::Tag) {
            auto found = tags.find(entry.row);
            if (found == tags.end()) {
                continue;  // deleted since: its delete is a change of its own
            }
            outgoing.encoded = encode(*found->second);
        } else if (entry.type == RecordType::Project) {
            auto found = projects.find(entry.row);
            if (found == projects.end()) {
                continue;
            }
            outgoing.encoded = encode(*found->second);
            outgoing.order = 1 + found->second->depth();
        } else {
            auto found = things.find(entry.row);
            if (found == things.end()) {
                continue;
            }
            outgoing.encoded = encode(*found->second);
            outgoing.contents = contentsOf(*found->second);
            outgoing.order = 100;
            if (found->second->project() != nullptr) {
                outgoing.fileBase = model::fileFingerprint(*found->second);
            }
        }
        batch.push_back(std::move(outgoing));
    }
    return batch;
}

void Mirror::pull() {
    Connection& server = connection();
    int64_t cursor = 0;
    onOwner_([&] { cursor = outbox().cursor(); });
    bool resynchronising = false;
    ChangeApplier::Seen seen;
    if (::mkdir(incoming_.c_str(), 0700) != 0 && errno != EEXIST) {
        platform::throwFileError(errno, incoming_, "created");
    }
    removeAbandonedDownloads(incoming_);
    for (;;) {
        std::vector<ServerChange> page;
        try {
            page = changesSince(server, cursor, kPullPage);
        } catch (const ServerError& error) {
            if (error.failure() != ServerFailure::ResynchronisationNeeded || resynchronising) {
                throw;
            }
            // Deletes this machine missed are forgotten by the server: read everything and
            // drop what the server no longer holds.
            resynchronising = true;
            cursor = 0;
            references_.clear();
            continue;
        }
        bool last = page.size() < static_cast<size_t>(kPullPage);
        std::unordered_set<std::string> wanted;
        for (const ServerChange& change : page) {
            if (resynchronising) {
                auto type = recordTypeNamed(change.recordType);
                auto uuid = platform::Uuid::parse(change.identifier);
                if (type && uuid && !change.deleted) {
                    seen.insert({*type, *uuid});
                }
            }
            if (!change.deleted) {
                wanted.insert(change.contents.begin(), change.contents.end());
            }
        }
        if (!wanted.empty()) {
            onOwner_([&] {
                std::erase_if(wanted, [&](const std::string& digest) {
                    return outbox().holdsContent(digest);
                });
            });
        }
        Downloads downloads;
        for (const std::string& digest : wanted) {
            downloads.files.emplace(digest, downloadContent(server, digest, incoming_));
        }
        int64_t through = page.empty() ? cursor : page.back().sequence;
        onOwner_([&] {
            store::UnitOfWork work(store_, store::UnitOfWork::Writing::FromFirstRead);
            std::vector<KeptConflictCopy> copies;
            {
                store::ChangeWriter::FromServer state;
                ChangeApplier applier(work, outbox(), state, downloads.files, references_,
                                      fileBases_, copies);
                if (!basesNoted_) {
                    applier.noteUnchangedBases();
                    basesNoted_ = true;
                }
                for (const ServerChange& change : page) {
                    applier.apply(change);
                }
                applier.link();
                if (last && resynchronising) {
                    applier.removeUnseen(seen);
                }
                state.cursor = through;
                work.save();
            }
            // Outside the server's guard: the move that breaks a loop and the conflict copies
            // are this machine's own changes, pushed so that the server's tree is whole again
            // and the losing versions reach every machine.
            std::vector<model::Project*> cut = projectsClosingLoops(work.fetchProjects());
            for (model::Project* project : cut) {
                project->setParent(nullptr);
            }
            ChangeApplier::queueConflictCopies(copies);
            if (!cut.empty() || !copies.empty()) {
                work.save();
            }
        });
        cursor = through;
        if (last) {
            // Whatever is still unlinked names records the server no longer holds.
            references_.clear();
            return;
        }
    }
}

}  // namespace tavro::mirror
