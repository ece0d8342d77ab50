// SPDX-License-Identifier: MIT
// Signing a machine in: `tavro account sign-in SERVICE` writes the cloud account file, private
// to the user, with the record name the server issued and the service, never a password; the
// library's account reader takes it as it takes a file without a server. Every way signing in
// can fail leaves no file and says why in a sentence.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ServerFixture.h"
#include "mirror/AccountFile.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerError.h"
#include "platform/CloudAccount.h"
#include "support/FakeEnv.h"

namespace tavro::test {
namespace {

using mirror::ServerError;
using mirror::ServerFailure;

std::string slurp(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class SignInTest : public ServerFixture {
  protected:
    void SetUp() override {
        ServerFixture::SetUp();
        env_.set("XDG_CONFIG_HOME", configHome());
    }

    std::string accountFile() const { return temp_.file("config/tavro/cloud-account.json"); }

    // The failure signIn() reports for `service`; checks that nothing was written.
    ServerFailure failureSigningIn(const std::string& service) {
        try {
            mirror::signIn(service, env_);
        } catch (const ServerError& error) {
            EXPECT_FALSE(std::ifstream(accountFile()).good()) << "a failed sign-in wrote a file";
            EXPECT_FALSE(std::string(error.what()).empty());
            return error.failure();
        }
        ADD_FAILURE() << "signing in to " << service << " succeeded";
        return ServerFailure::Refused;
    }

    FakeEnv env_;
};

TEST_F(SignInTest, SignInWritesAPrivateAccountFileTheLibraryReads) {
    std::string role = addAccount("alice");
    std::string recordName = [&] {
        mirror::Connection machine = connectAs(role);
        return mirror::accountRecordName(machine);
    }();
    std::string service = serviceFor(role);

    Outcome signIn = tavro("account sign-in '" + service + "'");
    ASSERT_EQ(signIn.status, 0) << signIn.err;
    EXPECT_NE(signIn.out.find(recordName), std::string::npos) << signIn.out;

    struct stat file {};
    ASSERT_EQ(::stat(accountFile().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    struct stat folder {};
    ASSERT_EQ(::stat(temp_.file("config/tavro").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    EXPECT_EQ(platform::cloudAccountStatus(env_), platform::AccountStatus::Available);
    EXPECT_EQ(platform::cloudUserRecordName(env_), recordName);
    EXPECT_EQ(platform::cloudAccountService(env_), service);
    EXPECT_EQ(slurp(accountFile()).find("password"), std::string::npos);

    Outcome status = tavro("account status");
    EXPECT_EQ(status.status, 0) << status.out << status.err;
    EXPECT_NE(status.out.find(recordName), std::string::npos) << status.out;

    // Signing in again (say after the administrator re-ran add-account) keeps the same name.
    ASSERT_EQ(tavro("account sign-in '" + service + "'").status, 0);
    EXPECT_EQ(platform::cloudUserRecordName(env_), recordName);

    Outcome signOut = tavro("account sign-out");
    EXPECT_EQ(signOut.status, 0) << signOut.err;
    EXPECT_EQ(platform::cloudAccountStatus(env_), platform::AccountStatus::NoAccount);
    EXPECT_EQ(tavro("account status").status, 1);
}

TEST_F(SignInTest, EveryFailedSignInNamesItsCauseAndWritesNothing) {
    std::string role = addAccount("alice");
    std::string plain = addPlainRole("stranger");

    EXPECT_EQ(failureSigningIn(serviceFor("t_nobody_here")), ServerFailure::WrongCredentials);
    // A role whose password in the pgpass file is not the server's.
    {
        mirror::Connection connection = admin();
        connection.exec("ALTER ROLE " + connection.quoteIdentifier(role) +
                        " PASSWORD 'not-the-one-in-pgpass'");
    }
    EXPECT_EQ(failureSigningIn(serviceFor(role)), ServerFailure::WrongCredentials);
    EXPECT_EQ(failureSigningIn(serviceFor(plain)), ServerFailure::NotAnAccount);
    EXPECT_EQ(failureSigningIn("host=127.0.0.1 port=1 user=x"), ServerFailure::Unreachable);
    EXPECT_EQ(failureSigningIn("no-such-service-" + role), ServerFailure::BadService);
    EXPECT_EQ(failureSigningIn(serviceFor(plain) + " password=secret"),
              ServerFailure::PasswordInService);
    EXPECT_EQ(failureSigningIn("postgresql://" + plain + ":secret@localhost/x"),
              ServerFailure::PasswordInService);

    // The program says the sentence and ends with status 1.
    Outcome run = tavro("account sign-in '" + serviceFor(plain) + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("has no Tavro account"), std::string::npos) << run.err;
}

TEST_F(SignInTest, AnAccountFileWithoutAServerKeepsItsMeaning) {
    std::string folder = temp_.file("config/tavro");
    std::string command = "mkdir -p '" + folder + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ofstream(accountFile())
        << R"({"status":"available","userRecordName":"_0123456789abcdef"})";

    EXPECT_EQ(platform::cloudAccountStatus(env_), platform::AccountStatus::Available);
    EXPECT_EQ(platform::cloudUserRecordName(env_), "_0123456789abcdef");
    EXPECT_EQ(platform::cloudAccountService(env_), std::nullopt);
    mirror::AccountState state = mirror::accountState(env_);
    EXPECT_TRUE(state.signedIn);
    EXPECT_FALSE(state.service);

    Outcome status = tavro("account status");
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_NE(status.out.find("without a sync server"), std::string::npos) << status.out;

    // A server that no longer answers is reported, not thrown.
    std::ofstream(accountFile()) << R"({"status":"available","userRecordName":"_0123456789abcdef",)"
                                 << R"("service":"host=127.0.0.1 port=1"})";
    state = mirror::accountState(env_);
    EXPECT_FALSE(state.reachable);
    EXPECT_NE(state.problem.find("can\u2019t be reached"), std::string::npos) << state.problem;
    EXPECT_EQ(tavro("account status").status, 1);
}

}  // namespace
}  // namespace tavro::test
