// SPDX-License-Identifier: MIT
#pragma once
// A machine's calls on its account's records and content, one function of the server each
// (see mirror/sql/). Every call acts on the account of the connected role only.
//
// Records are keyed by record type and identifier. Each has a version (1 when first written,
// one more at every write) for compare-and-swap: a write names the version the machine last
// saw (0 for "none") and is applied only when the server still holds that version. Each write
// is also given the account's next change sequence; sequences are committed in the order they
// are issued, so a reader that asks for the changes after the highest sequence it has seen
// never skips one. A delete leaves a tombstone (deleted, no body) that carries the sequence.
//
// Content is kept once per SHA-256 digest, in chunks of at most kMaxChunkSize bytes, and can
// be referenced by a record only after the server has hashed it and found the digest.

#include <optional>
#include <string>
#include <vector>

#include "mirror/Connection.h"

namespace tavro::mirror {

inline constexpr size_t kMaxChunkSize = 4 * 1024 * 1024;
inline constexpr int kMaxChangesPage = 1000;

struct ServerChange {
    int64_t sequence = 0;
    std::string recordType;
    std::string identifier;  // lower-case canonical UUID
    int64_t version = 0;
    bool deleted = false;
    std::string body;  // empty for a tombstone
    std::vector<std::string> contents;
};

// At most `pageSize` (1 to kMaxChangesPage) changes after `after`, in sequence order. A full
// page means there may be more: ask again after its last sequence. ServerError
// ResynchronisationNeeded when deletes after `after` have expired (ask from 0, and drop what
// the server no longer holds).
std::vector<ServerChange> changesSince(Connection& connection, int64_t after,
                                       int pageSize = kMaxChangesPage);

struct WriteOutcome {
    bool applied = false;
    // Applied: the record's new version and sequence. Not applied (a conflict): the server's
    // row as it is: its version (0: none), its sequence, whether it is a tombstone, its body.
    int64_t version = 0;
    int64_t sequence = 0;
    bool deleted = false;
    std::optional<std::string> body;
};

// Writes a record if the server still holds `expectedVersion` of it. Every digest of
// `contents` must be verified content of the account: ServerError ContentMissing otherwise.
WriteOutcome pushRecord(Connection& connection, const std::string& recordType,
                        const std::string& identifier, int64_t expectedVersion,
                        const std::string& body, const std::vector<std::string>& contents = {});

// Replaces a record by a tombstone if the server still holds `expectedVersion` of it. A record
// the server never had (expected 0), or one already deleted, is applied without a change.
WriteOutcome deleteRecord(Connection& connection, const std::string& recordType,
                          const std::string& identifier, int64_t expectedVersion);

// Whether the account holds verified content of `digest` (64 lower-case hexadecimal digits).
bool hasContent(Connection& connection, const std::string& digest);
// Stores chunk `index` (from 0) of an upload; false, storing nothing, when the content is
// already verified.
bool putChunk(Connection& connection, const std::string& digest, int index,
              const std::string& bytes);
// Ends an upload of `chunkCount` chunks: true when the chunks hash to `digest` (the content is
// now referencable), false when they do not (the chunks are discarded). ServerError
// ContentMissing when a chunk is missing.
bool finishContent(Connection& connection, const std::string& digest, int chunkCount);
// Chunk `index` of verified content, or nothing past its last chunk. ServerError
// ContentMissing when the account holds no verified content of `digest`.
std::optional<std::string> getChunk(Connection& connection, const std::string& digest, int index);

}  // namespace tavro::mirror
