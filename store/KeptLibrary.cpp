// SPDX-License-Identifier: MIT
#include "store/KeptLibrary.h"

#include <utility>

#include "store/RecordAccess.h"

namespace tavro::store {

std::optional<LoadedLibrary> KeptLibrary::take(int64_t dataVersion, uint64_t saves) {
    if (library_ && dataVersion_ == dataVersion && saves_ == saves) {
        std::optional<LoadedLibrary> taken = std::move(library_);
        library_.reset();
        return taken;
    }
    drop();
    return std::nullopt;
}

void KeptLibrary::keep(LoadedLibrary library, int64_t dataVersion, uint64_t saves) {
    drop();
    library_ = std::move(library);
    dataVersion_ = dataVersion;
    saves_ = saves;
}

void KeptLibrary::drop() {
    if (library_) {
        unlinkAll(library_->things, library_->tags, library_->projects);
        library_.reset();
    }
}

void unlinkAll(std::vector<std::unique_ptr<model::Thing>>& things,
               std::vector<std::unique_ptr<model::Tag>>& tags,
               std::vector<std::unique_ptr<model::Project>>& projects) {
    for (auto& thing : things) {
        RecordAccess::state(*thing).tags.clear();
        RecordAccess::state(*thing).project = nullptr;
    }
    for (auto& tag : tags) {
        RecordAccess::things(*tag).clear();
    }
    for (auto& project : projects) {
        RecordAccess::state(*project).parent = nullptr;
        RecordAccess::children(*project).clear();
        RecordAccess::things(*project).clear();
    }
}

}  // namespace tavro::store
