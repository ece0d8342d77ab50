// SPDX-License-Identifier: MIT
#include "store/RecordLoader.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "store/RecordAccess.h"
#include "store/RecordRows.h"
#include "store/RecordTables.h"
#include "store/Store.h"

namespace tavro::store {

namespace {

// Records by row, in ascending row order: every table is read in the order of its rows, so an
// index is filled by appending and searched by halving, without a node per record.
template <typename T>
using RowIndex = std::vector<std::pair<int64_t, T*>>;

template <typename T>
T* find(const RowIndex<T>& index, int64_t row) {
    auto found =
        std::lower_bound(index.begin(), index.end(), row,
                         [](const auto& entry, int64_t value) { return entry.first < value; });
    return found == index.end() || found->first != row ? nullptr : found->second;
}

int64_t count(sqlite::Database& db, const char* table) {
    auto statement = db.prepare(std::string("SELECT count(*) FROM ") + table);
    statement.step();
    return statement.integer(0);
}

RowIndex<model::Project> loadProjects(sqlite::Database& db, LoadedLibrary& library) {
    RowIndex<model::Project> index;
    std::vector<std::pair<model::Project*, int64_t>> parents;
    auto statement =
        db.prepare("SELECT " + tables::columnList<model::Project>() + " FROM Project ORDER BY id");
    while (statement.step()) {
        int64_t parentRow = 0;
        auto project = RecordAccess::make(rows::readProject(statement, parentRow));
        RecordAccess::setId(*project, statement.integer(0));
        index.emplace_back(statement.integer(0), project.get());
        parents.emplace_back(project.get(), parentRow);
        library.projects.push_back(std::move(project));
    }
    for (auto [project, parentRow] : parents) {
        if (model::Project* parent = find(index, parentRow)) {
            RecordAccess::state(*project).parent = parent;
            RecordAccess::children(*parent).push_back(project);
        }
    }
    return index;
}

RowIndex<model::Tag> loadTags(sqlite::Database& db, LoadedLibrary& library) {
    RowIndex<model::Tag> index;
    auto statement =
        db.prepare("SELECT " + tables::columnList<model::Tag>() + " FROM Tag ORDER BY id");
    while (statement.step()) {
        auto tag = RecordAccess::make(rows::readTag(statement));
        RecordAccess::setId(*tag, statement.integer(0));
        index.emplace_back(statement.integer(0), tag.get());
        library.tags.push_back(std::move(tag));
    }
    return index;
}

RowIndex<model::Thing> loadThings(sqlite::Database& db, LoadedLibrary& library,
                                  const RowIndex<model::Project>& projects) {
    RowIndex<model::Thing> index;
    index.reserve(library.things.capacity());
    auto statement =
        db.prepare("SELECT " + tables::columnList<model::Thing>() + " FROM Thing ORDER BY id");
    while (statement.step()) {
        int64_t projectRow = 0;
        auto thing = RecordAccess::make(rows::readThing(statement, projectRow));
        RecordAccess::setId(*thing, statement.integer(0));
        if (model::Project* project = find(projects, projectRow)) {
            RecordAccess::state(*thing).project = project;
            RecordAccess::things(*project).push_back(thing.get());
        }
        index.emplace_back(statement.integer(0), thing.get());
        library.things.push_back(std::move(thing));
    }
    return index;
}

void linkTags(sqlite::Database& db, const RowIndex<model::Thing>& things,
              const RowIndex<model::Tag>& tags) {
    // The primary key orders the rows by thing and position: relationship order.
    auto statement = db.prepare("SELECT thing, tag FROM ThingTags ORDER BY thing, position");
    model::Thing* thing = nullptr;
    int64_t thingRow = 0;
    while (statement.step()) {
        if (thing == nullptr || statement.integer(0) != thingRow) {
            thingRow = statement.integer(0);
            thing = find(things, thingRow);
        }
        model::Tag* tag = find(tags, statement.integer(1));
        if (thing == nullptr || tag == nullptr) {
            continue;
        }
        auto& list = RecordAccess::state(*thing).tags;
        if (std::find(list.begin(), list.end(), tag) == list.end()) {
            list.push_back(tag);
            RecordAccess::things(*tag).push_back(thing);
        }
    }
}

}  // namespace

LoadedLibrary RecordLoader::load(Store& store) {
    std::lock_guard lock(store.dbMutex_);
    sqlite::Database& db = store.db_;
    db.execute("BEGIN");
    try {
        LoadedLibrary library = loadWithinTransaction(store);
        db.execute("COMMIT");
        return library;
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

LoadedLibrary RecordLoader::loadWithinTransaction(Store& store) {
    sqlite::Database& db = store.db_;
    LoadedLibrary library;
    library.things.reserve(static_cast<size_t>(count(db, "Thing")));
    auto projects = loadProjects(db, library);
    auto tags = loadTags(db, library);
    auto things = loadThings(db, library, projects);
    linkTags(db, things, tags);
    return library;
}

}  // namespace tavro::store
