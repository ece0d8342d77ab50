// SPDX-License-Identifier: MIT
#include "mirror/Connection.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "mirror/ServerError.h"

namespace tavro::mirror {

namespace {

// The first line of a libpq message, without its trailing full stop or line break: libpq's
// messages run over several lines ("…failed: Connection refused\n\tIs the server running…").
std::string firstLine(std::string_view message) {
    auto end = message.find('\n');
    std::string line(message.substr(0, end));
    // The server's severity is libpq's framing, not part of the reason.
    for (std::string_view severity : {"FATAL:  ", "ERROR:  "}) {
        if (auto at = line.find(severity); at != std::string::npos) {
            line.erase(at, severity.size());
        }
    }
    while (!line.empty() && (line.back() == '.' || line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

bool mentions(const std::string& message, std::string_view text) {
    return message.find(text) != std::string::npos;
}

// Why a connection could not be made, told apart by libpq's own words: libpq reports no
// code for a failed connection.
[[noreturn]] void failToConnect(PGconn* connection, const std::string& service) {
    std::string message = connection ? PQerrorMessage(connection) : "out of memory";
    std::string line = firstLine(message);
    bool needsPassword = connection && PQconnectionNeedsPassword(connection);
    std::string shown = service.empty() ? std::string("the default server") : service;
    if (needsPassword || mentions(message, "authentication failed") ||
        mentions(message, "no password supplied") || mentions(message, "no pg_hba.conf entry") ||
        (mentions(message, "role \"") && mentions(message, "does not exist"))) {
        throw ServerError(ServerFailure::WrongCredentials,
                          "The sync server didn\u2019t accept the sign-in (" + line +
                              "); check the user name, and the password in ~/.pgpass.",
                          message);
    }
    if (mentions(message, "definition of service") || mentions(message, "invalid connection") ||
        mentions(message, "invalid URI") || mentions(message, "missing \"=\"") ||
        mentions(message, "invalid integer value") || mentions(message, "service file") ||
        (mentions(message, "database \"") && mentions(message, "does not exist"))) {
        throw ServerError(
            ServerFailure::BadService,
            "\u201c" + shown + "\u201d doesn\u2019t name a sync server (" + line + ").", message);
    }
    throw ServerError(ServerFailure::Unreachable,
                      "The sync server can\u2019t be reached (" + line + ").", message);
}

// The connection text libpq is given: a service name becomes "service=NAME"; a URI or
// key=value text is passed as it is.
std::string connectionText(const std::string& service) {
    if (service.empty() || service.find('=') != std::string::npos ||
        service.starts_with("postgresql://") || service.starts_with("postgres://")) {
        return service;
    }
    return "service=" + service;
}

}  // namespace

Result::~Result() {
    PQclear(result_);
}

int Result::rows() const {
    return PQntuples(result_);
}

bool Result::isNull(int row, int column) const {
    return PQgetisnull(result_, row, column) != 0;
}

std::string_view Result::text(int row, int column) const {
    return {PQgetvalue(result_, row, column),
            static_cast<size_t>(PQgetlength(result_, row, column))};
}

std::optional<std::string> Result::optionalText(int row, int column) const {
    if (isNull(row, column)) {
        return std::nullopt;
    }
    return std::string(text(row, column));
}

int64_t Result::integer(int row, int column) const {
    return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10);
}

bool Result::boolean(int row, int column) const {
    return text(row, column) == "t";
}

Connection Connection::open(const std::string& service) {
    std::string text = connectionText(service);
    // The dbname entry is expanded (a URI, key=value text or "service=NAME"), and what the text
    // names replaces the entries before it. A server that does not answer within ten seconds
    // is reported rather than waited for as long as TCP would, unless PGCONNECT_TIMEOUT or the
    // connection text says otherwise (a service file's own connect_timeout gives way to it).
    std::vector<const char*> keywords = {"fallback_application_name"};
    std::vector<const char*> values = {"tavro"};
    if (!std::getenv("PGCONNECT_TIMEOUT")) {
        keywords.push_back("connect_timeout");
        values.push_back("10");
    }
    keywords.push_back("dbname");
    values.push_back(text.empty() ? nullptr : text.c_str());
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* connection = PQconnectdbParams(keywords.data(), values.data(), 1);
    if (!connection || PQstatus(connection) != CONNECTION_OK) {
        std::unique_ptr<PGconn, decltype(&PQfinish)> owned(connection, &PQfinish);
        failToConnect(connection, service);
    }
    return Connection(connection);
}

Connection::~Connection() {
    if (connection_) {
        PQfinish(connection_);
    }
}

Connection::Connection(Connection&& other) noexcept : connection_(other.connection_) {
    other.connection_ = nullptr;
}

void Connection::fail(PGresult* result) {
    std::string message = result ? PQresultErrorMessage(result) : PQerrorMessage(connection_);
    const char* stateField = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* primaryField =
        result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string state = stateField ? stateField : "";
    std::string primary = primaryField ? primaryField : firstLine(message);
    PQclear(result);
    if (PQstatus(connection_) != CONNECTION_OK || state.starts_with("08") || state == "57P01" ||
        state == "57P02" || state == "57P03") {
        throw ServerError(
            ServerFailure::Unreachable,
            "The connection to the sync server was lost (" + firstLine(message) + ").", message,
            state);
    }
    // A role outside the accounts' group may not even use the schema: not an account either.
    bool deniedTavro = state == "42501" &&
                       (mentions(message, "schema tavro") || mentions(message, "function tavro."));
    if (state == "TA001" || deniedTavro) {
        throw ServerError(ServerFailure::NotAnAccount,
                          "The role \u201c" + user() +
                              "\u201d has no Tavro account on this sync server; an "
                              "administrator adds it with \u201ctavro server add-account " +
                              user() + "\u201d.",
                          message, state);
    }
    if (state == "TA002") {
        throw ServerError(ServerFailure::ResynchronisationNeeded,
                          "The sync server no longer keeps all the changes this machine missed, "
                          "so the whole library must be downloaded again.",
                          message, state);
    }
    if (state == "TA003") {
        throw ServerError(ServerFailure::ContentMissing,
                          "The sync server doesn\u2019t hold that content (" + primary + ").",
                          message, state);
    }
    if (state == "3F000" || (state == "42883" && mentions(message, "tavro."))) {
        throw ServerError(ServerFailure::SchemaMissing,
                          "The sync server\u2019s database isn\u2019t set up for Tavro; an "
                          "administrator sets it up with \u201ctavro server init\u201d.",
                          message, state);
    }
    throw ServerError(ServerFailure::Refused,
                      "The sync server refused the request (" + primary + ").", message, state);
}

Result Connection::exec(const std::string& sql) {
    PGresult* result = PQexec(connection_, sql.c_str());
    auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        fail(result);
    }
    return Result(result);
}

Result Connection::query(const std::string& sql, std::initializer_list<Param> params,
                         bool binaryResult) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const Param& param : params) {
        values.push_back(param.value ? param.value->data() : nullptr);
        lengths.push_back(param.value ? static_cast<int>(param.value->size()) : 0);
        formats.push_back(param.binary ? 1 : 0);
    }
    PGresult* result =
        PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                     values.data(), lengths.data(), formats.data(), binaryResult ? 1 : 0);
    auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        fail(result);
    }
    return Result(result);
}

std::string Connection::quoteIdentifier(std::string_view name) {
    char* quoted = PQescapeIdentifier(connection_, name.data(), name.size());
    if (!quoted) {
        fail(nullptr);
    }
    std::string text(quoted);
    PQfreemem(quoted);
    return text;
}

std::string Connection::quoteLiteral(std::string_view text) {
    char* quoted = PQescapeLiteral(connection_, text.data(), text.size());
    if (!quoted) {
        fail(nullptr);
    }
    std::string literal(quoted);
    PQfreemem(quoted);
    return literal;
}

std::string Connection::encryptPassword(const std::string& role, const std::string& password) {
    char* verifier = PQencryptPasswordConn(connection_, password.c_str(), role.c_str(), nullptr);
    if (!verifier) {
        fail(nullptr);
    }
    std::string text(verifier);
    PQfreemem(verifier);
    return text;
}

std::string Connection::user() const {
    const char* name = PQuser(connection_);
    return name ? name : "";
}

bool Connection::namesPassword(const std::string& service) {
    std::string text = connectionText(service);
    if (text.empty() || text.starts_with("service=")) {
        return false;
    }
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
    PQfreemem(error);
    bool found = false;
    for (PQconninfoOption* option = options; option && option->keyword; ++option) {
        if (std::string_view(option->keyword) == "password" && option->val && *option->val) {
            found = true;
        }
    }
    PQconninfoFree(options);
    return found;
}

}  // namespace tavro::mirror
