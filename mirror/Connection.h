// SPDX-License-Identifier: MIT
#pragma once
// One session with a sync server through libpq. Connection and Result own their libpq handles;
// every failure is a ServerError whose sentence says what went wrong in the user's terms
// (unreachable, wrong credentials, not an account, …) and whose detail keeps libpq's text.
//
// A service is what the user names the server by: a libpq service name (from
// ~/.pg_service.conf), a connection URI ("postgresql://host/db") or key=value connection text;
// empty means libpq's defaults (the PG* environment variables). Host, password and TLS settings
// stay in libpq's own files; nothing here stores them.
//
// Not thread-safe: one connection is used by one thread at a time.

#include <libpq-fe.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace tavro::mirror {

class Result {
  public:
    explicit Result(PGresult* result) : result_(result) {}
    ~Result();
    Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    Result& operator=(Result&&) = delete;

    int rows() const;
    bool isNull(int row, int column) const;
    // The value as the server sent it: text, or the raw bytes of a binary result.
    std::string_view text(int row, int column) const;
    std::optional<std::string> optionalText(int row, int column) const;
    int64_t integer(int row, int column) const;
    bool boolean(int row, int column) const;

  private:
    PGresult* result_;
};

// A parameter of a query: text, binary bytes (for bytea), or SQL NULL.
struct Param {
    std::optional<std::string> value;
    bool binary = false;

    static Param text(std::string value) { return {std::move(value), false}; }
    static Param bytes(std::string value) { return {std::move(value), true}; }
    static Param integer(int64_t value) { return {std::to_string(value), false}; }
    static Param null() { return {std::nullopt, false}; }
};

class Connection {
  public:
    // Connects; throws ServerError (Unreachable, WrongCredentials, BadService).
    static Connection open(const std::string& service);

    ~Connection();
    Connection(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection& operator=(Connection&&) = delete;

    // Runs one or more statements without parameters (the simple query protocol).
    Result exec(const std::string& sql);
    // Runs one statement with parameters; `binaryResult` asks for bytea values as raw bytes.
    Result query(const std::string& sql, std::initializer_list<Param> params,
                 bool binaryResult = false);

    // Quotes a role or other name for use in SQL text.
    std::string quoteIdentifier(std::string_view name);
    // Quotes a text as an SQL string literal.
    std::string quoteLiteral(std::string_view text);
    // The verifier the server keeps for `password` (SCRAM as the server asks), so that the
    // password itself never travels in SQL text or lands in the server's log.
    std::string encryptPassword(const std::string& role, const std::string& password);

    // The role the session is logged in as.
    std::string user() const;
    PGconn* handle() const { return connection_; }

    // Whether a service text carries a password (which would then be written into files).
    static bool namesPassword(const std::string& service);

  private:
    explicit Connection(PGconn* connection) : connection_(connection) {}
    [[noreturn]] void fail(PGresult* result);

    PGconn* connection_;
};

// Runs `work` in a transaction: committed when it returns, rolled back when it throws.
template <typename Work>
auto inTransaction(Connection& connection, Work&& work) {
    connection.exec("BEGIN");
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            connection.exec("COMMIT");
        } else {
            auto result = work();
            connection.exec("COMMIT");
            return result;
        }
    } catch (...) {
        if (PQstatus(connection.handle()) == CONNECTION_OK) {
            PQclear(PQexec(connection.handle(), "ROLLBACK"));
        }
        throw;
    }
}

}  // namespace tavro::mirror
