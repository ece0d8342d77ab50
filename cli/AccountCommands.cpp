// SPDX-License-Identifier: MIT
#include "cli/AccountCommands.h"

#include "cli/CommandLine.h"
#include "mirror/AccountFile.h"

namespace tavro::cli {

namespace {

int signIn(const std::vector<std::string>& args, std::ostream& out, const platform::Env& env) {
    if (args.size() != 1) {
        throw UsageError(args.empty()
                             ? "account sign-in needs a SERVICE"
                             : "unexpected argument '" + args[1] + "' for account sign-in");
    }
    mirror::SignedIn signedIn = mirror::signIn(args[0], env);
    out << "Signed in to \u201c" << signedIn.service << "\u201d as " << signedIn.recordName
        << ".\n";
    return 0;
}

int status(std::ostream& out, const platform::Env& env) {
    mirror::AccountState state = mirror::accountState(env);
    if (!state.signedIn) {
        out << "Not signed in.\n";
        return 1;
    }
    if (!state.service) {
        out << "Signed in as " << state.recordName
            << ", without a sync server: the library stays on this machine.\n";
        return 0;
    }
    out << "Signed in to \u201c" << *state.service << "\u201d as " << state.recordName << ".\n";
    if (!state.reachable) {
        out << state.problem << "\n";
        return 1;
    }
    out << "The sync server answers for this account.\n";
    return 0;
}

}  // namespace

int runAccountCommand(const std::vector<std::string>& args, std::ostream& out,
                      const platform::Env& env) {
    if (args.empty()) {
        throw UsageError("account needs a command: sign-in, status or sign-out");
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "sign-in") {
        return signIn(rest, out, env);
    }
    if (!rest.empty()) {
        throw UsageError("unexpected argument '" + rest[0] + "' for account " + args[0]);
    }
    if (args[0] == "status") {
        return status(out, env);
    }
    if (args[0] == "sign-out") {
        out << (mirror::signOut(env) ? "Signed out.\n" : "Nobody was signed in.\n");
        return 0;
    }
    throw UsageError("unknown account command '" + args[0] + "'");
}

}  // namespace tavro::cli
