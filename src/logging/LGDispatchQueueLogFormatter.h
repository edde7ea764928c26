#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "logging/LGLogger.h"

// "<yyyy-MM-dd HH:mm:ss:SSS> [<label>] <text>": the label is the record's queue (the global
// queues do not count), else its thread's name, else its thread identifier; a full label may
// be replaced by a short one, and is then cut to maxQueueLength or padded to minQueueLength.
class LGDispatchQueueLogFormatter : public LGLogFormatter {
public:
    // Without an offset from GMT, the machine's time zone.
    explicit LGDispatchQueueLogFormatter(std::optional<long> secondsFromGMT = std::nullopt)
        : secondsFromGMT_(secondsFromGMT) {}

    [[nodiscard]] std::optional<std::string> replacementStringForQueueLabel(
        const std::string& label) const;
    // No replacement removes the entry.
    void setReplacementString(std::optional<std::string> replacement, const std::string& label);

    [[nodiscard]] std::uint64_t minQueueLength() const { return minQueueLength_.load(); }
    void setMinQueueLength(std::uint64_t length) { minQueueLength_.store(length); }
    [[nodiscard]] std::uint64_t maxQueueLength() const { return maxQueueLength_.load(); }
    void setMaxQueueLength(std::uint64_t length) { maxQueueLength_.store(length); }

    [[nodiscard]] std::string stringFromDate(double secondsSince1970) const;
    [[nodiscard]] std::string queueThreadLabelForLogMessage(const LGLogMessage& message) const;
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override;
    void didAddToLogger(LGLogger& logger) override;
    void willRemoveFromLogger(LGLogger& logger) override;
    [[nodiscard]] int loggerCount() const { return loggerCount_.load(); }

private:
    const std::optional<long> secondsFromGMT_;
    std::atomic<int> loggerCount_{0};
    std::atomic<std::uint64_t> minQueueLength_{0};
    std::atomic<std::uint64_t> maxQueueLength_{0};
    mutable std::mutex mutex_;
    std::map<std::string, std::string> replacements_;
};
