// SPDX-License-Identifier: MIT
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

// `exchange [--pretty] [--known-from RESPONSE.json] REQUEST.json...` ("-" reads standard
// input). Prints each response; an error envelope's text goes to `err` and the status is 1.
// Throws UsageError for options it does not know and CommandError for a file it cannot read
// or use (see cli/CommandLine.h).
int runExchange(HostLibrary& library, const std::vector<std::string>& args, std::ostream& out,
                std::ostream& err);

}  // namespace tavro::cli
