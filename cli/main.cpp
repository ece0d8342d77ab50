// `tavro`: the host's command-line program.

#include <iostream>
#include <string>
#include <vector>

#include "cli/InboxCommands.h"

namespace {

int printUsage() {
    std::cerr << "usage: tavro inbox list\n"
                 "       tavro inbox remove ID\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return printUsage();
    std::string command = args.front();
    args.erase(args.begin());
    if (command == "inbox")
        return tavro::cli::runInboxCommand(args, std::cout, std::cerr);
    return printUsage();
}
