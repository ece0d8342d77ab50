// SPDX-License-Identifier: MIT
#pragma once
// Moving byte-field contents between a store and its sync server, in chunks, never whole in
// memory: an upload streams the store's bytes into chunks of kMaxChunkSize; a download streams
// the server's chunks into a file while hashing them, and keeps the file only when its SHA-256
// is the digest asked for, so a store never references content the server altered.

#include <string>

#include "mirror/Connection.h"
#include "model/Content.h"

namespace tavro::store {
class Store;
}  // namespace tavro::store

namespace tavro::mirror {

inline constexpr const char* kContentErrorDomain = "TavroMirror.Content";
enum class ContentFailure : int64_t {
    Tampered = 1,    // the bytes do not hash to their digest
    Unreadable = 2,  // the store's copy could not be read: its thing was not pushed
};

// Puts `content` on the server unless the account holds it already. platform::Error when the
// store's bytes do not hash to the content's digest (the server refuses them), ServerError for
// the server's failures.
void uploadContent(Connection& connection, const store::Store& store,
                   const model::Content& content);

// Downloads verified content `digest` into a new file in `folder` (private to the user) and
// answers its path; the caller removes the file. platform::Error (kContentErrorDomain,
// Tampered) when the chunks do not hash to `digest`: then no file is left.
std::string downloadContent(Connection& connection, const std::string& digest,
                            const std::string& folder);

// Removes from `folder` the downloads of processes that have ended (killed while downloading,
// or before the store took what they downloaded). Another running process's downloads stay.
void removeAbandonedDownloads(const std::string& folder);

}  // namespace tavro::mirror
