// SPDX-License-Identifier: MIT
#pragma once
// What can go wrong between a machine and its sync server, as one error type whose sentence
// names the real cause for the user ("The sync server can’t be reached (…)."). It is a
// platform::Error (domain kServerErrorDomain, code the failure), so that the mirror can hand
// it on wherever the library describes errors to the host.

#include <string>

#include "platform/Error.h"

namespace tavro::mirror {

inline constexpr const char* kServerErrorDomain = "TavroMirror.ServerError";

enum class ServerFailure : int64_t {
    Unreachable = 1,          // no connection, or it was lost
    WrongCredentials,         // the server refused the sign-in
    BadService,               // the service name or connection text names no server
    PasswordInService,        // a password written where it would be kept in our files
    NotAnAccount,             // the login role has no account on the server
    SchemaMissing,            // the database was never set up with `tavro server init`
    SchemaTooNew,             // set up by a newer Tavro than this one
    ResynchronisationNeeded,  // the changes after the machine's cursor are no longer kept
    ContentMissing,           // content not (or not completely) on the server
    Refused,                  // any other error the server reported
};

class ServerError : public platform::Error {
  public:
    // `detail` is for logs and tests (the server's own message); `sqlState` is the server's
    // five-character code, empty when the failure did not come from the server.
    ServerError(ServerFailure failure, std::string sentence, std::string detail = {},
                std::string sqlState = {});

    ServerFailure failure() const { return static_cast<ServerFailure>(value()->code); }
    const std::string& sqlState() const { return sqlState_; }

  private:
    std::string sqlState_;
};

}  // namespace tavro::mirror
