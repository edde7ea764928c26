#include "db/TQDBStatementCache.h"

platform::Result<platform::sql::Statement*> TQDBStatementCache::take(
    platform::sql::Connection& connection, std::string_view text) {
    if (const auto found = statements_.find(text); found != statements_.end()) {
        return &found->second;
    }
    auto prepared = connection.prepare(text);
    if (!prepared) {
        return prepared.error();
    }
    // Texts differ by table and by the columns a record writes: few, but not bounded by code.
    if (statements_.size() >= kCapacity) {
        statements_.clear();
    }
    return &statements_.emplace(std::string(text), std::move(prepared).value()).first->second;
}

void TQDBStatementCache::forget(std::string_view text) {
    if (const auto found = statements_.find(text); found != statements_.end()) {
        statements_.erase(found);
    }
}
