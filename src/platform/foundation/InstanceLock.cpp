#include "platform/foundation/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace platform {

namespace {

constexpr const char* kErrorDomain = "platform.instanceLock";

// The holder's process id as it wrote it, bounded by what a process id can be.
std::string holderOf(int fd) {
    char text[24] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    std::string holder(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) {
        holder.pop_back();
    }
    return holder;
}

}  // namespace

Result<InstanceLock> InstanceLock::acquire(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        return Error{kErrorDomain, error,
                     "cannot open the lock file " + file.string() + ": " + std::strerror(error)};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const std::string holder = error == EWOULDBLOCK ? holderOf(fd) : std::string();
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return Error{kErrorDomain, EWOULDBLOCK,
                         file.parent_path().string() + " is in use by another process" +
                             (holder.empty() ? std::string() : " (process " + holder + ")")};
        }
        return Error{kErrorDomain, error,
                     "cannot lock " + file.string() + ": " + std::strerror(error)};
    }
    // Only the holder writes, so the id never mixes with another's.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds without the id; only the refusal's message is poorer for it.
    }
    return InstanceLock(file, fd);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : file_(std::move(other.file_)), fd_(std::exchange(other.fd_, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        file_ = std::move(other.file_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    // Closing the last descriptor of the open file lets go of the lock.
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace platform
