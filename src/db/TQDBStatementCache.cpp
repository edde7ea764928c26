#include "db/TQDBStatementCache.h"

#include <algorithm>
#include <utility>

TQDBStatementCache::Lease::Lease(Lease&& other) noexcept
    : cache_(std::exchange(other.cache_, nullptr)),
      kept_(other.kept_),
      own_(std::move(other.own_)),
      failed_(other.failed_) {
    other.own_.reset();
}

TQDBStatementCache::Lease::~Lease() {
    if (own_) {
        own_->reset();
        return;
    }
    if (cache_ == nullptr) {
        return;
    }
    kept_->second.statement.reset();
    kept_->second.busy = false;
    if (failed_) {
        cache_->entries_.erase(kept_);
    }
}

platform::sql::Statement& TQDBStatementCache::Lease::operator*() {
    return own_ ? *own_ : kept_->second.statement;
}

platform::Result<TQDBStatementCache::Lease> TQDBStatementCache::take(
    platform::sql::Connection& connection, std::string_view text) {
    const auto found = entries_.find(text);
    if (found != entries_.end() && !found->second.busy) {
        found->second.busy = true;
        return Lease(*this, found);
    }
    auto prepared = connection.prepare(text);
    if (!prepared) {
        return prepared.error();
    }
    // Texts differ by table and by the columns a record writes: few, but not bounded by code,
    // so a full cache makes room; a statement lent out stays, as its run is not over.
    if (found != entries_.end() || (entries_.size() >= kCapacity && !evictIdle())) {
        return Lease(std::move(prepared).value());
    }
    const auto placed =
        entries_.emplace(std::string(text), Entry{std::move(prepared).value()}).first;
    placed->second.busy = true;
    return Lease(*this, placed);
}

bool TQDBStatementCache::evictIdle() {
    const auto idle = std::find_if(entries_.begin(), entries_.end(),
                                   [](const auto& entry) { return !entry.second.busy; });
    if (idle == entries_.end()) {
        return false;
    }
    entries_.erase(idle);
    return true;
}
