#pragma once
// The `tavro` subcommands that go through the library's exports: group-path, cloud-available
// and exchange. Each answers the process's exit status.

#include <ostream>
#include <string>
#include <vector>

namespace tavro::cli {

class HostLibrary;

int runGroupPath(HostLibrary& library, std::ostream& out);
int runCloudAvailable(HostLibrary& library, std::ostream& out);

// `exchange REQUEST.json [--pretty]` ("-" reads standard input). Prints the response; an error
// envelope goes to `err` with a non-zero status.
int runExchange(HostLibrary& library, const std::vector<std::string>& args, std::ostream& out,
                std::ostream& err);

}  // namespace tavro::cli
