#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/LogSink.h"

namespace testing_support {

// Keeps every platform log line. Lines come from the air's own threads too.
class RecordingLogSink final : public platform::LogSink {
public:
    struct Line {
        platform::LogLevel level;
        platform::LogSite site;
        std::string message;
    };

    [[nodiscard]] bool admits(platform::LogLevel /*level*/) const override { return true; }
    void write(platform::LogLevel level, const platform::LogSite& site,
               std::string message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({level, site, std::move(message)});
    }

    [[nodiscard]] std::vector<Line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Whether a line holds text.
    [[nodiscard]] bool contains(std::string_view text) const {
        std::lock_guard lock(mutex_);
        for (const Line& line : lines_) {
            if (line.message.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

// Installs a log sink for the lifetime of a scope and puts the previous one back.
class ScopedLogSink {
public:
    explicit ScopedLogSink(std::shared_ptr<platform::LogSink> sink)
        : previous_(platform::LogSink::install(std::move(sink))) {}
    ~ScopedLogSink() { platform::LogSink::install(std::move(previous_)); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

private:
    std::shared_ptr<platform::LogSink> previous_;
};

}  // namespace testing_support
