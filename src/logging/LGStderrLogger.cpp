#include "logging/LGStderrLogger.h"

#include <unistd.h>

void LGStderrLogger::logMessage(const LGLogMessage& message) {
    std::string line;
    if (formatter_) {
        auto text = formatter_->formatLogMessage(message);
        if (!text) {
            return;
        }
        line = std::move(*text);
    } else {
        line = message.message();
    }
    line += '\n';
    // One write per line keeps lines whole when other processes share the stream.
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written <= 0) {
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}
