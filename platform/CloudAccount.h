#pragma once
// The signed-in cloud account, stood in for by <config home>/tavro/cloud-account.json with
// the members "status" and "userRecordName". Read afresh at every call.

#include <string>

#include "platform/Env.h"

namespace tavro::platform {

enum class AccountStatus { CouldNotDetermine, Available, Restricted, NoAccount, TemporarilyUnavailable };

// No file: NoAccount. An unreadable or unparsable file, or a status outside the five, throws
// an error that says so in a full sentence.
AccountStatus cloudAccountStatus(const Env& env = Env::real());

// The user record name of an available account. Throws when the file has none as text.
std::string cloudUserRecordName(const Env& env = Env::real());

}  // namespace tavro::platform
