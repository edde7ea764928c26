#include "platform/foundation/LogSink.h"

#include <mutex>

namespace platform {

namespace {

// The one installed sink. Readers copy the pointer under the lock, so a sink replaced while a
// line is on its way stays alive until that line is written.
class InstalledSink {
public:
    std::shared_ptr<LogSink> exchange(std::shared_ptr<LogSink> sink) {
        std::lock_guard lock(mutex_);
        sink_.swap(sink);
        return sink;
    }
    std::shared_ptr<LogSink> get() {
        std::lock_guard lock(mutex_);
        return sink_;
    }

private:
    std::mutex mutex_;
    std::shared_ptr<LogSink> sink_;
};

InstalledSink& installedSink() {
    // Never destroyed: threads may still log while other statics go away.
    static InstalledSink* const instance = new InstalledSink;
    return *instance;
}

}  // namespace

std::shared_ptr<LogSink> LogSink::install(std::shared_ptr<LogSink> sink) {
    return installedSink().exchange(std::move(sink));
}

std::shared_ptr<LogSink> LogSink::installed() {
    return installedSink().get();
}

void logLine(LogLevel level, const LogSite& site, std::string_view message) {
    logLazily(level, site, [message] { return std::string(message); });
}

}  // namespace platform
