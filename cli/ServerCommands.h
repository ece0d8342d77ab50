// SPDX-License-Identifier: MIT
#pragma once
// `tavro server ...`: an administrator's commands for a sync server (see mirror/).
//   server init [SERVICE]                         install or upgrade the account database
//   server add-account [--password-stdin] NAME [SERVICE]
//                                                 create the login role NAME and its account,
//                                                 and print the account's record name
//   server expire-tombstones DAYS [SERVICE]       forget deletes older than DAYS days
// SERVICE is a libpq service name or connection URI; without it libpq's defaults (the PG*
// environment variables) are used.

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace tavro::cli {

// `args` start after "server". Returns the exit status; throws UsageError for a command line
// it does not understand and mirror::ServerError when the server fails.
int runServerCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err);

}  // namespace tavro::cli
