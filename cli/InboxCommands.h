// SPDX-License-Identifier: MIT
#pragma once
// `tavro inbox ...`: the host's side of the shared inbox, for host developers and scripts.
//   inbox list        the complete entries, oldest first, one compact JSON object per line:
//                     the entry's record plus "payloadPath" (absolute) when it names a file
//   inbox remove ID   deletes that entry folder; succeeds also when there is none

#include <ostream>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace tavro::cli {

// `args` start after "inbox". Returns the process exit status: 0 on success, 2 for a usage
// error (explained on `err`). The inbox is the one `env` provisions: the running process's
// own unless a test stands in for it.
int runInboxCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const platform::Env& env = platform::Env::real());

}  // namespace tavro::cli
