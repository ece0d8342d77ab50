// SPDX-License-Identifier: MIT
// Setting up a server's account database: `tavro server init` may be run any number of times,
// by several administrators at once, and never touches a database set up by a newer Tavro;
// machines are told plainly when their server's schema is missing or newer than they know.

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "ServerFixture.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerError.h"
#include "mirror/ServerSchema.h"

namespace tavro::test {
namespace {

using mirror::ServerError;
using mirror::ServerFailure;

class BareServerTest : public ServerFixture {
  protected:
    bool installsSchema() const override { return false; }
};

TEST_F(BareServerTest, InitInstallsOnceHoweverOftenAndConcurrentlyItRuns) {
    int known = mirror::knownServerSchemaVersion();
    mirror::SchemaUpgrade first;
    mirror::SchemaUpgrade second;
    // Two administrators at once: one installs, the other waits and finds it done.
    std::thread other([&] {
        mirror::Connection connection = admin();
        second = mirror::installServerSchema(connection);
    });
    {
        mirror::Connection connection = admin();
        first = mirror::installServerSchema(connection);
    }
    other.join();
    EXPECT_EQ(first.to, known);
    EXPECT_EQ(second.to, known);
    EXPECT_EQ((first.from == 0) + (second.from == 0), 1) << "exactly one run installed";

    mirror::Connection connection = admin();
    mirror::SchemaUpgrade again = mirror::installServerSchema(connection);
    EXPECT_EQ(again.from, known);
    EXPECT_EQ(again.to, known);
    EXPECT_EQ(mirror::installedServerSchemaVersion(connection), known);
}

TEST_F(BareServerTest, AMachineOfAServerNeverSetUpIsToldToRunInit) {
    std::string role = addPlainRole("early");
    mirror::Connection machine = connectAs(role);
    try {
        mirror::accountRecordName(machine);
        FAIL() << "a database without the schema answered";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::SchemaMissing) << error.what();
        EXPECT_NE(std::string(error.what()).find("tavro server init"), std::string::npos);
    }
    // Nor can an account be added before it is set up.
    mirror::Connection connection = admin();
    EXPECT_THROW(mirror::addAccount(connection, "t_never", std::nullopt), ServerError);
}

TEST_F(BareServerTest, TheServerCommandsSetUpAServerAndItsAccounts) {
    Outcome first = tavro("server init '" + adminService() + "'");
    ASSERT_EQ(first.status, 0) << first.err;
    Outcome again = tavro("server init '" + adminService() + "'");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("up to date"), std::string::npos) << again.out;

    Login login = newRole("carol");
    std::string add =
        "server add-account --password-stdin " + login.role + " '" + adminService() + "'";
    Outcome added = tavro(add, login.password + "\n");
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_TRUE(std::regex_match(added.out, std::regex("_[0-9a-f]{32}\n"))) << added.out;
    // Adding it again answers the same record name; the machine signs in with the password.
    Outcome repeated = tavro(add, login.password + "\n");
    EXPECT_EQ(repeated.out, added.out) << repeated.err;
    Outcome signIn = tavro("account sign-in '" + serviceFor(login.role) + "'");
    EXPECT_EQ(signIn.status, 0) << signIn.err;
    EXPECT_NE(signIn.out.find(added.out.substr(0, 33)), std::string::npos) << signIn.out;
}

class ServerSchemaTest : public ServerFixture {};

TEST_F(ServerSchemaTest, ANewerSchemaIsRefusedAndLeftAsItIs) {
    std::string role = addAccount("alice");
    int newer = mirror::knownServerSchemaVersion() + 1;
    mirror::Connection connection = admin();
    connection.exec("UPDATE tavro.server_schema SET version = " + std::to_string(newer));

    try {
        mirror::installServerSchema(connection);
        FAIL() << "init went on over a newer schema";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::SchemaTooNew);
        EXPECT_NE(std::string(error.what()).find("newer version of Tavro"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(mirror::installedServerSchemaVersion(connection), newer);

    mirror::Connection machine = connectAs(role);
    try {
        mirror::accountRecordName(machine);
        FAIL() << "a machine accepted a schema newer than it knows";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::SchemaTooNew) << error.what();
    }
    EXPECT_THROW(mirror::addAccount(connection, "t_late", std::nullopt), ServerError);
}

}  // namespace
}  // namespace tavro::test
