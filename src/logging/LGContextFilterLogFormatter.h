#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "logging/LGLogger.h"

// A set of context numbers that may change from any thread while loggers read it.
class LGLoggingContextSet {
public:
    void addToSet(std::int64_t context);
    void removeFromSet(std::int64_t context);
    [[nodiscard]] std::vector<std::int64_t> currentSet() const;
    [[nodiscard]] bool isInSet(std::int64_t context) const;

private:
    mutable std::mutex mutex_;
    std::set<std::int64_t> set_;
};

// Lets through only records whose context is on the list; an empty list drops all.
class LGContextWhitelistFilterLogFormatter : public LGLogFormatter {
public:
    void addToWhitelist(std::int64_t context) { contexts_.addToSet(context); }
    void removeFromWhitelist(std::int64_t context) { contexts_.removeFromSet(context); }
    [[nodiscard]] std::vector<std::int64_t> whitelist() const { return contexts_.currentSet(); }
    [[nodiscard]] bool isOnWhitelist(std::int64_t context) const {
        return contexts_.isInSet(context);
    }
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override;

private:
    LGLoggingContextSet contexts_;
};

// Drops records whose context is on the list; an empty list lets all through.
class LGContextBlacklistFilterLogFormatter : public LGLogFormatter {
public:
    void addToBlacklist(std::int64_t context) { contexts_.addToSet(context); }
    void removeFromBlacklist(std::int64_t context) { contexts_.removeFromSet(context); }
    [[nodiscard]] std::vector<std::int64_t> blacklist() const { return contexts_.currentSet(); }
    [[nodiscard]] bool isOnBlacklist(std::int64_t context) const {
        return contexts_.isInSet(context);
    }
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override;

private:
    LGLoggingContextSet contexts_;
};
