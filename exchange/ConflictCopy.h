// SPDX-License-Identifier: MIT
#pragma once
// Keeping the store's version of a linked thing whose file both sides changed: a new thing
// carrying the stored values, titled and named with " (iCloud conflict)", under an identifier
// derived from the stored thing's identifier and file fingerprint, so that the same conflict
// always yields the same copy and is preserved once only.

#include <string>
#include <unordered_map>

#include "platform/Uuid.h"

namespace tavro::model {
class Thing;
}

namespace tavro::store {
class UnitOfWork;
}  // namespace tavro::store

namespace tavro::exchange {

using store::UnitOfWork;


inline constexpr const char* kConflictSuffix = " (iCloud conflict)";

// The copy's identifier: the first 16 bytes of SHA-256(upper-case identifier + fingerprint),
// taken as they are (no version or variant bits set).
platform::Uuid conflictCopyIdentifier(const platform::Uuid& original,
                                      const std::string& fingerprint);

// "Report.final.pdf" -> "Report.final (iCloud conflict).pdf"; "" stays "".
std::string conflictFileName(const std::string& fileName);

// The copy's metadata: the stored text without its "linkedRelativePath" member; text that is
// not a JSON object passes unchanged.
std::string conflictMetadata(const std::string& metadataJSON);

// Inserts the copy into `unitOfWork` and `things`, unless `things` already holds it.
void preserveConflict(model::Thing& thing, const std::string& fingerprint,
                      std::unordered_map<platform::Uuid, model::Thing*>& things,
                      UnitOfWork& unitOfWork);

}  // namespace tavro::exchange
