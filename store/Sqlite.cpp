// SPDX-License-Identifier: MIT
#include "store/Sqlite.h"

#include <utility>

#include "platform/Error.h"

namespace tavro::store::sqlite {

namespace {

// What the user reads for a failure of the store. SQLite's own message is for developers: it
// goes into the error's debug description beside the statement that failed. Failures a user
// can act on (wait, free space, check the disk) are named as such.
std::string sentenceFor(int code, const std::string& message, const char* doing) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "The library store is busy: another program is using it. Try again in a "
                   "moment.";
        case SQLITE_FULL:
            return "The library store could not be saved because the disk is full.";
        case SQLITE_IOERR:
            if (code != SQLITE_IOERR_NOMEM) {
                return "The library store could not be read or written: the disk reported an "
                       "error.";
            }
            break;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return "The library store is damaged and could not be read.";
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return "The library store could not be changed: it may only be read.";
        default:
            break;
    }
    return std::string("The library store could not be ") + doing + ": " + message + ".";
}

}  // namespace

void fail(sqlite3* db, int code, std::string_view context) {
    std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    platform::throwError(kErrorDomain, code, sentenceFor(code, message, "used"),
                         std::string(context) + ": " + message);
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    int code = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                  SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    if (code != SQLITE_OK) {
        fail(db, code, sql);
    }
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(statement_);
        db_ = other.db_;
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

void Statement::bind(int index, int64_t value) {
    check(sqlite3_bind_int64(statement_, index, value));
}
void Statement::bind(int index, double value) {
    check(sqlite3_bind_double(statement_, index, value));
}
void Statement::bind(int index, std::string_view text) {
    // Text is stored byte-exact, whatever it holds.
    check(sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
}
void Statement::bindBlob(int index, const void* bytes, size_t size) {
    check(sqlite3_bind_blob64(statement_, index, bytes, size, SQLITE_TRANSIENT));
}
void Statement::bindBorrowed(int index, std::string_view text) {
    check(sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_STATIC,
                              SQLITE_UTF8));
}
void Statement::bindBorrowedBlob(int index, const void* bytes, size_t size) {
    check(sqlite3_bind_blob64(statement_, index, bytes, size, SQLITE_STATIC));
}
void Statement::bindNull(int index) {
    check(sqlite3_bind_null(statement_, index));
}

// A value that could not be bound (too big, an index out of range, a statement in use) would
// otherwise run the statement with NULL in its place and store that silently. The statement is
// reset so that its next use starts clean.
void Statement::check(int code) {
    if (code == SQLITE_OK) {
        return;
    }
    std::string sql = sqlite3_sql(statement_);
    reset();
    fail(db_, code, sql);
}

bool Statement::step() {
    int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code == SQLITE_DONE) {
        return false;
    }
    std::string sql = sqlite3_sql(statement_);
    reset();  // nor may borrowed bytes stay bound
    fail(db_, code, sql);
}

void Statement::run() {
    while (step()) {
    }
    reset();
}

void Statement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}
int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}
double Statement::real(int column) const {
    return sqlite3_column_double(statement_, column);
}
std::string_view Statement::text(int column) const {
    auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return {bytes != nullptr ? bytes : "",
            static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
}
std::string_view Statement::blob(int column) const {
    auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    return {bytes != nullptr ? bytes : "",
            static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
}

Database::Database(const std::string& path, int flags) {
    int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK) {
        std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        platform::throwError(kErrorDomain, code, sentenceFor(code, message, "opened"),
                             path + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
}

Database::Database(Database&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        sqlite3_close_v2(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

void Database::execute(std::string_view sql) {
    std::string text(sql);
    char* error = nullptr;
    int code = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error);
    sqlite3_free(error);
    if (code != SQLITE_OK) {
        fail(db_, code, sql);
    }
}

}  // namespace tavro::store::sqlite
