// SPDX-License-Identifier: MIT
#pragma once
// Accounts on a sync server. An account is a login role of the server that belongs to the
// group role tavro_client, plus its row, which holds the record name the server issued to it:
// `_` followed by 32 random hexadecimal digits, the same for as long as the account exists.
// The library on every machine signed in to the account is pinned to that name.

#include <optional>
#include <string>

#include "mirror/Connection.h"

namespace tavro::mirror {

struct AddedAccount {
    std::string recordName;
    bool created = false;  // false: the role was an account already and keeps its name
};

// As an administrator: creates the login role `role` when missing (with `password`, sent as
// the server's verifier, or without one for roles that sign in otherwise), makes it a member of
// tavro_client and gives it an account. For a role that is already an account it answers the
// record name it has (and sets the password when one is given). Needs the server schema to be
// installed and known.
AddedAccount addAccount(Connection& connection, const std::string& role,
                        const std::optional<std::string>& password);

// As a machine: the record name of the connected role's account. Checks that the server's
// schema is known first. ServerError NotAnAccount, SchemaMissing or SchemaTooNew otherwise.
std::string accountRecordName(Connection& connection);

}  // namespace tavro::mirror
