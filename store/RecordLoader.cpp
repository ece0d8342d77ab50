// SPDX-License-Identifier: MIT
#include "store/RecordLoader.h"

#include <algorithm>
#include <unordered_map>
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

// Reads records by row, each once, and links what they name as it reads them.
class NamedReader {
  public:
    NamedReader(sqlite::Database& db, LoadedLibrary& library)
        : library_(library),
          thing_(db.prepare("SELECT " + tables::columnList<model::Thing>() +
                            " FROM Thing WHERE id = ?1")),
          tag_(
              db.prepare("SELECT " + tables::columnList<model::Tag>() + " FROM Tag WHERE id = ?1")),
          project_(db.prepare("SELECT " + tables::columnList<model::Project>() +
                              " FROM Project WHERE id = ?1")),
          thingTags_(db.prepare("SELECT tag FROM ThingTags WHERE thing = ?1 ORDER BY position")) {}

    void thing(int64_t row) {
        int64_t projectRow = 0;
        auto [read, fresh] = readOnce(row, thing_, things_, library_.things, [&](auto& statement) {
            return rows::readThing(statement, projectRow);
        });
        if (!fresh) {
            return;
        }
        if (model::Project* parent = project(projectRow)) {
            RecordAccess::state(*read).project = parent;
            RecordAccess::things(*parent).push_back(read);
        }
        for (int64_t tagRow : tagRowsOf(row)) {
            model::Tag* carried = tag(tagRow);
            auto& list = RecordAccess::state(*read).tags;
            if (carried != nullptr && std::find(list.begin(), list.end(), carried) == list.end()) {
                list.push_back(carried);
                RecordAccess::things(*carried).push_back(read);
            }
        }
    }

    model::Tag* tag(int64_t row) {
        return readOnce(row, tag_, tags_, library_.tags,
                        [](auto& statement) { return rows::readTag(statement); })
            .first;
    }

    // The project and its ancestors; a loop ends at a project read already.
    model::Project* project(int64_t row) {
        int64_t parentRow = 0;
        auto [read, fresh] =
            readOnce(row, project_, projects_, library_.projects,
                     [&](auto& statement) { return rows::readProject(statement, parentRow); });
        if (fresh) {
            if (model::Project* parent = project(parentRow)) {
                RecordAccess::state(*read).parent = parent;
                RecordAccess::children(*parent).push_back(read);
            }
        }
        return read;
    }

  private:
    // The record at `row`, read with `statement` and kept in `into` unless it was looked up
    // before, and whether this call read it (null: no such row).
    template <typename Record, typename Read>
    static std::pair<Record*, bool> readOnce(int64_t row, sqlite::Statement& statement,
                                             std::unordered_map<int64_t, Record*>& seen,
                                             std::vector<std::unique_ptr<Record>>& into,
                                             Read&& read) {
        auto [found, first] = seen.emplace(row, nullptr);
        if (!first) {
            return {found->second, false};
        }
        statement.bind(1, row);
        if (!statement.step()) {
            statement.reset();
            return {nullptr, false};
        }
        auto made = RecordAccess::make(read(statement));
        statement.reset();
        RecordAccess::setId(*made, row);
        found->second = made.get();
        into.push_back(std::move(made));
        return {found->second, true};
    }

    std::vector<int64_t> tagRowsOf(int64_t thingRow) {
        std::vector<int64_t> rows;
        thingTags_.bind(1, thingRow);
        while (thingTags_.step()) {
            rows.push_back(thingTags_.integer(0));
        }
        thingTags_.reset();
        return rows;
    }

    LoadedLibrary& library_;
    sqlite::Statement thing_, tag_, project_, thingTags_;
    // Rows looked up so far, with what was found (null: no such row).
    std::unordered_map<int64_t, model::Thing*> things_;
    std::unordered_map<int64_t, model::Tag*> tags_;
    std::unordered_map<int64_t, model::Project*> projects_;
};

}  // namespace

LoadedLibrary RecordLoader::loadNamed(Store& store, const std::vector<model::PersistentId>& ids) {
    std::lock_guard lock(store.dbMutex_);
    sqlite::Database& db = store.db_;
    db.execute("BEGIN");
    try {
        LoadedLibrary library;
        {
            NamedReader reader(db, library);
            for (const model::PersistentId& id : ids) {
                switch (id.type) {
                    case model::RecordType::Thing:
                        reader.thing(id.row);
                        break;
                    case model::RecordType::Tag:
                        reader.tag(id.row);
                        break;
                    case model::RecordType::Project:
                        reader.project(id.row);
                        break;
                }
            }
        }
        db.execute("COMMIT");
        return library;
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

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
