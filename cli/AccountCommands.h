// SPDX-License-Identifier: MIT
#pragma once
// `tavro account ...`: signing this machine in to an account on a sync server.
//   account sign-in SERVICE   ask the server for the account's record name and write the
//                             cloud account file with it and SERVICE
//   account status            who is signed in, and whether the server answers for them
//   account sign-out          remove the cloud account file

#include <ostream>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace tavro::cli {

// `args` start after "account". Returns the exit status: 0, or 1 when `status` finds nobody
// signed in or the server not answering. Throws UsageError for a command line it does not
// understand, mirror::ServerError when signing in fails.
int runAccountCommand(const std::vector<std::string>& args, std::ostream& out,
                      const platform::Env& env = platform::Env::real());

}  // namespace tavro::cli
