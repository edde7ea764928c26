#include "platform/oslog/Console.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

bool StandardErrorConsole::isTerminal() const {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string StandardErrorConsole::terminalType() const {
    const char* type = std::getenv("TERM");
    return type == nullptr ? std::string() : std::string(type);
}

void StandardErrorConsole::write(std::span<const std::string_view> pieces) {
    std::vector<iovec> vectors;
    vectors.reserve(pieces.size());
    for (const auto piece : pieces) {
        if (!piece.empty()) {
            vectors.push_back({const_cast<char*>(piece.data()), piece.size()});
        }
    }
    // A short write (a full pipe) finishes with the rest rather than splitting the line's order.
    std::size_t first = 0;
    while (first < vectors.size()) {
        const ssize_t written = ::writev(STDERR_FILENO, vectors.data() + first,
                                         static_cast<int>(vectors.size() - first));
        if (written <= 0) {
            return;
        }
        auto left = static_cast<std::size_t>(written);
        while (first < vectors.size() && left >= vectors[first].iov_len) {
            left -= vectors[first].iov_len;
            ++first;
        }
        if (first < vectors.size()) {
            vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + left;
            vectors[first].iov_len -= left;
        }
    }
}

void RecordingConsole::write(std::span<const std::string_view> pieces) {
    std::lock_guard lock(mutex_);
    for (const auto piece : pieces) {
        written_.append(piece);
    }
}

std::string RecordingConsole::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

}  // namespace platform
