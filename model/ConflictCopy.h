// SPDX-License-Identifier: MIT
#pragma once
// A conflict copy keeps the losing version of a linked thing whose file two sides changed: a
// new thing carrying that version's values, titled and named with " (iCloud conflict)", under
// an identifier derived from the original thing's identifier and the version's file
// fingerprint. The same losing version always yields the same copy, so it is kept once only,
// however many times (or on however many machines) the conflict is settled.

#include <memory>
#include <string>

#include "model/Thing.h"
#include "platform/Time.h"
#include "platform/Uuid.h"

namespace tavro::model {

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

// The copy of the version `losing` of the thing `original`, whose file fingerprint is
// `fingerprint`, changed at `updatedAt`. Every value is copied (a new field included) but the
// relationships, which the caller sets once the copy belongs to a unit of work.
std::unique_ptr<Thing> makeConflictCopy(const ThingState& losing, const platform::Uuid& original,
                                        const std::string& fingerprint,
                                        platform::Timestamp updatedAt);

}  // namespace tavro::model
