#pragma once
// `tavro inbox ...`: the host's side of the shared inbox, for host developers and scripts.
//   inbox list        the complete entries, oldest first, one compact JSON object per line:
//                     the entry's record plus "payloadPath" (absolute) when it names a file
//   inbox remove ID   deletes that entry folder; succeeds also when there is none

#include <ostream>
#include <string>
#include <vector>

namespace tavro::cli {

// `args` start after "inbox". Returns the process exit status: 0 on success, 2 for a usage
// error (explained on `err`).
int runInboxCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavro::cli
