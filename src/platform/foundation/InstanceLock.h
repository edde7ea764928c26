#pragma once

#include <filesystem>

#include "platform/foundation/Result.h"

namespace platform {

// An exclusive claim on a folder by one process: a lock file held with flock(2) for as long
// as the object lives. The kernel lets go when the process ends, however it ends, so a crash
// leaves nothing to clean up. The lock file keeps the holder's process id, for the message of
// the one refused.
class InstanceLock {
public:
    // Another process holds the lock: the error's code is EWOULDBLOCK.
    static Result<InstanceLock> acquire(const std::filesystem::path& file);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    [[nodiscard]] const std::filesystem::path& file() const { return file_; }

private:
    InstanceLock(std::filesystem::path file, int fd) : file_(std::move(file)), fd_(fd) {}

    std::filesystem::path file_;
    int fd_ = -1;
};

}  // namespace platform
