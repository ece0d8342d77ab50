// SPDX-License-Identifier: MIT
// A store written by an earlier library (tests/store/fixtures/layout-1, made by `tavro
// exchange` with the request in its README) opens, reads back whole and ends up with the
// layout a fresh store has; upgrade steps are all or nothing even when the process dies in
// one; a store made by a newer library is refused untouched.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "store/Migrations.h"
#include "store/Schema.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

namespace fs = std::filesystem;
using model::Project;
using model::Tag;
using model::Thing;

// Rows of a query on a connection of the test's own, each as one text.
std::vector<std::string> rows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    std::vector<std::string> result;
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            auto* text = sqlite3_column_text(statement, i);
            row += (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "∅");
        }
        result.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// What a layout is made of: every table's columns (name, type, default, key) and every index.
std::vector<std::string> layoutOf(const std::string& path) {
    std::vector<std::string> layout;
    for (const auto& table :
         rows(path, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
        for (const auto& column : rows(path, "SELECT name, type, \"notnull\", dflt_value, pk "
                                             "FROM pragma_table_info('" + table + "')")) {
            layout.push_back(table + ": " + column);
        }
    }
    for (const auto& index : rows(path, "SELECT name, tbl_name FROM sqlite_master "
                                        "WHERE type = 'index' AND sql IS NOT NULL ORDER BY name")) {
        layout.push_back("index " + index);
    }
    // Where a column stands in its table is no part of the layout: rows are read and written by
    // column name, and a column added to an older store can only come last.
    std::sort(layout.begin(), layout.end());
    return layout;
}

class StoreLayoutTest : public ::testing::Test {
  protected:
    // A copy of the earlier library's store, with its blobs, in a folder of the test's own.
    std::string copyFixture() {
        std::string from = std::string(TAVRO_SOURCE_DIR) + "/tests/store/fixtures/layout-1";
        fs::create_directories(temp_.file("Library"));
        fs::copy_file(from + "/Tavro.store", path_);
        fs::copy(from + "/Tavro.store-blobs", path_ + "-blobs");
        return path_;
    }

    void setLayout(const std::string& value) {
        ASSERT_FALSE(rows(path_, "SELECT 1").empty());
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        std::string sql =
            "INSERT OR REPLACE INTO StoreMetadata (key, value) VALUES ('layout', " + value + ")";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    test::TempDir temp_;
    std::string path_ = temp_.file("Library/Tavro.store");
};

template <typename T>
T* byName(const std::vector<T*>& records, const std::string& name) {
    auto found = std::find_if(records.begin(), records.end(),
                              [&](T* record) { return record->name() == name; });
    return found == records.end() ? nullptr : *found;
}

TEST_F(StoreLayoutTest, AStoreOfTheFirstLayoutReadsBackWhole) {
    auto store = Store::open(copyFixture());
    UnitOfWork work(*store);
    auto projects = work.fetchProjects();
    auto tags = work.fetchTags();
    ASSERT_EQ(projects.size(), 2u);
    ASSERT_EQ(tags.size(), 2u);
    Project* trips = byName(projects, "Trips");
    Project* sea = byName(projects, "Sea");
    ASSERT_TRUE(trips && sea);
    EXPECT_EQ(trips->sortOrder(), 2);
    EXPECT_EQ(sea->parent(), trips);
    EXPECT_EQ(sea->linkedFolderOwner(), "device-a");
    EXPECT_DOUBLE_EQ(sea->createdAt(), 1733650001.0);
    Tag* crossing = byName(tags, "\u00dcberfahrt");
    ASSERT_TRUE(crossing);

    std::map<std::string, Thing*> things;
    for (Thing* thing : work.fetchThings()) {
        things[thing->uuid().lowercase()] = thing;
    }
    ASSERT_EQ(things.size(), 3u);
    Thing* harbour = things.at("30000000-0000-4000-8000-000000000001");
    EXPECT_EQ(harbour->kindRaw(), "image");
    EXPECT_EQ(harbour->title(), "Harbour");
    EXPECT_EQ(harbour->subtitle(), "at dawn");
    EXPECT_EQ(harbour->note(), "windy");
    EXPECT_EQ(harbour->fileName(), "harbour.png");
    EXPECT_EQ(harbour->typeIdentifier(), "public.png");
    EXPECT_EQ(harbour->fileSize(), 22);
    EXPECT_DOUBLE_EQ(harbour->aspectRatio(), 1.5);
    EXPECT_TRUE(harbour->isStarred());
    EXPECT_DOUBLE_EQ(harbour->updatedAt(), 1733650020.0);
    EXPECT_EQ(harbour->metadataJSON(), "{\"author\":\"A\"}");
    EXPECT_EQ(harbour->project(), sea);
    ASSERT_EQ(harbour->tags().size(), 2u);
    EXPECT_EQ(harbour->tags()[0], crossing);  // relationship order is kept
    ASSERT_TRUE(harbour->data() && harbour->thumbnailData());
    EXPECT_EQ(store->readBytes(*harbour->data()), "harbour picture bytes\n");
    EXPECT_EQ(store->readBytes(*harbour->thumbnailData()), "thumb\n");

    Thing* link = things.at("30000000-0000-4000-8000-000000000002");
    EXPECT_EQ(link->urlString(), "https://example.org/a");
    EXPECT_EQ(link->content(), "a page");
    EXPECT_EQ(link->project(), trips);
    Thing* notes = things.at("30000000-0000-4000-8000-000000000003");
    EXPECT_EQ(notes->title(), "Notes \u2014 2024");
    EXPECT_EQ(notes->trashedAt(), std::optional<platform::Timestamp>(1733650040.0));
    ASSERT_TRUE(notes->data() && notes->iconData());
    EXPECT_EQ(store->readBytes(*notes->data()), "notes in a file\n");
    EXPECT_EQ(store->readBytes(*notes->iconData()), "thumb\n");
}

TEST_F(StoreLayoutTest, AnUpgradedStoreHasTheLayoutOfAFreshOne) {
    { auto store = Store::open(copyFixture()); }
    std::string fresh = temp_.file("fresh/Tavro.store");
    { auto store = Store::open(fresh); }
    EXPECT_EQ(layoutOf(path_), layoutOf(fresh))
        << "a change of layout needs a step in store/Migrations.cpp";
    EXPECT_EQ(rows(fresh, "SELECT value FROM StoreMetadata WHERE key = 'layout'"),
              std::vector<std::string>{std::to_string(migrations::kCurrentLayout)});
}

// Today's steps and two past them: a column, then a table and a column; the last can be made
// to kill the process half-way through.
std::vector<migrations::Step> laterSteps(bool dieInSecond) {
    int next = migrations::kCurrentLayout + 1;
    std::vector<migrations::Step> steps = migrations::steps();
    steps.push_back({next, "a rating for things", [](sqlite::Database& db) {
                         db.execute("ALTER TABLE Thing ADD COLUMN rating INTEGER DEFAULT 0");
                     }});
    steps.push_back({next + 1, "a reading list", [dieInSecond](sqlite::Database& db) {
                         db.execute("CREATE TABLE ReadingList (thing INTEGER)");
                         db.execute("ALTER TABLE Thing ADD COLUMN readAt REAL DEFAULT NULL");
                         if (dieInSecond) {
                             ::raise(SIGKILL);
                         }
                     }});
    return steps;
}

void prepareWith(const std::string& path, const std::vector<migrations::Step>& steps) {
    sqlite::Database db(path, SQLITE_OPEN_READWRITE);
    sqlite3_busy_timeout(db.handle(), 5000);
    schema::prepare(db, path, steps);
}

TEST_F(StoreLayoutTest, AKillDuringAnUpgradeLeavesOneLayoutOrTheNext) {
    copyFixture();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            prepareWith(path_, laterSteps(true));
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the step was to kill its process";

    // The first step stands whole; nothing of the second does.
    int first = migrations::kCurrentLayout + 1;
    auto layout = layoutOf(path_);
    EXPECT_EQ(rows(path_, "SELECT value FROM StoreMetadata WHERE key = 'layout'"),
              std::vector<std::string>{std::to_string(first)});
    EXPECT_NE(std::find(layout.begin(), layout.end(), "Thing: rating|INTEGER|0|0|0"),
              layout.end());
    for (const auto& entry : layout) {
        EXPECT_EQ(entry.find("readAt"), std::string::npos);
        EXPECT_EQ(entry.find("ReadingList"), std::string::npos);
    }
    // The next opening carries on, and the records are all there.
    prepareWith(path_, laterSteps(false));
    EXPECT_EQ(rows(path_, "SELECT value FROM StoreMetadata WHERE key = 'layout'"),
              std::vector<std::string>{std::to_string(first + 1)});
    EXPECT_EQ(rows(path_, "SELECT count(*) FROM Thing"), std::vector<std::string>{"3"});
    EXPECT_EQ(rows(path_, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST_F(StoreLayoutTest, AStoreOfANewerLibraryIsRefusedUntouched) {
    copyFixture();
    setLayout("99");
    std::string before = platform::sha256HexOfFile(path_);
    try {
        Store::open(path_);
        FAIL() << "a newer layout was opened";
    } catch (const platform::Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The library store \u201cTavro.store\u201d was made by a newer version of Tavro "
                  "(layout 99) and cannot be opened by this one, which knows layouts up to " +
                      std::to_string(migrations::kCurrentLayout) + ".");
    }
    EXPECT_EQ(platform::sha256HexOfFile(path_), before);
}

}  // namespace
}  // namespace tavro::store
