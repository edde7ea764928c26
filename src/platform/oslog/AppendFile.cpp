#include "platform/oslog/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

namespace {

Error fileError(const std::filesystem::path& path, int code) {
    return Error{"platform.file", code, path.string() + ": " + std::strerror(code)};
}

}  // namespace

Result<AppendFile> AppendFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return fileError(path, errno);
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        const int code = errno;
        ::close(fd);
        return fileError(path, code);
    }
    return AppendFile(fd, static_cast<std::uint64_t>(end));
}

Result<void> AppendFile::create(const std::filesystem::path& path, unsigned mode) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) {
        return fileError(path, errno);
    }
    ::close(fd);
    return {};
}

AppendFile::AppendFile(AppendFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), offset_(other.offset_) {}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    if (this != &other) {
        syncAndClose();
        fd_ = std::exchange(other.fd_, -1);
        offset_ = other.offset_;
    }
    return *this;
}

AppendFile::~AppendFile() {
    syncAndClose();
}

Result<void> AppendFile::write(std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd_, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Error{"platform.file", errno, std::strerror(errno)};
        }
        offset_ += static_cast<std::uint64_t>(written);
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

bool AppendFile::isStillAt(const std::filesystem::path& path) const {
    struct stat open {};
    struct stat named {};
    if (::fstat(fd_, &open) != 0 || open.st_nlink == 0) {
        return false;
    }
    return ::stat(path.c_str(), &named) == 0 && named.st_dev == open.st_dev &&
           named.st_ino == open.st_ino;
}

void AppendFile::syncAndClose() {
    if (fd_ < 0) {
        return;
    }
    ::fsync(fd_);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
