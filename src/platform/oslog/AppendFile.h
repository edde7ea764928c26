#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/foundation/Result.h"

namespace platform {

// A file open for writing at its end, as a log keeps one between lines.
class AppendFile {
public:
    // Opens an existing file; an error when it is missing or cannot be written.
    static Result<AppendFile> open(const std::filesystem::path& path);
    // Makes a new, empty file with the given mode; an error when one exists already.
    static Result<void> create(const std::filesystem::path& path, unsigned mode = 0600);

    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();

    // Writes all of data; on an error part of it may be written.
    Result<void> write(std::string_view data);
    // The write position: the file's size as this handle wrote it.
    [[nodiscard]] std::uint64_t offset() const { return offset_; }
    // Whether the path still names this file: false once it was deleted or renamed away.
    [[nodiscard]] bool isStillAt(const std::filesystem::path& path) const;
    // Flushes to the disk and closes; nothing when closed already.
    void syncAndClose();

private:
    AppendFile(int fd, std::uint64_t offset) : fd_(fd), offset_(offset) {}

    int fd_ = -1;
    std::uint64_t offset_ = 0;
};

}  // namespace platform
