#include "platform/net/FileBodyStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/net/URLError.h"

namespace platform::net {

FileBodyStream::FileBodyStream(std::filesystem::path path) : path_(std::move(path)) {}

FileBodyStream::~FileBodyStream() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Result<std::size_t> FileBodyStream::read(std::span<std::uint8_t> buffer) {
    if (fd_ < 0) {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            return Error{kURLErrorDomain, urlerror::fileDoesNotExist,
                         "cannot open " + path_.string() + ": " + std::strerror(errno)};
        }
    }
    ssize_t got = 0;
    do {
        got = ::read(fd_, buffer.data(), buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return Error{kURLErrorDomain, urlerror::unknown,
                     "cannot read " + path_.string() + ": " + std::strerror(errno)};
    }
    return static_cast<std::size_t>(got);
}

std::optional<std::int64_t> FileBodyStream::length() const {
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(size);
}

}  // namespace platform::net
