// SPDX-License-Identifier: MIT
#include "cli/ServerCommands.h"

#include <charconv>
#include <optional>

#include "cli/CommandLine.h"
#include "mirror/Connection.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerSchema.h"

namespace tavro::cli {

namespace {

using mirror::Connection;

// The optional SERVICE after `count` required arguments.
std::string serviceArgument(const std::vector<std::string>& args, size_t count,
                            const std::string& command) {
    if (args.size() > count + 1) {
        throw UsageError("unexpected argument '" + args[count + 1] + "' for server " + command);
    }
    return args.size() == count + 1 ? args[count] : std::string();
}

int init(const std::vector<std::string>& args, std::ostream& out) {
    Connection connection = Connection::open(serviceArgument(args, 0, "init"));
    mirror::SchemaUpgrade upgrade = mirror::installServerSchema(connection);
    if (upgrade.from == upgrade.to) {
        out << "The sync server\u2019s database is up to date (server schema " << upgrade.to
            << ").\n";
    } else if (upgrade.from == 0) {
        out << "The sync server\u2019s database is set up (server schema " << upgrade.to << ").\n";
    } else {
        out << "The sync server\u2019s database is upgraded from server schema " << upgrade.from
            << " to " << upgrade.to << ".\n";
    }
    return 0;
}

int addAccount(std::vector<std::string> args, std::istream& in, std::ostream& out,
               std::ostream& err) {
    bool passwordFromInput = false;
    if (!args.empty() && args.front() == "--password-stdin") {
        passwordFromInput = true;
        args.erase(args.begin());
    }
    if (args.empty() || args.front().starts_with('-')) {
        throw UsageError("server add-account needs an account NAME");
    }
    std::string service = serviceArgument(args, 1, "add-account");
    std::optional<std::string> password;
    if (passwordFromInput) {
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            throw CommandError("no password on standard input");
        }
        password = line;
    }
    Connection connection = Connection::open(service);
    mirror::AddedAccount added = mirror::addAccount(connection, args[0], password);
    out << added.recordName << "\n";
    if (!added.created) {
        err << "tavro: \u201c" << args[0] << "\u201d already had this account.\n";
    } else if (!password) {
        err << "tavro: the role \u201c" << args[0]
            << "\u201d has no password; give it one with --password-stdin, or let it sign in "
               "another way the server allows.\n";
    }
    return 0;
}

int expireTombstones(const std::vector<std::string>& args, std::ostream& out) {
    if (args.empty()) {
        throw UsageError("server expire-tombstones needs a number of DAYS");
    }
    int days = -1;
    const std::string& text = args[0];
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    if (error != std::errc() || end != text.data() + text.size() || days < 0) {
        throw UsageError("'" + text + "' is not a number of days");
    }
    Connection connection = Connection::open(serviceArgument(args, 1, "expire-tombstones"));
    mirror::Result removed =
        connection.query("SELECT tavro.expire_tombstones(make_interval(days => $1))",
                         {mirror::Param::integer(days)});
    out << removed.integer(0, 0) << " deletes older than " << days << " days forgotten.\n";
    return 0;
}

}  // namespace

int runServerCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
    if (args.empty()) {
        throw UsageError("server needs a command: init, add-account or expire-tombstones");
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "init") {
        return init(rest, out);
    }
    if (args[0] == "add-account") {
        return addAccount(rest, in, out, err);
    }
    if (args[0] == "expire-tombstones") {
        return expireTombstones(rest, out);
    }
    throw UsageError("unknown server command '" + args[0] + "'");
}

}  // namespace tavro::cli
