// SPDX-License-Identifier: MIT
#pragma once
// The file fingerprint: a digest of exactly the values that make up a thing's file (kind,
// title, content, address, file name, trash time and the data's digest). Linked things are
// merged by it, in an exchange and in the mirror alike, and every response reports it. It is
// the SHA-256 of the compact, sorted-keys JSON object
// {"content","data"?,"kind","name","title","trashed"?,"url"}; hosts hand the values back to
// us, so these bytes must never change.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Time.h"

namespace tavro::model {

class Thing;
struct ThingState;

// `dataSha256`: the digest of the data bytes when there are any (empty content included).
std::string fileFingerprint(std::string_view kind, std::string_view title, std::string_view content,
                            std::string_view url, std::string_view name,
                            std::optional<platform::Timestamp> trashed,
                            const std::optional<std::string>& dataSha256);

// The same for a stored thing, from its digests: its bytes are never read.
std::string fileFingerprint(const Thing& thing);
std::string fileFingerprint(const ThingState& state);

// Whether the thing lies under a linked folder (its project or an ancestor has a
// `linkedFolderOwner`): such things merge three ways by file fingerprints. A parent loop (one
// a merge is about to break) ends the walk with false.
bool isLinked(const Thing& thing);

}  // namespace tavro::model
