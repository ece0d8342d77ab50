// `tavro`: the host's command-line program. It loads libTavroApple with dlopen and binds the
// four exports by name, exactly as a host application does, and consumes the shared inbox.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/ExchangeCommands.h"
#include "cli/HostLibrary.h"
#include "cli/InboxCommands.h"

namespace {

constexpr const char* kUsage =
    "usage: tavro [--library PATH] COMMAND\n"
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
    "\n"
    "The library is PATH, else $TAVRO_LIBRARY, else libTavroApple.so.1 as the loader finds it.\n"
    "A failed exchange prints its envelope's error on standard error and ends with status 1.\n";

int usage(int status) {
    (status == 0 ? std::cout : std::cerr) << kUsage;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string libraryPath = tavro::cli::HostLibrary::defaultPath();
    if (args.size() >= 2 && args[0] == "--library") {
        libraryPath = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        return usage(2);
    }
    std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        return usage(0);
    }
    if (command == "inbox") {
        return tavro::cli::runInboxCommand(args, std::cout, std::cerr);
    }
    if (command != "group-path" && command != "cloud-available" && command != "exchange") {
        return usage(2);
    }
    std::unique_ptr<tavro::cli::HostLibrary> library;
    try {
        library = std::make_unique<tavro::cli::HostLibrary>(libraryPath);
    } catch (const std::exception& error) {
        std::cerr << "tavro: " << error.what() << "\n";
        return 1;
    }
    if (command == "group-path") {
        return tavro::cli::runGroupPath(*library, std::cout);
    }
    if (command == "cloud-available") {
        return tavro::cli::runCloudAvailable(*library, std::cout);
    }
    return tavro::cli::runExchange(*library, args, std::cout, std::cerr);
}
