// SPDX-License-Identifier: MIT
#pragma once
// `tavro sync [--pretty] REQUEST.json`: one sync round of a request's store, waited for, then
// the exchange a host makes next. A host's sync thread lives only as long as its process, so a
// short-lived `tavro exchange` may end before its saves reach the server; this command is the
// way to know they did, and what the other machines pushed has arrived:
//   1. runs one round of the request's store with the signed-in account's sync server in this
//      process (push what earlier exchanges saved, pull the others' changes) and waits for it;
//   2. then, as a host, exchanges the request without its records (it saves nothing) and
//      again until the library's own sync thread has ended its first round, and prints that
//      response: "iCloud enabled" with a "lastSync", or the failure the status names.

#include <ostream>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace tavro::cli {

class HostLibrary;

// `args` start after "sync". Returns the exit status: 0, or 1 when the sync failed or the
// status still named no finished round after kSettleTimeout. Throws UsageError for a command
// line it does not understand, CommandError for a request it cannot use, and
// mirror::ServerError / platform::Error when the round fails.
int runSync(HostLibrary& library, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, const platform::Env& env = platform::Env::real());

// The request without its records, keeping the store, the folder and the version: what a
// host sends to read the library back without saving anything. Throws CommandError
// "SOURCE: reason" for a request that is not a JSON object with a "storePath".
struct ReadBack {
    std::string storePath;
    std::string request;
};
ReadBack readBackRequest(const std::string& request, const std::string& source);

// What a response's status says of the library's sync thread: still to end its first round,
// ended it, or failed ("iCloud: …").
enum class SyncProgress { Running, Synced, Failed };
SyncProgress syncProgress(const std::string& response);

}  // namespace tavro::cli
