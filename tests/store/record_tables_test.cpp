// SPDX-License-Identifier: MIT
// The store's tables and rows as the field tables drive them: the tables made from the
// descriptions are the store's layout, their column defaults are the records' defaults, every
// field survives a save and a load, and a value SQLite refuses to bind fails loudly.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/Error.h"
#include "store/RecordRows.h"
#include "store/RecordTables.h"
#include "store/Sqlite.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/TempDir.h"

namespace tavro::store {
namespace {

using model::Content;
using model::Project;
using model::Tag;
using model::Thing;

// Every table's columns (name, type, default) and every index, in a comparable form.
std::vector<std::string> layout(sqlite::Database& db) {
    std::vector<std::string> rows;
    auto tables = db.prepare(
        "SELECT type, name, tbl_name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' "
        "AND name <> 'StoreMetadata' ORDER BY type, name");
    while (tables.step()) {
        std::string type(tables.text(0));
        std::string name(tables.text(1));
        rows.push_back(type + " " + name + " on " + std::string(tables.text(2)));
        if (type != "table") {
            continue;
        }
        auto columns = db.prepare("SELECT name, type, dflt_value, pk FROM pragma_table_info('" +
                                  name + "') ORDER BY cid");
        while (columns.step()) {
            rows.push_back("  " + std::string(columns.text(0)) + " " +
                           std::string(columns.text(1)) + " = " + std::string(columns.text(2)) +
                           (columns.integer(3) != 0 ? " key" : ""));
        }
    }
    return rows;
}

sqlite::Database fromDescriptions(const std::string& path) {
    sqlite::Database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute(tables::createStatements());
    return db;
}

TEST(RecordTables, MadeFromTheDescriptionsTheyAreTheLayoutOfANewStore) {
    test::TempDir dir;
    Store::open(dir.file("Library.store"));
    sqlite::Database created(dir.file("Library.store"), SQLITE_OPEN_READWRITE);
    sqlite::Database described = fromDescriptions(dir.file("described.sqlite"));
    EXPECT_EQ(layout(described), layout(created));
    EXPECT_GT(layout(described).size(), 40u);
}

TEST(RecordTables, ColumnDefaultsAreTheRecordsDefaults) {
    test::TempDir dir;
    sqlite::Database db = fromDescriptions(dir.file("described.sqlite"));
    db.execute(
        "INSERT INTO Thing DEFAULT VALUES; INSERT INTO Tag DEFAULT VALUES; "
        "INSERT INTO Project DEFAULT VALUES");

    auto things = db.prepare("SELECT " + tables::columnList<Thing>() + " FROM Thing");
    ASSERT_TRUE(things.step());
    int64_t projectRow = -1;
    model::ThingState thing = rows::readThing(things, projectRow);
    model::ThingState expected;
    EXPECT_EQ(thing.kindRaw, expected.kindRaw);
    EXPECT_EQ(thing.title, expected.title);
    EXPECT_EQ(thing.fileSize, expected.fileSize);
    EXPECT_EQ(thing.aspectRatio, expected.aspectRatio);
    EXPECT_EQ(thing.isStarred, expected.isStarred);
    EXPECT_EQ(thing.trashedAt, expected.trashedAt);
    EXPECT_EQ(thing.data, expected.data);
    EXPECT_EQ(thing.metadataJSON, expected.metadataJSON);
    EXPECT_EQ(projectRow, 0);
    // Timestamps default to the time of the insert, not to the epoch.
    EXPECT_GT(thing.createdAt, 1.6e9);
    EXPECT_GT(thing.updatedAt, 1.6e9);
    EXPECT_FALSE(things.isNull(1));  // a uuid of its own

    auto projects = db.prepare("SELECT " + tables::columnList<Project>() + " FROM Project");
    ASSERT_TRUE(projects.step());
    int64_t parentRow = -1;
    model::ProjectState project = rows::readProject(projects, parentRow);
    EXPECT_EQ(project.sortOrder, model::ProjectState{}.sortOrder);
    EXPECT_EQ(project.linkedFolderOwner, model::ProjectState{}.linkedFolderOwner);
    EXPECT_EQ(parentRow, 0);

    auto tags = db.prepare("SELECT " + tables::columnList<Tag>() + " FROM Tag");
    ASSERT_TRUE(tags.step());
    EXPECT_EQ(rows::readTag(tags).name, model::TagState{}.name);
}

// Gives every field of a thing a value unlike its default.
void fillEveryField(Thing& thing, Project* project, Tag* tag) {
    thing.setKindRaw("quote");
    thing.setTitle("title");
    thing.setSubtitle("subtitle");
    thing.setContent("content");
    thing.setNote("note");
    thing.setUrlString("https://example.org/");
    thing.setFileName("file.txt");
    thing.setTypeIdentifier("public.plain-text");
    thing.setFileSize(1234);
    thing.setData(Content::fromBytes("data bytes"));
    thing.setThumbnailData(Content::fromBytes("thumbnail bytes"));
    thing.setIconData(Content::fromBytes(""));
    thing.setAspectRatio(0.75);
    thing.setIsStarred(true);
    thing.setTrashedAt(1700000000.25);
    thing.setCreatedAt(1600000000.5);
    thing.setUpdatedAt(1650000000.125);
    thing.setMetadataJSON("{\"a\":1}");
    thing.setTags({tag});
    thing.setProject(project);
}

TEST(RecordTables, EveryFieldSurvivesASaveAndALoad) {
    test::TempDir dir;
    auto store = Store::open(dir.file("Library.store"));
    model::ThingState written;
    platform::Uuid tagUuid, projectUuid;
    {
        UnitOfWork unitOfWork(*store);
        Project* parent = unitOfWork.insert(std::make_unique<Project>("parent", nullptr));
        Project* project = unitOfWork.insert(std::make_unique<Project>("child", parent));
        project->setSortOrder(-3);
        project->setLinkedFolderOwner("owner");
        Tag* tag = unitOfWork.insert(std::make_unique<Tag>("tag"));
        Thing* thing = unitOfWork.insert(std::make_unique<Thing>(model::ThingKind::note, ""));
        fillEveryField(*thing, project, tag);
        written = thing->state();
        tagUuid = tag->uuid();
        projectUuid = project->uuid();
        unitOfWork.save();
    }
    // The relationships of the written state point into the unit of work that has ended.
    written.tags.clear();
    written.project = nullptr;
    UnitOfWork unitOfWork(*store);
    auto things = unitOfWork.fetchThings();
    ASSERT_EQ(things.size(), 1u);
    const model::ThingState& read = things[0]->state();
    // Every stored value compared through the table, so a new field is checked as well.
    int compared = 0;
    model::fields::forEach(model::fields::kThingFields, [&](const auto& entry) {
        using Value = typename std::remove_cvref_t<decltype(entry)>::Value;
        if constexpr (std::is_pointer_v<Value>) {
            ASSERT_NE(read.*entry.member, nullptr) << entry.name;
            EXPECT_EQ((read.*entry.member)->uuid(), projectUuid) << entry.name;
        } else if constexpr (std::is_same_v<Value, std::vector<Tag*>>) {
            ASSERT_EQ((read.*entry.member).size(), 1u) << entry.name;
            EXPECT_EQ((read.*entry.member)[0]->uuid(), tagUuid) << entry.name;
        } else {
            EXPECT_TRUE(read.*entry.member == written.*entry.member) << entry.name;
        }
        ++compared;
    });
    EXPECT_EQ(compared, model::kThingFieldCount);
    Project* project = things[0]->project();
    EXPECT_EQ(project->sortOrder(), -3);
    EXPECT_EQ(project->linkedFolderOwner(), "owner");
    ASSERT_NE(project->parent(), nullptr);
    EXPECT_EQ(project->parent()->name(), "parent");
}

TEST(RecordTables, AChangedFieldIsWrittenAloneAndReadBack) {
    test::TempDir dir;
    auto store = Store::open(dir.file("Library.store"));
    {
        UnitOfWork unitOfWork(*store);
        unitOfWork.insert(std::make_unique<Thing>(model::ThingKind::link, "before"));
        unitOfWork.save();
    }
    {
        UnitOfWork unitOfWork(*store);
        Thing* thing = unitOfWork.fetchThings().at(0);
        thing->setThumbnailData(Content::fromBytes("thumb"));
        thing->setIsStarred(true);
        unitOfWork.save();
    }
    UnitOfWork unitOfWork(*store);
    Thing* thing = unitOfWork.fetchThings().at(0);
    EXPECT_EQ(thing->title(), "before");
    EXPECT_EQ(thing->kindRaw(), "link");
    EXPECT_TRUE(thing->isStarred());
    ASSERT_TRUE(thing->thumbnailData());
    EXPECT_EQ(thing->thumbnailData()->size, 5u);
    EXPECT_FALSE(thing->data());
}

TEST(SqliteBinding, AValueSqliteRefusesFailsWithItsError) {
    test::TempDir dir;
    sqlite::Database db(dir.file("bind.sqlite"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute("CREATE TABLE t (a)");
    auto statement = db.prepare("INSERT INTO t (a) VALUES (?1)");
    try {
        statement.bind(2, int64_t{1});
        FAIL() << "binding a parameter the statement does not have succeeded";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.value()->code, SQLITE_RANGE);
        EXPECT_NE(std::string(error.what()).find("column index out of range"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(statement.bind(0, std::string_view("x")), platform::Error);
    EXPECT_THROW(statement.bindNull(9), platform::Error);
    // The statement is still usable after a refused value.
    statement.bind(1, int64_t{7});
    statement.run();
    auto count = db.prepare("SELECT count(*), max(a) FROM t");
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.integer(0), 1);
    EXPECT_EQ(count.integer(1), 7);
}

}  // namespace
}  // namespace tavro::store
