// SPDX-License-Identifier: MIT
#include "store/RecordTables.h"

namespace tavro::store::tables {

namespace {

using model::fields::Storage;

// The clock expression SQLite evaluates for a timestamp default: seconds since 1970.
constexpr std::string_view kNow = "((julianday('now') - 2440587.5) * 86400.0)";

// The SQL type and default of each column of a field.
struct ColumnType {
    std::string_view type;
    std::string_view defaultValue;
};

template <typename Entry>
std::array<ColumnType, 2> columnTypes(const Entry& entry) {
    switch (entry.storage) {
        case Storage::Uuid:
            return {{{"BLOB", "(randomblob(16))"}}};
        case Storage::Text:
            return {{{"TEXT", entry.sqlDefault}}};
        case Storage::Integer:
        case Storage::Boolean:
            return {{{"INTEGER", entry.sqlDefault}}};
        case Storage::Real:
            return {{{"REAL", entry.sqlDefault}}};
        case Storage::Time:
            return {{{"REAL", kNow}}};
        case Storage::OptionalTime:
            return {{{"REAL", "NULL"}}};
        case Storage::Bytes:
            return {{{"TEXT", "NULL"}, {"INTEGER", "NULL"}}};
        case Storage::ToOne:
            return {{{"INTEGER", "NULL"}}};
        case Storage::ToMany:
            return {};
    }
    return {};
}

template <typename Record>
void appendTable(std::string& out) {
    out.append("CREATE TABLE ").append(tableName<Record>()).append(" (\n");
    out.append("    id INTEGER PRIMARY KEY AUTOINCREMENT");
    model::fields::forEach(fieldsOf<Record>(), [&](const auto& entry) {
        if constexpr (!model::fields::kIsInverse<decltype(entry)>) {
            auto types = columnTypes(entry);
            for (size_t i = 0; i < entry.columns.size(); ++i) {
                if (!entry.columns[i].empty()) {
                    out.append(",\n    ").append(entry.columns[i]).append(" ");
                    out.append(types[i].type).append(" DEFAULT ").append(types[i].defaultValue);
                }
            }
        }
    });
    out.append("\n);\n");
}

// One partial index per byte field on its digest column, named after the field's exchange key
// (ThingDataBlob, ThingThumbnailBlob, ...).
void appendBlobIndexes(std::string& out) {
    model::fields::forEach(model::fields::kThingFields, [&](const auto& entry) {
        if (entry.storage != Storage::Bytes) {
            return;
        }
        std::string name(entry.key);
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        std::string column(entry.columns[0]);
        out.append("CREATE INDEX Thing").append(name).append("Blob ON Thing(").append(column);
        out.append(") WHERE ").append(column).append(" IS NOT NULL;\n");
    });
}

}  // namespace

std::string createStatements() {
    std::string out = "\n";
    appendTable<model::Thing>(out);
    appendTable<model::Tag>(out);
    appendTable<model::Project>(out);
    out.append(
        "CREATE TABLE ThingTags (\n"
        "    thing INTEGER NOT NULL,\n"
        "    position INTEGER NOT NULL,\n"
        "    tag INTEGER NOT NULL,\n"
        "    PRIMARY KEY (thing, position)\n"
        ") WITHOUT ROWID;\n");
    appendBlobIndexes(out);
    out.append("CREATE TABLE StoreMetadata (key TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;\n");
    // What a mirrored store's saves changed, one row per record (its latest change, numbered
    // by `change`, never reused), and the server's version of each record as last seen.
    out.append(
        "CREATE TABLE Outbox (\n"
        "    change INTEGER PRIMARY KEY AUTOINCREMENT,\n"
        "    type INTEGER NOT NULL,\n"
        "    row INTEGER NOT NULL,\n"
        "    uuid BLOB NOT NULL,\n"
        "    deleted INTEGER NOT NULL,\n"
        "    UNIQUE (type, row)\n"
        ");\n"
        "CREATE TABLE MirrorRecords (\n"
        "    type INTEGER NOT NULL,\n"
        "    row INTEGER NOT NULL,\n"
        "    version INTEGER NOT NULL,\n"
        "    PRIMARY KEY (type, row)\n"
        ") WITHOUT ROWID;\n");
    return out;
}

}  // namespace tavro::store::tables
