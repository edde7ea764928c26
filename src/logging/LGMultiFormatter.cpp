#include "logging/LGMultiFormatter.h"

#include <algorithm>

std::vector<std::shared_ptr<LGLogFormatter>> LGMultiFormatter::formatters() const {
    std::lock_guard lock(mutex_);
    return formatters_;
}

void LGMultiFormatter::addFormatter(std::shared_ptr<LGLogFormatter> formatter) {
    std::lock_guard lock(mutex_);
    formatters_.push_back(std::move(formatter));
}

void LGMultiFormatter::removeFormatter(const std::shared_ptr<LGLogFormatter>& formatter) {
    std::lock_guard lock(mutex_);
    std::erase(formatters_, formatter);
}

void LGMultiFormatter::removeAllFormatters() {
    std::lock_guard lock(mutex_);
    formatters_.clear();
}

bool LGMultiFormatter::isFormattingWithFormatter(
    const std::shared_ptr<LGLogFormatter>& formatter) const {
    std::lock_guard lock(mutex_);
    return std::find(formatters_.begin(), formatters_.end(), formatter) != formatters_.end();
}

std::optional<std::string> LGMultiFormatter::formatLogMessage(const LGLogMessage& message) {
    // Held while formatting, so that a change waits for the record in progress.
    std::lock_guard lock(mutex_);
    std::optional<std::string> text = message.message();
    for (const auto& formatter : formatters_) {
        text = formatter->formatLogMessage(message.withMessage(std::move(*text)));
        if (!text) {
            break;
        }
    }
    return text;
}
