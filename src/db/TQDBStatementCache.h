#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/sql/SqlConnection.h"

// The compiled statements of the record operations, kept by their text so that each is
// compiled once per connection. SQLite compiles a kept statement again by itself when the
// schema changed (a "*" then names the table's new columns). Must go before its connection.
class TQDBStatementCache {
public:
    static constexpr std::size_t kCapacity = 64;

    // The statement of the text, compiled now when it is not kept yet. Its user resets it
    // after each run, so that it holds no lock on the file between operations.
    platform::Result<platform::sql::Statement*> take(platform::sql::Connection& connection,
                                                     std::string_view text);
    // Drops the statement of a run that failed: it is compiled afresh the next time.
    void forget(std::string_view text);
    void clear() { statements_.clear(); }
    [[nodiscard]] std::size_t size() const { return statements_.size(); }

private:
    std::map<std::string, platform::sql::Statement, std::less<>> statements_;
};
