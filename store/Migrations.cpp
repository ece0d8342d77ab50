// SPDX-License-Identifier: MIT
#include "store/Migrations.h"

#include <algorithm>

#include "platform/Error.h"
#include "platform/Paths.h"

namespace tavro::store::migrations {

namespace {

// The platform's "incompatible version" error of persistent stores.
[[noreturn]] void refuseNewer(const std::string& path, int found, int known) {
    platform::throwError(platform::kCocoaErrorDomain, 134100,
                         "The library store \u201c" + platform::paths::lastComponent(path) +
                             "\u201d was made by a newer version of Tavro (layout " +
                             std::to_string(found) +
                             ") and cannot be opened by this one, which knows layouts up to " +
                             std::to_string(known) + ".",
                         path);
}

[[noreturn]] void stepFailed(const std::string& path, const Step& step,
                             const std::exception& cause) {
    platform::throwError(platform::kCocoaErrorDomain, 134110,
                         "The library store \u201c" + platform::paths::lastComponent(path) +
                             "\u201d could not be brought up to date (" + step.what +
                             "): " + cause.what(),
                         path);
}

// Runs one step in its own write transaction, unless another process has done it meanwhile.
void applyStep(sqlite::Database& db, const std::string& path, const Step& step) {
    db.execute("BEGIN IMMEDIATE");
    try {
        if (recordedLayout(db) < step.to) {
            step.apply(db);
            recordLayout(db, step.to);
        }
        db.execute("COMMIT");
    } catch (const std::exception& error) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        stepFailed(path, step, error);
    }
}

}  // namespace

// Layout 2: what a mirrored store's saves changed, and what the mirror last saw of the
// server. Written out here as it was at layout 2; fresh stores get the same tables from
// store/RecordTables.cpp.
constexpr const char* kMirrorTables =
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
    ") WITHOUT ROWID;\n";

const std::vector<Step>& steps() {
    // Layout 1 is the first one stores were made with.
    static const std::vector<Step> all{
        {2, "adding the mirror's outbox", [](sqlite::Database& db) { db.execute(kMirrorTables); }},
    };
    return all;
}

int recordedLayout(sqlite::Database& db) {
    auto statement = db.prepare("SELECT value FROM StoreMetadata WHERE key = 'layout'");
    if (!statement.step()) {
        return kFirstLayout;
    }
    return static_cast<int>(statement.integer(0));
}

void recordLayout(sqlite::Database& db, int layout) {
    auto statement =
        db.prepare("INSERT OR REPLACE INTO StoreMetadata (key, value) VALUES ('layout', ?1)");
    statement.bind(1, int64_t{layout});
    statement.run();
}

void upgrade(sqlite::Database& db, const std::string& path, const std::vector<Step>& steps) {
    int known = std::max(kCurrentLayout, steps.empty() ? kFirstLayout : steps.back().to);
    int found = recordedLayout(db);
    if (found > known) {
        refuseNewer(path, found, known);
    }
    for (const Step& step : steps) {
        if (step.to > found) {
            applyStep(db, path, step);
        }
    }
}

}  // namespace tavro::store::migrations
