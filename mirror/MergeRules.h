// SPDX-License-Identifier: MIT
#pragma once
// The rules by which a store settles what its sync server brought against what it changed
// itself. Every machine applies them alike to the same versions, so all of them end with the
// same library whatever order the versions reach them in (the README lists them):
//
// - A thing: the version with the later `updatedAt` wins; at equal times, the body that sorts
//   last byte by byte (so the winner never depends on which machine looks).
// - A tag or a project: the version on the server wins; a machine's change that lost the race
//   to the server is dropped.
// - A delete wins over any change it races.
// - A project whose parents would close a loop: the project of the loop with the smallest
//   identifier moves to the top level, and that move is pushed like any change.

#include <string_view>
#include <vector>

#include "model/Project.h"
#include "platform/Time.h"

namespace tavro::mirror {

bool localThingWins(platform::Timestamp localUpdatedAt, std::string_view localBody,
                    platform::Timestamp serverUpdatedAt, std::string_view serverBody);

// The projects to move to the top level so that no parent chain loops: one per loop.
std::vector<model::Project*> projectsClosingLoops(const std::vector<model::Project*>& projects);

}  // namespace tavro::mirror
