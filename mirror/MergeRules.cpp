// SPDX-License-Identifier: MIT
#include "mirror/MergeRules.h"

#include <unordered_map>

namespace tavro::mirror {

bool localThingWins(platform::Timestamp localUpdatedAt, std::string_view localBody,
                    platform::Timestamp serverUpdatedAt, std::string_view serverBody) {
    if (localUpdatedAt != serverUpdatedAt) {
        return localUpdatedAt > serverUpdatedAt;
    }
    return localBody > serverBody;
}

LinkedMerge mergeLinked(const std::optional<std::string>& base, const std::string& local,
                        const std::string& server, bool localWins) {
    if (local == server) {
        return localWins ? LinkedMerge::KeepLocal : LinkedMerge::TakeServer;
    }
    if (base && *base == local) {
        return LinkedMerge::TakeServer;
    }
    if (base && *base == server) {
        return LinkedMerge::KeepLocal;
    }
    return localWins ? LinkedMerge::KeepLocalKeepingServerCopy
                     : LinkedMerge::TakeServerKeepingLocalCopy;
}

std::vector<model::Project*> projectsClosingLoops(const std::vector<model::Project*>& projects) {
    // Each project is walked up once: 0 unseen, 1 on the current walk, 2 settled.
    std::unordered_map<const model::Project*, int> marks;
    std::vector<model::Project*> cut;
    for (model::Project* start : projects) {
        std::vector<model::Project*> walk;
        model::Project* at = start;
        while (at != nullptr && marks[at] == 0) {
            marks[at] = 1;
            walk.push_back(at);
            at = at->parent();
        }
        if (at != nullptr && marks[at] == 1) {
            // The walk came back to itself: the loop is `at` and what follows it on the walk.
            model::Project* smallest = at;
            for (model::Project* step = at->parent(); step != at; step = step->parent()) {
                if (step->uuid() < smallest->uuid()) {
                    smallest = step;
                }
            }
            cut.push_back(smallest);
        }
        for (model::Project* step : walk) {
            marks[step] = 2;
        }
    }
    return cut;
}

}  // namespace tavro::mirror
