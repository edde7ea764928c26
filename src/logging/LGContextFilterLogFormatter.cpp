#include "logging/LGContextFilterLogFormatter.h"

void LGLoggingContextSet::addToSet(std::int64_t context) {
    std::lock_guard lock(mutex_);
    set_.insert(context);
}

void LGLoggingContextSet::removeFromSet(std::int64_t context) {
    std::lock_guard lock(mutex_);
    set_.erase(context);
}

std::vector<std::int64_t> LGLoggingContextSet::currentSet() const {
    std::lock_guard lock(mutex_);
    return {set_.begin(), set_.end()};
}

bool LGLoggingContextSet::isInSet(std::int64_t context) const {
    std::lock_guard lock(mutex_);
    return set_.contains(context);
}

std::optional<std::string> LGContextWhitelistFilterLogFormatter::formatLogMessage(
    const LGLogMessage& message) {
    if (!contexts_.isInSet(message.context())) {
        return std::nullopt;
    }
    return message.message();
}

std::optional<std::string> LGContextBlacklistFilterLogFormatter::formatLogMessage(
    const LGLogMessage& message) {
    if (contexts_.isInSet(message.context())) {
        return std::nullopt;
    }
    return message.message();
}
