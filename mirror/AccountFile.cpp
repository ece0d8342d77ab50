// SPDX-License-Identifier: MIT
#include "mirror/AccountFile.h"

#include "mirror/Connection.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerError.h"
#include "platform/CloudAccount.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/JsonWriter.h"
#include "platform/Paths.h"

namespace tavro::mirror {

namespace {

std::string accountPath(const platform::Env& env) {
    auto path = env.cloudAccountPath();
    if (!path) {
        platform::throwError(platform::kCocoaErrorDomain, 4,
                             "The cloud account file has no place: neither XDG_CONFIG_HOME nor "
                             "HOME is an absolute path.");
    }
    return *path;
}

}  // namespace

SignedIn signIn(const std::string& service, const platform::Env& env) {
    if (Connection::namesPassword(service)) {
        throw ServerError(ServerFailure::PasswordInService,
                          "The service names a password, which would be written into the "
                          "account file; keep it in ~/.pgpass (or a service in "
                          "~/.pg_service.conf) and sign in without it.");
    }
    std::string path = accountPath(env);
    Connection connection = Connection::open(service);
    SignedIn signedIn{accountRecordName(connection), service};

    std::string text;
    platform::json::Writer writer(text, platform::json::Writer::Style::Indented);
    writer.beginObject()
        .key("status")
        .string("available")
        .key("userRecordName")
        .string(signedIn.recordName)
        .key("service")
        .string(service)
        .endObject();
    text += '\n';
    platform::FileSystem& files = platform::FileSystem::real();
    files.createDirectories(platform::paths::parent(path));
    files.writeFileAtomically(path, text);
    return signedIn;
}

bool signOut(const platform::Env& env) {
    std::string path = accountPath(env);
    platform::FileSystem& files = platform::FileSystem::real();
    if (!files.exists(path)) {
        return false;
    }
    files.removeAll(path);
    return true;
}

AccountState accountState(const platform::Env& env) {
    AccountState state;
    if (platform::cloudAccountStatus(env) != platform::AccountStatus::Available) {
        return state;
    }
    state.signedIn = true;
    state.recordName = platform::cloudUserRecordName(env);
    state.service = platform::cloudAccountService(env);
    if (!state.service) {
        return state;
    }
    try {
        Connection connection = Connection::open(*state.service);
        std::string serverName = accountRecordName(connection);
        if (serverName != state.recordName) {
            state.problem = "The sync server knows this role as account \u201c" + serverName +
                            "\u201d, not \u201c" + state.recordName +
                            "\u201d; sign out and sign in again to switch accounts.";
            return state;
        }
        state.reachable = true;
    } catch (const ServerError& error) {
        state.problem = error.what();
    }
    return state;
}

}  // namespace tavro::mirror
