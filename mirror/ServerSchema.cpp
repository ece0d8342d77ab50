// SPDX-License-Identifier: MIT
#include "mirror/ServerSchema.h"

#include <span>
#include <string>
#include <string_view>

#include "mirror/ServerError.h"

namespace tavro::mirror {

// The SQL of mirror/sql/, step 1 first, compiled in by the build (ServerSchemaSteps.cpp).
std::span<const std::string_view> serverSchemaSteps();

namespace {

// Every run of `tavro server init` on a database takes this lock for its transaction, so two
// administrators upgrading at once take turns instead of applying a step twice.
constexpr const char* kLockStatement =
    "SELECT pg_advisory_xact_lock(hashtext('tavro.server_schema'))";

[[noreturn]] void throwTooNew(int found) {
    throw ServerError(ServerFailure::SchemaTooNew,
                      "The sync server\u2019s database was set up by a newer version of Tavro "
                      "(server schema " +
                          std::to_string(found) + "; this version knows up to " +
                          std::to_string(knownServerSchemaVersion()) + "). Update Tavro.");
}

}  // namespace

int knownServerSchemaVersion() {
    return static_cast<int>(serverSchemaSteps().size());
}

int installedServerSchemaVersion(Connection& connection) {
    Result exists = connection.exec("SELECT to_regclass('tavro.server_schema') IS NOT NULL");
    if (!exists.boolean(0, 0)) {
        return 0;
    }
    Result version = connection.exec("SELECT version FROM tavro.server_schema");
    return version.rows() == 0 ? 0 : static_cast<int>(version.integer(0, 0));
}

SchemaUpgrade installServerSchema(Connection& connection) {
    auto steps = serverSchemaSteps();
    SchemaUpgrade upgrade;
    bool first = true;
    for (;;) {
        bool done = inTransaction(connection, [&] {
            connection.exec(kLockStatement);
            int version = installedServerSchemaVersion(connection);
            if (first) {
                upgrade.from = version;
                first = false;
            }
            upgrade.to = version;
            if (version > static_cast<int>(steps.size())) {
                throwTooNew(version);
            }
            if (version == static_cast<int>(steps.size())) {
                return true;
            }
            connection.exec(std::string(steps[static_cast<size_t>(version)]));
            connection.query(
                "INSERT INTO tavro.server_schema (singleton, version) VALUES (true, $1) "
                "ON CONFLICT (singleton) DO UPDATE SET version = excluded.version",
                {Param::integer(version + 1)});
            upgrade.to = version + 1;
            return false;
        });
        if (done) {
            return upgrade;
        }
    }
}

void requireInstalledServerSchema(Connection& connection) {
    int version = installedServerSchemaVersion(connection);
    if (version == 0) {
        throw ServerError(ServerFailure::SchemaMissing,
                          "The sync server\u2019s database isn\u2019t set up for Tavro; set it up "
                          "with \u201ctavro server init\u201d first.");
    }
    if (version > knownServerSchemaVersion()) {
        throwTooNew(version);
    }
}

void requireKnownServerSchema(Connection& connection) {
    Result version = connection.exec("SELECT tavro.schema_version()");
    if (version.isNull(0, 0)) {
        throw ServerError(ServerFailure::SchemaMissing,
                          "The sync server\u2019s database isn\u2019t set up for Tavro; an "
                          "administrator sets it up with \u201ctavro server init\u201d.");
    }
    int found = static_cast<int>(version.integer(0, 0));
    if (found > knownServerSchemaVersion()) {
        throwTooNew(found);
    }
}

}  // namespace tavro::mirror
