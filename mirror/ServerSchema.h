// SPDX-License-Identifier: MIT
#pragma once
// The account database on a sync server: its tables and functions are the SQL steps kept in
// mirror/sql/, applied in order. The server records which steps it holds as one number, its
// server schema version; this program knows kServerSchemaVersion of them.
//
// Installing and upgrading is done by an administrator (`tavro server init`); a machine only
// checks that the server's version is one it knows.

#include "mirror/Connection.h"

namespace tavro::mirror {

// The server schema version this program installs and understands.
int knownServerSchemaVersion();

struct SchemaUpgrade {
    int from = 0;  // 0: the database held no Tavro schema
    int to = 0;
};

// Brings the connected database to knownServerSchemaVersion(), one step per transaction, so an
// interrupted run leaves the schema at a step and the next run carries on. Several runs at once
// take turns. Running it again changes nothing. A database whose version is newer than this
// program knows is left untouched: ServerError SchemaTooNew.
SchemaUpgrade installServerSchema(Connection& connection);

// The version the database holds, 0 for none; read as an administrator (from the tables).
int installedServerSchemaVersion(Connection& connection);

// The same check as an administrator, from the tables: the schema must be installed and known.
void requireInstalledServerSchema(Connection& connection);

// What a machine asks of its server (through the granted function): the server's version must
// be known to this program. ServerError SchemaMissing or SchemaTooNew otherwise.
void requireKnownServerSchema(Connection& connection);

}  // namespace tavro::mirror
