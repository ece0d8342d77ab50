// SPDX-License-Identifier: MIT
#pragma once
// The signed-in cloud account, stood in for by <config home>/tavro/cloud-account.json with
// the members "status" and "userRecordName", and "service" when the account syncs through a
// server (written by `tavro account sign-in`). Read afresh at every call.

#include <optional>
#include <string>

#include "platform/Env.h"

namespace tavro::platform {

enum class AccountStatus { CouldNotDetermine, Available, Restricted, NoAccount, TemporarilyUnavailable };

// No file: NoAccount. An unreadable or unparsable file, or a status outside the five, throws
// an error that says so in a full sentence.
AccountStatus cloudAccountStatus(const Env& env = Env::real());

// The user record name of an available account. Throws when the file has none as text.
std::string cloudUserRecordName(const Env& env = Env::real());

// The sync server the account file names ("service": a libpq service name or connection URI),
// or nothing when there is no file or it names none (a local library, nothing mirrored).
// Throws like cloudAccountStatus() for a file that cannot be read or parsed.
std::optional<std::string> cloudAccountService(const Env& env = Env::real());

}  // namespace tavro::platform
