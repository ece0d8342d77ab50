// SPDX-License-Identifier: MIT
#pragma once
// A database of its own on the test server for each test, set up with the server schema, and
// accounts made in it as an administrator would (`tavro server add-account`), each a login
// role with a random password kept in a private pgpass file, as a user's would be.
//
// The server is the one libpq's PG* variables name (pg_virtualenv sets them). Without one the
// tests skip, unless TAVRO_TEST_PG is "required" (scripts/test), where that is a failure.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mirror/Connection.h"
#include "support/TempDir.h"

namespace tavro::test {

class ServerFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // false: the database is left without the server schema.
    virtual bool installsSchema() const { return true; }

    // A connection as the administrator, to this test's database.
    mirror::Connection admin();
    // Makes an account (a new login role, unique to this test) and answers its role name.
    std::string addAccount(const std::string& name);
    // A login role that is no account, with a password like the others.
    std::string addPlainRole(const std::string& name);
    // The service text a machine signs in with: this database as `role`, no password.
    std::string serviceFor(const std::string& role) const;
    mirror::Connection connectAs(const std::string& role) const;
    // The service text of this database as the administrator.
    std::string adminService() const { return "dbname=" + database_; }

    // `tavro ARGUMENTS` (a shell command line) with the config home in this test's folder and
    // `input` on standard input; the PG* variables and the pgpass file are the test's.
    struct Outcome {
        int status = -1;
        std::string out;
        std::string err;
    };
    Outcome tavro(const std::string& arguments, const std::string& input = {}) const;
    std::string configHome() const { return temp_.file("config"); }

    struct Login {
        std::string role;
        std::string password;
    };
    // A new role name unique to this test with a password in the pgpass file; the role is
    // dropped after the test if anything creates it.
    Login newRole(const std::string& name);

    TempDir temp_;

  private:
    std::string database_;
    std::string pgpass_;
    std::vector<std::string> roles_;
    bool ready_ = false;
};

}  // namespace tavro::test
