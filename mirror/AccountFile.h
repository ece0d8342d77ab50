// SPDX-License-Identifier: MIT
#pragma once
// Signing a machine in to an account on a sync server, and out again. Signed in, the cloud
// account file (<config home>/tavro/cloud-account.json, read by platform/CloudAccount.h) says
//   {"status":"available","userRecordName":"<the server's record name>","service":"<service>"}
// The service is the text the user named the server by; the password, host and TLS settings
// it resolves to stay in libpq's own files (~/.pg_service.conf, ~/.pgpass), so a service
// text that carries a password is refused rather than written down.

#include <optional>
#include <string>

#include "platform/Env.h"

namespace tavro::mirror {

struct SignedIn {
    std::string recordName;
    std::string service;
};

// Connects to `service`, asks the server for the account's record name and writes the account
// file, private to the user (0600 in a 0700 folder), atomically. ServerError when the server
// cannot be reached, refuses the credentials, has no account for the role, or holds a schema
// newer than this program knows; nothing is written then. platform::Error when the file
// cannot be written.
SignedIn signIn(const std::string& service, const platform::Env& env = platform::Env::real());

// Removes the account file. Answers whether there was one.
bool signOut(const platform::Env& env = platform::Env::real());

// What `tavro account status` reports.
struct AccountState {
    bool signedIn = false;
    std::string recordName;              // from the file
    std::optional<std::string> service;  // none: a local library, nothing mirrored
    // With a service: whether the server answered for this account, and if not, why.
    bool reachable = false;
    std::string problem;
};

// Reads the account file and, when it names a server, asks the server who this is. Never
// throws for the server's sake: what went wrong is in `problem`. A server that answers with
// another record name than the file's is a problem too. platform::Error for an unreadable file.
AccountState accountState(const platform::Env& env = platform::Env::real());

}  // namespace tavro::mirror
