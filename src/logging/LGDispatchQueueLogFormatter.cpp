#include "logging/LGDispatchQueueLogFormatter.h"

#include <algorithm>

#include "logging/LGTime.h"

namespace {

bool isGlobalQueue(const std::string& label) {
    return label.starts_with("global.");
}

}  // namespace

std::optional<std::string> LGDispatchQueueLogFormatter::replacementStringForQueueLabel(
    const std::string& label) const {
    std::lock_guard lock(mutex_);
    const auto found = replacements_.find(label);
    if (found == replacements_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void LGDispatchQueueLogFormatter::setReplacementString(std::optional<std::string> replacement,
                                                       const std::string& label) {
    std::lock_guard lock(mutex_);
    if (replacement) {
        replacements_.insert_or_assign(label, std::move(*replacement));
    } else {
        replacements_.erase(label);
    }
}

std::string LGDispatchQueueLogFormatter::stringFromDate(double secondsSince1970) const {
    // Each call formats on its own stack, so loggers on several threads share nothing here.
    char buffer[32];
    return std::string(lgTimeStamp(buffer, secondsSince1970, secondsFromGMT_, '-'));
}

std::string LGDispatchQueueLogFormatter::queueThreadLabelForLogMessage(
    const LGLogMessage& message) const {
    std::string label;
    const std::string& queue = message.queueLabel();
    if (!queue.empty() && !isGlobalQueue(queue)) {
        label = queue;
    } else if (message.threadName() && !message.threadName()->empty()) {
        label = *message.threadName();
    } else {
        // A thread's number is not a label anyone replaces.
        label = message.threadID();
    }
    if (label != message.threadID()) {
        if (auto replacement = replacementStringForQueueLabel(label)) {
            label = std::move(*replacement);
        }
    }
    const std::uint64_t maximum = maxQueueLength();
    const std::uint64_t minimum = minQueueLength();
    if (maximum != 0 && label.size() > maximum) {
        label.resize(maximum);
    } else if (label.size() < minimum) {
        label.append(minimum - label.size(), ' ');
    }
    return label;
}

std::optional<std::string> LGDispatchQueueLogFormatter::formatLogMessage(
    const LGLogMessage& message) {
    return stringFromDate(message.timestamp().secondsSince1970) + " [" +
           queueThreadLabelForLogMessage(message) + "] " + message.message();
}

void LGDispatchQueueLogFormatter::didAddToLogger(LGLogger& /*logger*/) {
    loggerCount_.fetch_add(1);
}

void LGDispatchQueueLogFormatter::willRemoveFromLogger(LGLogger& /*logger*/) {
    loggerCount_.fetch_sub(1);
}
