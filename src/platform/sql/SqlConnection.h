#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/foundation/Result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform::sql {

// Errors of this layer carry SQLite's result code and message.
inline constexpr std::string_view kErrorDomain = "sqlite";

enum class ColumnType { integer, real, text, blob, null };

// One compiled statement of a Connection, which must outlive it. Used by one thread at a time.
class Statement {
public:
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // True while a row is ready to be read, false once the statement has run to its end.
    Result<bool> step();
    // Back to before its first step, its parameters unbound (NULL), so it can run again.
    void reset();

    // Parameters count from 1. The text is copied.
    Result<void> bindNull(int parameter);
    Result<void> bindInt64(int parameter, std::int64_t value);
    Result<void> bindDouble(int parameter, double value);
    Result<void> bindText(int parameter, std::string_view text);
    // Not copied: the text must stay as it is until the statement is reset.
    Result<void> bindBorrowedText(int parameter, std::string_view text);

    [[nodiscard]] int columnCount() const;
    [[nodiscard]] std::string_view columnName(int column) const;
    // Of the current row.
    [[nodiscard]] ColumnType columnType(int column) const;
    [[nodiscard]] std::int64_t columnInt64(int column) const;
    [[nodiscard]] double columnDouble(int column) const;
    // The column as text (a number in SQLite's decimal form), valid until the next step; empty
    // for NULL.
    [[nodiscard]] std::string_view columnText(int column) const;

private:
    friend class Connection;
    Statement(sqlite3* connection, sqlite3_stmt* handle);
    Result<void> bound(int code) const;
    Result<void> bindText(int parameter, std::string_view text, bool copy);

    sqlite3* connection_;
    sqlite3_stmt* handle_;
};

// One open database file.
class Connection {
public:
    // How long a statement waits for another connection's lock on the file before it fails
    // as busy.
    static constexpr int kBusyTimeoutMs = 5000;

    // Creates the file when it does not exist.
    static Result<Connection> open(const std::filesystem::path& file);

    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    // Compiles exactly one statement: empty text, or text left after the first statement, is an
    // error rather than something silently skipped.
    Result<Statement> prepare(std::string_view text);
    // Compiles and runs one statement to its end, ignoring any rows.
    Result<void> execute(std::string_view text);

    // Of the last successful insert on this connection; 0 before any.
    [[nodiscard]] std::int64_t lastInsertRowId() const;
    // Rows the last finished INSERT, UPDATE or DELETE changed.
    [[nodiscard]] std::int64_t changes() const;
    // Whether a transaction is open (the connection is not committing statement by statement).
    [[nodiscard]] bool inTransaction() const;

private:
    explicit Connection(sqlite3* handle) : handle_(handle) {}

    sqlite3* handle_;
};

}  // namespace platform::sql
