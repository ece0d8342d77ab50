// SPDX-License-Identifier: MIT
#pragma once
// A thin owner of SQLite handles: the connection and reusable prepared statements. Every
// failure becomes a platform::Error in SQLite's domain with SQLite's code: a sentence for the
// user as its description, SQLite's own message and the statement as its debug description.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::store::sqlite {

inline constexpr const char* kErrorDomain = "NSSQLiteErrorDomain";

[[noreturn]] void fail(sqlite3* db, int code, std::string_view context);

class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    ~Statement();

    explicit operator bool() const { return statement_ != nullptr; }

    // Binding by 1-based index. Throws, with the statement reset, when SQLite refuses a value.
    void bind(int index, int64_t value);
    void bind(int index, double value);
    void bind(int index, std::string_view text);
    void bindBlob(int index, const void* bytes, size_t size);
    void bindNull(int index);
    // As bind() and bindBlob(), without SQLite's own copy of the bytes: they must stay as they
    // are until the statement is reset, as run() does. For the values of a record being
    // written, which nothing changes meanwhile; a save writes a hundred thousand of them.
    void bindBorrowed(int index, std::string_view text);
    void bindBorrowedBlob(int index, const void* bytes, size_t size);

    // True while a row is available; false when done. Throws on error.
    bool step();
    // Runs to completion and resets for reuse.
    void run();
    void reset();

    bool isNull(int column) const;
    int64_t integer(int column) const;
    double real(int column) const;
    std::string_view text(int column) const;
    std::string_view blob(int column) const;

  private:
    // Throws for a bind result other than SQLITE_OK.
    void check(int code);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

class Database {
  public:
    Database() = default;
    // Opens an existing file or creates one, as `flags` say.
    Database(const std::string& path, int flags);
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    ~Database();

    sqlite3* handle() const { return db_; }
    void execute(std::string_view sql);
    Statement prepare(std::string_view sql) const { return Statement(db_, sql); }

  private:
    sqlite3* db_ = nullptr;
};

}  // namespace tavro::store::sqlite
