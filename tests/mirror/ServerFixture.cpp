// SPDX-License-Identifier: MIT
#include "ServerFixture.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "mirror/ServerAccounts.h"
#include "mirror/ServerSchema.h"

namespace tavro::test {

namespace {

bool variableSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

std::string randomHex(size_t digits) {
    std::random_device device;
    std::string text;
    while (text.size() < digits) {
        text += "0123456789abcdef"[device() % 16];
    }
    return text;
}

}  // namespace

void ServerFixture::SetUp() {
    if (!variableSet("PGHOST") && !variableSet("PGSERVICE") && !variableSet("PGHOSTADDR")) {
        const char* mode = std::getenv("TAVRO_TEST_PG");
        if (mode && std::string(mode) == "required") {
            FAIL() << "TAVRO_TEST_PG=required but no PostgreSQL server is configured (PGHOST or "
                      "PGSERVICE unset): run the tests through scripts/test, which starts one";
        }
        GTEST_SKIP() << "no PostgreSQL server configured (PGHOST or PGSERVICE unset; "
                        "scripts/test runs these tests under pg_virtualenv)";
    }
    // Every login of the test, the administrator's included, takes its password from a
    // private pgpass file, as a user's would: PGPASSWORD would override it for every role.
    pgpass_ = temp_.file("pgpass");
    // Taken once per process: the first test removes it from the environment.
    static const std::optional<std::string> adminPassword = []() -> std::optional<std::string> {
        const char* password = std::getenv("PGPASSWORD");
        return password ? std::optional<std::string>(password) : std::nullopt;
    }();
    {
        std::ofstream file(pgpass_);
        if (adminPassword) {
            const char* user = std::getenv("PGUSER");
            file << "*:*:*:" << (user ? user : "postgres") << ":" << *adminPassword << "\n";
        }
    }
    ::chmod(pgpass_.c_str(), 0600);
    ::unsetenv("PGPASSWORD");
    ::setenv("PGPASSFILE", pgpass_.c_str(), 1);

    database_ = "tavro_test_" + randomHex(12);
    mirror::Connection server = mirror::Connection::open("");
    server.exec("CREATE DATABASE " + server.quoteIdentifier(database_));
    ready_ = true;
    if (installsSchema()) {
        mirror::Connection connection = admin();
        mirror::installServerSchema(connection);
    }
}

void ServerFixture::TearDown() {
    if (!ready_) {
        return;
    }
    try {
        mirror::Connection server = mirror::Connection::open("");
        server.exec("DROP DATABASE IF EXISTS " + server.quoteIdentifier(database_) +
                    " WITH (FORCE)");
        for (const std::string& role : roles_) {
            server.exec("DROP ROLE IF EXISTS " + server.quoteIdentifier(role));
        }
    } catch (const std::exception& error) {
        ADD_FAILURE() << "cleaning up the test database: " << error.what();
    }
}

mirror::Connection ServerFixture::admin() {
    return mirror::Connection::open("dbname=" + database_);
}

ServerFixture::Login ServerFixture::newRole(const std::string& name) {
    Login login{"t" + randomHex(8) + "_" + name, randomHex(24)};
    std::ofstream(pgpass_, std::ios::app)
        << "*:*:*:" << login.role << ":" << login.password << "\n";
    roles_.push_back(login.role);
    return login;
}

std::string ServerFixture::addAccount(const std::string& name) {
    Login login = newRole(name);
    mirror::Connection connection = admin();
    mirror::addAccount(connection, login.role, login.password);
    return login.role;
}

std::string ServerFixture::addPlainRole(const std::string& name) {
    Login login = newRole(name);
    mirror::Connection connection = admin();
    connection.exec(
        "CREATE ROLE " + connection.quoteIdentifier(login.role) + " LOGIN PASSWORD " +
        connection.quoteLiteral(connection.encryptPassword(login.role, login.password)));
    return login.role;
}

ServerFixture::Outcome ServerFixture::tavro(const std::string& arguments,
                                            const std::string& input) const {
    std::ofstream(temp_.file("in")) << input;
    std::string command = "XDG_CONFIG_HOME='" + configHome() + "' " + TAVRO_CLI_PATH + " " +
                          arguments + " <" + temp_.file("in") + " >" + temp_.file("out") + " 2>" +
                          temp_.file("err");
    int raw = std::system(command.c_str());
    auto slurp = [](const std::string& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(temp_.file("out")),
            slurp(temp_.file("err"))};
}

std::string ServerFixture::serviceFor(const std::string& role) const {
    return "dbname=" + database_ + " user=" + role;
}

mirror::Connection ServerFixture::connectAs(const std::string& role) const {
    return mirror::Connection::open(serviceFor(role));
}

}  // namespace tavro::test
