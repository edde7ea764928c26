#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/foundation/Result.h"
#include "platform/sql/SqlConnection.h"

// The compiled statements of the record operations, kept by their text so that each is
// compiled once per connection. SQLite compiles a kept statement again by itself when the
// schema changed (a "*" then names the table's new columns). Must go before its connection.
class TQDBStatementCache {
    struct Entry {
        platform::sql::Statement statement;
        // Lent out: a row callback may call the store again while the statement is mid-run.
        bool busy = false;
    };
    using Entries = std::map<std::string, Entry, std::less<>>;

public:
    static constexpr std::size_t kCapacity = 64;

    // A statement lent for one run, reset when the lease ends so that it holds no lock on the
    // file between operations. The bindings must outlive the lease.
    class Lease {
    public:
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease();

        platform::sql::Statement& operator*();
        platform::sql::Statement* operator->() { return &**this; }
        // The run failed: a kept statement is dropped, to be compiled afresh the next time.
        void failed() { failed_ = true; }

    private:
        friend class TQDBStatementCache;
        Lease(TQDBStatementCache& cache, Entries::iterator kept) : cache_(&cache), kept_(kept) {}
        explicit Lease(platform::sql::Statement own) : own_(std::move(own)) {}

        TQDBStatementCache* cache_ = nullptr;
        Entries::iterator kept_;
        std::optional<platform::sql::Statement> own_;
        bool failed_ = false;
    };

    // The kept statement of the text, compiled now when it is not kept yet. While it is lent
    // out (a run within its own run) the request gets a statement of its own, compiled for
    // this run only; so it does when the cache is full of statements lent out.
    platform::Result<Lease> take(platform::sql::Connection& connection, std::string_view text);
    [[nodiscard]] std::size_t size() const { return entries_.size(); }

private:
    // Drops a statement not lent out, to make room; false when every one is.
    bool evictIdle();

    Entries entries_;
};
