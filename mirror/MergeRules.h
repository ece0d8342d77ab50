// SPDX-License-Identifier: MIT
#pragma once
// The rules by which a store settles what its sync server brought against what it changed
// itself. Every machine applies them alike to the same versions, so all of them end with the
// same library whatever order the versions reach them in (the README lists them):
//
// - A thing: the version with the later `updatedAt` wins; at equal times, the body that sorts
//   last byte by byte (so the winner never depends on which machine looks).
// - A thing under a linked folder, merged three ways by file fingerprints against the server's
//   version this store last saw: the side that changed the file wins; when both did, the winner
//   is as for any thing and the losing version is kept as a conflict copy (model/ConflictCopy.h).
// - A tag or a project: the version on the server wins; a machine's change that lost the race
//   to the server is dropped.
// - A delete wins over any change it races.
// - A project whose parents would close a loop: the project of the loop with the smallest
//   identifier moves to the top level, and that move is pushed like any change.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Project.h"
#include "model/Thing.h"
#include "platform/Time.h"

namespace tavro::mirror {

bool localThingWins(platform::Timestamp localUpdatedAt, std::string_view localBody,
                    platform::Timestamp serverUpdatedAt, std::string_view serverBody);

enum class LinkedMerge {
    TakeServer,
    KeepLocal,
    TakeServerKeepingLocalCopy,
    KeepLocalKeepingServerCopy,
};
// The merge of a linked thing this store changed and has not pushed, by the file fingerprints
// of the server's version it last saw (`base`, none when not known), of its own version and of
// the server's new one; `localWins` is what localThingWins says of the two versions. Without a
// base it cannot tell who changed the file, and keeps the losing version whenever the files
// differ: a needless copy rather than a lost file.
LinkedMerge mergeLinked(const std::optional<std::string>& base, const std::string& local,
                        const std::string& server, bool localWins);

// The projects to move to the top level so that no parent chain loops: one per loop.
std::vector<model::Project*> projectsClosingLoops(const std::vector<model::Project*>& projects);

}  // namespace tavro::mirror
