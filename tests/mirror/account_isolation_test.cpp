// SPDX-License-Identifier: MIT
// One account can neither read nor write another's rows, through any function granted to
// machines, and a machine holds no privilege on any table: it reaches its rows only through
// the functions, which find the account from the session's login role.

#include <gtest/gtest.h>

#include "ServerFixture.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerError.h"
#include "mirror/ServerRecords.h"
#include "platform/Sha256.h"

namespace tavro::test {
namespace {

using mirror::ServerError;
using mirror::ServerFailure;

constexpr const char* kThing = "6f1e2b1c-0000-4000-8000-00000000000a";

class AccountIsolationTest : public ServerFixture {};

TEST_F(AccountIsolationTest, NoFunctionReachesAnotherAccountsRows) {
    mirror::Connection alice = connectAs(addAccount("alice"));
    mirror::Connection bob = connectAs(addAccount("bob"));
    EXPECT_NE(mirror::accountRecordName(alice), mirror::accountRecordName(bob));

    std::string content = "alice's photo";
    std::string digest = platform::sha256Hex(content);
    ASSERT_TRUE(mirror::putChunk(alice, digest, 0, content));
    ASSERT_TRUE(mirror::finishContent(alice, digest, 1));
    ASSERT_TRUE(
        mirror::pushRecord(alice, "Thing", kThing, 0, R"({"title":"A"})", {digest}).applied);

    // Reading: bob sees none of it.
    EXPECT_TRUE(mirror::changesSince(bob, 0).empty());
    EXPECT_FALSE(mirror::hasContent(bob, digest));
    EXPECT_THROW(mirror::getChunk(bob, digest, 0), ServerError);
    // Nor can he reference alice's content from a record of his.
    EXPECT_THROW(mirror::pushRecord(bob, "Thing", kThing, 0, "{}", {digest}), ServerError);

    // Writing: to bob the identifier is free, and what he writes is his own row.
    auto deleted = mirror::deleteRecord(bob, "Thing", kThing, 1);
    EXPECT_FALSE(deleted.applied);
    EXPECT_EQ(deleted.version, 0);
    ASSERT_TRUE(mirror::pushRecord(bob, "Thing", kThing, 0, R"({"title":"B"})").applied);
    ASSERT_TRUE(mirror::deleteRecord(bob, "Thing", kThing, 1).applied);
    // Chunks bob uploads under alice's digest stay his and unverified.
    EXPECT_TRUE(mirror::putChunk(bob, digest, 0, "tampered"));
    EXPECT_FALSE(mirror::finishContent(bob, digest, 1));

    auto aliceChanges = mirror::changesSince(alice, 0);
    ASSERT_EQ(aliceChanges.size(), 1u);
    EXPECT_EQ(aliceChanges[0].version, 1);
    EXPECT_FALSE(aliceChanges[0].deleted);
    EXPECT_EQ(aliceChanges[0].body, R"({"title":"A"})");
    EXPECT_EQ(mirror::getChunk(alice, digest, 0), content);
}

TEST_F(AccountIsolationTest, MachinesHoldNoPrivilegeOnTablesOrAdministration) {
    mirror::Connection bob = connectAs(addAccount("bob"));
    mirror::Connection connection = admin();
    // Every table of the schema, with a column to write (the second: the first may be an
    // identity column, which refuses writes of its own accord).
    mirror::Result tables = connection.exec(
        "SELECT c.relname, a.attname FROM pg_catalog.pg_class c "
        "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum = 2 "
        "WHERE n.nspname = 'tavro' AND c.relkind IN ('r', 'v', 'p') ORDER BY 1");
    ASSERT_GE(tables.rows(), 5);
    for (int row = 0; row < tables.rows(); ++row) {
        std::string table = "tavro." + std::string(tables.text(row, 0));
        std::string column(tables.text(row, 1));
        for (const std::string& statement :
             {"SELECT * FROM " + table, "INSERT INTO " + table + " DEFAULT VALUES",
              "DELETE FROM " + table, "UPDATE " + table + " SET " + column + " = " + column}) {
            try {
                bob.exec(statement);
                ADD_FAILURE() << "a machine could run: " << statement;
            } catch (const ServerError& error) {
                EXPECT_EQ(error.sqlState(), "42501") << statement << ": " << error.what();
            }
        }
    }
    for (const char* statement :
         {"SELECT tavro.add_account(session_user)", "SELECT tavro.next_sequence(1)",
          "SELECT tavro.expire_tombstones('0')", "SELECT tavro.session_account()",
          "CREATE TABLE tavro.mine (x int)"}) {
        try {
            bob.exec(statement);
            ADD_FAILURE() << "a machine could run: " << statement;
        } catch (const ServerError& error) {
            EXPECT_EQ(error.sqlState(), "42501") << statement << ": " << error.what();
        }
    }
}

TEST_F(AccountIsolationTest, ARoleWithoutAnAccountReachesNothing) {
    std::string stranger = addPlainRole("stranger");
    mirror::Connection connection = connectAs(stranger);
    try {
        mirror::accountRecordName(connection);
        FAIL() << "a role that is no account got a record name";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::NotAnAccount) << error.what();
        EXPECT_NE(std::string(error.what()).find(stranger), std::string::npos);
    }
    EXPECT_THROW(mirror::changesSince(connection, 0), ServerError);
    // Even a member of the accounts' group without an account row is told it is none.
    {
        mirror::Connection administrator = admin();
        administrator.exec("GRANT tavro_client TO " + administrator.quoteIdentifier(stranger));
    }
    mirror::Connection member = connectAs(stranger);
    try {
        mirror::pushRecord(member, "Thing", kThing, 0, "{}");
        FAIL() << "a role that is no account wrote a record";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::NotAnAccount) << error.what();
    }
}

}  // namespace
}  // namespace tavro::test
