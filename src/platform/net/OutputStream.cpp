#include "platform/net/OutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/net/URLError.h"

namespace platform::net {

namespace {

Error fileError(long code, const std::string& what, const std::filesystem::path& path) {
    return Error{kURLErrorDomain, code, what + " " + path.string() + ": " + std::strerror(errno)};
}

}  // namespace

void MemoryOutputStream::open() {
    if (status() == Status::notOpen) {
        setStatus(Status::open);
    }
}

void MemoryOutputStream::close() {
    if (status() != Status::error) {
        setStatus(Status::closed);
    }
}

std::int64_t MemoryOutputStream::write(std::span<const std::uint8_t> bytes) {
    if (status() != Status::open) {
        return refuseWrite();
    }
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return static_cast<std::int64_t>(bytes.size());
}

FileOutputStream::FileOutputStream(std::filesystem::path path, bool append,
                                   std::optional<std::uint64_t> maxBytes)
    : path_(std::move(path)), append_(append), maxBytes_(maxBytes) {}

FileOutputStream::~FileOutputStream() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FileOutputStream::open() {
    if (status() != Status::notOpen) {
        return;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC);
    fd_ = ::open(path_.c_str(), flags, 0644);
    if (fd_ < 0) {
        fail(fileError(urlerror::cannotCreateFile, "cannot open", path_));
        return;
    }
    if (append_) {
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        offset_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    setStatus(Status::open);
}

void FileOutputStream::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (status() != Status::error) {
        setStatus(Status::closed);
    }
}

std::int64_t FileOutputStream::write(std::span<const std::uint8_t> bytes) {
    if (status() != Status::open) {
        return refuseWrite();
    }
    if (maxBytes_ && bytes.size() > *maxBytes_ - std::min(offset_, *maxBytes_)) {
        return fail(Error{kURLErrorDomain, urlerror::dataLengthExceedsMaximum,
                          path_.string() + " would pass " + std::to_string(*maxBytes_) + " bytes"});
    }
    ssize_t written = 0;
    do {
        written = ::write(fd_, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        return fail(fileError(urlerror::cannotWriteToFile, "cannot write", path_));
    }
    offset_ += static_cast<std::uint64_t>(written);
    return written;
}

std::optional<std::uint64_t> FileOutputStream::fileCurrentOffset() const {
    return offset_;
}

}  // namespace platform::net
