// SPDX-License-Identifier: MIT
// `tavro`: the host's command-line program. It loads libTavroApple with dlopen and binds the
// four exports by name, exactly as a host application does, and consumes the shared inbox.

#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/AccountCommands.h"
#include "cli/CommandLine.h"
#include "cli/ExchangeCommands.h"
#include "cli/HostLibrary.h"
#include "cli/InboxCommands.h"
#include "cli/ServerCommands.h"
#include "cli/SyncCommand.h"

namespace {

using tavro::cli::UsageError;

constexpr const char* kUsage =
    "usage: tavro [--library PATH] COMMAND\n"
    "       tavro --help | --version\n"
    "\n"
    "Commands:\n"
    "  group-path                 print the App Group container's path (status 1 when none)\n"
    "  cloud-available            print 1 when iCloud sync may be used, else 0 (status 1)\n"
    "  exchange [--pretty] [--known-from RESPONSE.json] REQUEST.json...\n"
    "                             run each request (\"-\" reads standard input) in this one\n"
    "                             process and print each response on a line of its own;\n"
    "                             --known-from sends back the fingerprints of an earlier\n"
    "                             response, so that unchanged things write no files\n"
    "  inbox list                 print the shared inbox's complete entries, oldest first,\n"
    "                             one JSON object per line\n"
    "  inbox remove ID            remove one entry (also fine when there is none)\n"
    "  account sign-in SERVICE    sign this machine in to its account on a sync server and\n"
    "                             write the cloud account file (SERVICE: a libpq service\n"
    "                             name or connection URI; passwords stay in ~/.pgpass)\n"
    "  account status             who is signed in, and whether the sync server answers\n"
    "  account sign-out           remove the cloud account file\n"
    "  sync [--pretty] REQUEST.json\n"
    "                             stay as a host until this process's sync has ended a push\n"
    "                             or a pull: exchange the request without its records until\n"
    "                             the status says so, and print that response\n"
    "  server init [SERVICE]      set up or upgrade a sync server's database (administrator)\n"
    "  server add-account [--password-stdin] NAME [SERVICE]\n"
    "                             create the login role NAME with an account and print the\n"
    "                             account's record name\n"
    "  server expire-tombstones DAYS [SERVICE]\n"
    "                             forget deletes older than DAYS days; machines away longer\n"
    "                             download the whole library again\n"
    "\n"
    "The library is PATH, else $TAVRO_LIBRARY, else libTavroApple.so.1 in the lib folder\n"
    "beside this program's bin folder, else as the system's loader finds it.\n"
    "\n"
    "Provisioning (read afresh at every call):\n"
    "  TAVRO_ENTITLEMENTS         the entitlements file (App Group, iCloud container,\n"
    "                             CloudKit); unset, it is this program's path followed by\n"
    "                             .entitlements, else PREFIX/share/tavro/tavro.entitlements\n"
    "  XDG_DATA_HOME, HOME        the App Group container is\n"
    "                             DATA_HOME/group-containers/GROUP (DATA_HOME defaults to\n"
    "                             ~/.local/share)\n"
    "  XDG_CONFIG_HOME, HOME      the cloud account file is\n"
    "                             CONFIG_HOME/tavro/cloud-account.json (CONFIG_HOME defaults\n"
    "                             to ~/.config); without it nobody is signed in\n"
    "  TAVRO_DISABLE_CLOUDKIT     set to anything: iCloud sync may not be used\n"
    "  TAVRO_CLOUDKIT_ENABLED     \"no\": iCloud sync may not be used\n"
    "  TAVRO_LIBRARY              the library to load, as --library\n"
    "  PGSERVICEFILE, PGPASSFILE, PG...\n"
    "                             libpq's own files and defaults, for the sync server\n"
    "                             (~/.pg_service.conf, ~/.pgpass; without SERVICE, the PG*\n"
    "                             variables name the server)\n"
    "\n"
    "Exit status: 0 on success; 1 when a command fails (a failed exchange prints its\n"
    "envelope's error on standard error); 2 for a command line tavro does not understand.\n"
    "See tavro(1).\n";

// Global options come before the command; the command's own options follow it.
struct CommandLine {
    std::string libraryPath;
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> args;
};

CommandLine parse(const std::vector<std::string>& args) {
    CommandLine line;
    size_t i = 0;
    for (; i < args.size() && args[i].starts_with('-'); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--library") {
            if (i + 1 == args.size()) {
                throw UsageError("option '--library' needs a path");
            }
            line.libraryPath = args[++i];
        } else if (arg.starts_with("--library=")) {
            line.libraryPath = arg.substr(std::string("--library=").size());
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }
    if (i < args.size()) {
        line.command = args[i];
        line.args.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    }
    return line;
}

int run(const std::vector<std::string>& arguments) {
    CommandLine line = parse(arguments);
    if (line.help || line.command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (line.version) {
        std::cout << "tavro " << TAVRO_VERSION << "\n";
        return 0;
    }
    if (line.command.empty()) {
        throw UsageError("no command given");
    }
    if (line.command == "inbox") {
        return tavro::cli::runInboxCommand(line.args, std::cout, std::cerr);
    }
    if (line.command == "account") {
        return tavro::cli::runAccountCommand(line.args, std::cout);
    }
    if (line.command == "server") {
        return tavro::cli::runServerCommand(line.args, std::cin, std::cout, std::cerr);
    }
    if (line.command != "group-path" && line.command != "cloud-available" &&
        line.command != "exchange" && line.command != "sync") {
        throw UsageError("unknown command '" + line.command + "'");
    }
    if (line.command != "exchange" && line.command != "sync" && !line.args.empty()) {
        throw UsageError("unexpected argument '" + line.args.front() + "' for " + line.command);
    }
    std::string libraryPath =
        line.libraryPath.empty() ? tavro::cli::HostLibrary::defaultPath() : line.libraryPath;
    tavro::cli::HostLibrary library(libraryPath);
    if (line.command == "group-path") {
        return tavro::cli::runGroupPath(library, std::cout);
    }
    if (line.command == "cloud-available") {
        return tavro::cli::runCloudAvailable(library, std::cout);
    }
    if (line.command == "sync") {
        return tavro::cli::runSync(library, line.args, std::cout, std::cerr);
    }
    return tavro::cli::runExchange(library, line.args, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
    // Whatever fails is reported in one line and a status; nothing ends the program with an
    // uncaught exception.
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "tavro: " << error.what() << "\n"
                  << "Try 'tavro --help' for more information.\n";
        return 2;
    } catch (const std::bad_alloc&) {
        std::cerr << "tavro: out of memory\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "tavro: " << error.what() << "\n";
        return 1;
    } catch (...) {
        std::cerr << "tavro: an unexpected error occurred\n";
        return 1;
    }
}
