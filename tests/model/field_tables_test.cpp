// SPDX-License-Identifier: MIT
// The field tables against the records: every entry's setter writes the entry's member and
// announces the entry's position, and the tables say what the store and the exchange rely on.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "model/ProjectFields.h"
#include "model/TagFields.h"
#include "model/ThingFields.h"

namespace tavro::model {
namespace {

// A value of each stored type that differs from `current`.
platform::Uuid otherThan(const platform::Uuid& current) {
    platform::Uuid uuid = platform::Uuid::random();
    return uuid == current ? platform::Uuid::random() : uuid;
}
std::string otherThan(const std::string& current) {
    return current + "changed";
}
int64_t otherThan(int64_t current) {
    return current + 7;
}
double otherThan(double current) {
    return current + 2.5;
}
bool otherThan(bool current) {
    return !current;
}
std::optional<platform::Timestamp> otherThan(const std::optional<platform::Timestamp>& current) {
    return current.value_or(0) + 42.0;
}
OptionalContent otherThan(const OptionalContent& current) {
    return Content::fromBytes(current ? current->sha256 + "x" : "bytes");
}

// Sets every plain field through its entry's setter and checks that exactly that member
// changed and that the entry's position was announced.
template <typename R, typename Table>
void checkSetters(R& record, const Table& table) {
    std::vector<int> announced;
    record.observe([&](const Record&, int field) { announced.push_back(field); });
    int checked = 0;
    fields::forEach(table, [&](const auto& entry) {
        if constexpr (!fields::kIsInverse<decltype(entry)>) {
            using Value = typename std::remove_cvref_t<decltype(entry)>::Value;
            if constexpr (!std::is_pointer_v<Value> && !std::is_same_v<Value, std::vector<Tag*>>) {
                announced.clear();
                auto value = otherThan(record.state().*entry.member);
                (record.*entry.setter)(value);
                EXPECT_TRUE(record.state().*entry.member == value) << entry.name;
                EXPECT_EQ(announced, std::vector<int>{entry.index}) << entry.name;
                ++checked;
            }
        }
    });
    EXPECT_GT(checked, 2);
}

TEST(FieldTables, EachSetterWritesItsMemberAndAnnouncesItsPosition) {
    Thing thing(ThingKind::note, "a");
    checkSetters(thing, fields::kThingFields);
    Tag tag("t");
    checkSetters(tag, fields::kTagFields);
    Project project("p", nullptr);
    checkSetters(project, fields::kProjectFields);
}

TEST(FieldTables, RelationshipSettersAnnounceTheirPositions) {
    Project project("p", nullptr);
    Project parent("parent", nullptr);
    Tag tag("t");
    Thing thing(ThingKind::note, "a");
    std::vector<int> announced;
    thing.observe([&](const Record&, int field) { announced.push_back(field); });
    project.observe([&](const Record&, int field) { announced.push_back(field); });
    const auto& tags = std::get<static_cast<int>(ThingField::tags)>(fields::kThingFields);
    const auto& inProject = std::get<static_cast<int>(ThingField::project)>(fields::kThingFields);
    const auto& parentOf = std::get<static_cast<int>(ProjectField::parent)>(fields::kProjectFields);
    (thing.*tags.setter)({&tag});
    (thing.*inProject.setter)(&project);
    (project.*parentOf.setter)(&parent);
    EXPECT_EQ(announced, (std::vector<int>{tags.index, inProject.index, parentOf.index}));
    EXPECT_EQ(thing.tags(), std::vector<Tag*>{&tag});
    EXPECT_EQ(thing.project(), &project);
    EXPECT_EQ(project.parent(), &parent);
    (thing.*tags.setter)({});
    (thing.*inProject.setter)(nullptr);
    (project.*parentOf.setter)(nullptr);
}

template <typename Table>
std::set<std::string_view> namesAndColumns(const Table& table, bool columns) {
    std::set<std::string_view> seen;
    size_t count = 0;
    fields::forEach(table, [&](const auto& entry) {
        if constexpr (!fields::kIsInverse<decltype(entry)>) {
            if (columns) {
                for (std::string_view column : entry.columns) {
                    if (!column.empty()) {
                        seen.insert(column);
                        ++count;
                    }
                }
            } else if (!entry.key.empty()) {
                seen.insert(entry.key);
                ++count;
            }
        }
    });
    EXPECT_EQ(seen.size(), count) << "a name is used twice";
    return seen;
}

TEST(FieldTables, ColumnsAndExchangeKeysAreUniqueAndTheByteFieldsTakeTwoColumns) {
    auto thingColumns = namesAndColumns(fields::kThingFields, true);
    namesAndColumns(fields::kTagFields, true);
    namesAndColumns(fields::kProjectFields, true);
    namesAndColumns(fields::kThingFields, false);
    namesAndColumns(fields::kTagFields, false);
    namesAndColumns(fields::kProjectFields, false);
    EXPECT_EQ(thingColumns.count("id"), 0u);  // the row key is the table's own
    fields::forEach(fields::kThingFields, [&](const auto& entry) {
        bool bytes = entry.storage == fields::Storage::Bytes;
        EXPECT_EQ(!entry.columns[1].empty(), bytes) << entry.name;
        if (bytes) {
            EXPECT_EQ(std::string(entry.columns[0]), std::string(entry.name) + "Sha256");
            EXPECT_EQ(std::string(entry.columns[1]), std::string(entry.name) + "Size");
        }
        EXPECT_EQ(entry.columns[0].empty(), entry.storage == fields::Storage::ToMany) << entry.name;
    });
    EXPECT_EQ(fields::countOf(fields::kThingFields, fields::Storage::Bytes), 3);
    EXPECT_EQ(fields::maskOf(fields::kThingFields, fields::Storage::Bytes),
              (1u << static_cast<int>(ThingField::data)) |
                  (1u << static_cast<int>(ThingField::thumbnailData)) |
                  (1u << static_cast<int>(ThingField::iconData)));
}

}  // namespace
}  // namespace tavro::model
