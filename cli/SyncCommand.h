// SPDX-License-Identifier: MIT
#pragma once
// `tavro sync [--pretty] REQUEST.json`: a host that stays until its sync has run. A host's
// sync thread lives only as long as its process, so a short-lived `tavro exchange` may end
// before its saves reach the server (the outbox keeps them for the next round); this command
// is the way for a script to know they did, and that what other machines pushed has arrived.
// It exchanges the request without its records (it saves nothing), which starts the library's
// sync thread in this process, and again until the status says the thread's first round has
// ended a push or a pull, and prints that response: "iCloud enabled" with a "lastSync", or the
// failure the status names. The round pushes first, so what earlier exchanges saved is then on
// the server; it pulls after, at once when there is nothing to push.

#include <ostream>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace tavro::cli {

class HostLibrary;

// `args` start after "sync". Returns the exit status: 0, or 1 when the exchange or the sync
// failed, or no round ended within a minute. Throws UsageError for a command line it does not
// understand, CommandError for a request it cannot use or an account without a sync server.
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
