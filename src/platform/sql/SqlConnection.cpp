#include "platform/sql/SqlConnection.h"

#include <sqlite3.h>

#include <climits>
#include <string>
#include <utility>

namespace platform::sql {

namespace {

Error errorOf(sqlite3* connection, int code) {
    std::string message = connection != nullptr ? sqlite3_errmsg(connection) : sqlite3_errstr(code);
    return Error{std::string(kErrorDomain), code, std::move(message)};
}

bool onlyBlanks(const char* text, const char* end) {
    for (; text < end; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r' && *text != ';') {
            return false;
        }
    }
    return true;
}

}  // namespace

Statement::Statement(sqlite3* connection, sqlite3_stmt* handle)
    : connection_(connection), handle_(handle) {}

Statement::Statement(Statement&& other) noexcept
    : connection_(other.connection_), handle_(std::exchange(other.handle_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(handle_);
        connection_ = other.connection_;
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(handle_);
}

Result<bool> Statement::step() {
    const int code = sqlite3_step(handle_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code == SQLITE_DONE) {
        return false;
    }
    return errorOf(connection_, code);
}

void Statement::reset() {
    sqlite3_reset(handle_);
    sqlite3_clear_bindings(handle_);
}

Result<void> Statement::bound(int code) const {
    if (code != SQLITE_OK) {
        return errorOf(connection_, code);
    }
    return {};
}

Result<void> Statement::bindNull(int parameter) {
    return bound(sqlite3_bind_null(handle_, parameter));
}

Result<void> Statement::bindInt64(int parameter, std::int64_t value) {
    return bound(sqlite3_bind_int64(handle_, parameter, value));
}

Result<void> Statement::bindDouble(int parameter, double value) {
    return bound(sqlite3_bind_double(handle_, parameter, value));
}

Result<void> Statement::bindText(int parameter, std::string_view text) {
    return bindText(parameter, text, true);
}

Result<void> Statement::bindBorrowedText(int parameter, std::string_view text) {
    return bindText(parameter, text, false);
}

Result<void> Statement::bindText(int parameter, std::string_view text, bool copy) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        return Error{std::string(kErrorDomain), SQLITE_TOOBIG, "text too long"};
    }
    return bound(sqlite3_bind_text(handle_, parameter, text.data(), static_cast<int>(text.size()),
                                   copy ? SQLITE_TRANSIENT : SQLITE_STATIC));
}

int Statement::columnCount() const {
    return sqlite3_column_count(handle_);
}

std::string_view Statement::columnName(int column) const {
    const char* name = sqlite3_column_name(handle_, column);
    return name != nullptr ? std::string_view(name) : std::string_view();
}

ColumnType Statement::columnType(int column) const {
    switch (sqlite3_column_type(handle_, column)) {
        case SQLITE_INTEGER:
            return ColumnType::integer;
        case SQLITE_FLOAT:
            return ColumnType::real;
        case SQLITE_TEXT:
            return ColumnType::text;
        case SQLITE_BLOB:
            return ColumnType::blob;
        default:
            return ColumnType::null;
    }
}

std::int64_t Statement::columnInt64(int column) const {
    return sqlite3_column_int64(handle_, column);
}

double Statement::columnDouble(int column) const {
    return sqlite3_column_double(handle_, column);
}

std::string_view Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(handle_, column));
    if (text == nullptr) {
        return {};
    }
    // Bounded by the length SQLite reports, not by a terminator the text may hold earlier.
    return {text, static_cast<std::size_t>(sqlite3_column_bytes(handle_, column))};
}

Result<Connection> Connection::open(const std::filesystem::path& file) {
    sqlite3* handle = nullptr;
    const int code =
        sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) {
        Error error = errorOf(handle, code);
        sqlite3_close(handle);
        return error;
    }
    sqlite3_extended_result_codes(handle, 0);
    // Another connection writing (a tool reading the file, a checkpoint) makes SQLite wait a
    // while for its lock instead of failing the statement at once.
    sqlite3_busy_timeout(handle, kBusyTimeoutMs);
    return Connection(handle);
}

Connection::Connection(Connection&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        sqlite3_close(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Connection::~Connection() {
    // Every Statement is gone by now, so the close cannot be refused as busy.
    sqlite3_close(handle_);
}

Result<Statement> Connection::prepare(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        return Error{std::string(kErrorDomain), SQLITE_TOOBIG, "statement too long"};
    }
    sqlite3_stmt* handle = nullptr;
    const char* tail = nullptr;
    const int code =
        sqlite3_prepare_v2(handle_, text.data(), static_cast<int>(text.size()), &handle, &tail);
    if (code != SQLITE_OK) {
        return errorOf(handle_, code);
    }
    Statement statement(handle_, handle);
    if (handle == nullptr) {
        return Error{std::string(kErrorDomain), SQLITE_MISUSE, "no statement in the text"};
    }
    if (tail != nullptr && !onlyBlanks(tail, text.data() + text.size())) {
        return Error{
            std::string(kErrorDomain), SQLITE_MISUSE,
            "text after the first statement: " + std::string(tail, text.data() + text.size())};
    }
    return statement;
}

Result<void> Connection::execute(std::string_view text) {
    auto statement = prepare(text);
    if (!statement) {
        return statement.error();
    }
    for (;;) {
        auto row = statement->step();
        if (!row) {
            return row.error();
        }
        if (!*row) {
            return {};
        }
    }
}

std::int64_t Connection::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(handle_);
}

std::int64_t Connection::changes() const {
    return sqlite3_changes64(handle_);
}

bool Connection::inTransaction() const {
    return sqlite3_get_autocommit(handle_) == 0;
}

}  // namespace platform::sql
