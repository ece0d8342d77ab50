// SPDX-License-Identifier: MIT
#include "mirror/ServerAccounts.h"

#include "mirror/ServerError.h"
#include "mirror/ServerSchema.h"

namespace tavro::mirror {

namespace {

// Role names are the server's identifiers: at most 63 bytes, and "pg_" is reserved.
void checkRoleName(const std::string& role) {
    if (role.empty() || role.size() > 63 || role.starts_with("pg_") ||
        role.find('\0') != std::string::npos) {
        throw ServerError(ServerFailure::Refused,
                          "\u201c" + role +
                              "\u201d can\u2019t be an account name: it must have 1 to 63 bytes "
                              "and not begin with \u201cpg_\u201d.");
    }
}

}  // namespace

AddedAccount addAccount(Connection& connection, const std::string& role,
                        const std::optional<std::string>& password) {
    checkRoleName(role);
    return inTransaction(connection, [&] {
        requireInstalledServerSchema(connection);
        std::string quoted = connection.quoteIdentifier(role);
        bool roleExists =
            connection
                .query("SELECT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = $1)",
                       {Param::text(role)})
                .boolean(0, 0);
        // The verifier is computed here; only it reaches the server's SQL (and maybe its log).
        std::string passwordClause;
        if (password) {
            std::string verifier = connection.encryptPassword(role, *password);
            passwordClause = " PASSWORD " + connection.quoteLiteral(verifier);
        }
        if (!roleExists) {
            connection.exec("CREATE ROLE " + quoted + " LOGIN" + passwordClause);
        } else if (!passwordClause.empty()) {
            connection.exec("ALTER ROLE " + quoted + passwordClause);
        }
        connection.exec("GRANT tavro_client TO " + quoted);
        bool wasAccount =
            connection
                .query("SELECT EXISTS (SELECT FROM tavro.accounts WHERE role_name = $1)",
                       {Param::text(role)})
                .boolean(0, 0);
        Result added = connection.query("SELECT tavro.add_account($1)", {Param::text(role)});
        return AddedAccount{std::string(added.text(0, 0)), !wasAccount};
    });
}

std::string accountRecordName(Connection& connection) {
    requireKnownServerSchema(connection);
    Result name = connection.exec("SELECT tavro.whoami()");
    return std::string(name.text(0, 0));
}

}  // namespace tavro::mirror
