// SPDX-License-Identifier: MIT
#pragma once
// The mirror's side of a store's outbox (store/ChangeWriter.h writes it): attaching a store to
// an account, the records whose latest change has not reached the server yet, acknowledging a
// push, and what the mirror last saw of the server (each record's version and the account's
// change sequence applied so far).
//
// An Outbox has a connection of its own to the store file, so it reads and writes beside the
// store's units of work and other processes as one more writer under SQLite's write lock; it
// never writes record tables. Use one on one thread at a time.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/PersistentId.h"
#include "platform/Uuid.h"
#include "store/Sqlite.h"

namespace tavro::store {

class Outbox {
  public:
    // Opens the store file at `storePath`, which must already have been opened as a store (and
    // so made or brought to the current layout). Throws platform::Error.
    explicit Outbox(const std::string& storePath);

    // Makes the store's saves record their changes for the account with this record name, and
    // queues every record the store holds, in one transaction: what was saved before attaching
    // reaches the server too. A store already attached to `account` is left as it is; one
    // attached to another account forgets that account's versions and cursor first.
    void attach(const std::string& account);
    // The account the store is attached to, if any.
    std::optional<std::string> account();

    struct Entry {
        int64_t change = 0;  // numbers the record's latest change; a later save gives a new one
        model::RecordType type = model::RecordType::Thing;
        int64_t row = 0;
        platform::Uuid uuid;
        bool deleted = false;
        int64_t serverVersion = 0;  // the server's version last seen; 0 when it has none
    };
    // At most `limit` records with changes to push, oldest change first.
    std::vector<Entry> pending(int limit);
    // The server took `entry`'s change and now holds `version` of the record (a tombstone's
    // version for a delete). The outbox row goes only if no later save changed the record
    // again; the version is kept either way, for the next push. Written through this
    // connection, it makes the store read its records again at the next exchange: the mirror
    // notes its acknowledgements through the store's own connection instead
    // (ChangeWriter::FromServer::acknowledged).
    void acknowledge(const Entry& entry, int64_t version);

    // The server's version of a record as last seen (0 for none).
    int64_t serverVersion(model::RecordType type, int64_t row);
    // The account's change sequence applied so far (0 for none).
    int64_t cursor();

    // Whether a stored thing references content with this digest: by the index each byte
    // field's digest column has, so asking costs the same in a library of any size.
    bool holdsContent(const std::string& sha256);

  private:
    sqlite::Database db_;
    sqlite::Statement serverVersion_;  // asked once per record a pull brings
    sqlite::Statement holdsContent_;
};

}  // namespace tavro::store
