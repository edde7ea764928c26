#include "platform/foundation/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace platform::fs {

namespace {

Error systemError(int error, const std::string& what, const std::filesystem::path& path) {
    return Error{kErrorDomain, error, what + " " + path.string() + ": " + std::strerror(error)};
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

class SystemDurability final : public Durability {
public:
    int syncFile(int fd) override { return ::fsync(fd) == 0 ? 0 : errno; }
    int syncFolder(const std::filesystem::path& folder) override {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return errno;
        }
        const int result = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        return result;
    }
};

}  // namespace

Durability& Durability::system() {
    static SystemDurability durability;
    return durability;
}

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                                 Durability& durability) {
    std::error_code ec;
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) {
            return systemError(ec.value(), "cannot create the folder of", path);
        }
    }
    std::string temporary = path.string() + std::string(kTemporaryMarker) + "XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return systemError(errno, "cannot create a temporary file for", path);
    }
    int writeError = writeAll(fd, data) ? 0 : errno;
    if (writeError == 0) {
        writeError = durability.syncFile(fd);
    }
    if (::close(fd) != 0 && writeError == 0) {
        writeError = errno;
    }
    if (writeError != 0) {
        ::unlink(temporary.c_str());
        return systemError(writeError, "cannot write", path);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return systemError(error, "cannot replace", path);
    }
    // The new file is in place. A file system that cannot sync folders at all leaves the rename
    // to its own writeback, as before; a sync that failed (EIO) may have lost it, so that is
    // reported.
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (const int error = durability.syncFolder(folder);
        error != 0 && error != EINVAL && error != ENOTSUP && error != EROFS) {
        return systemError(error, "cannot sync the folder of", path);
    }
    return {};
}

Result<std::filesystem::path> createTemporaryFile(const std::filesystem::path& path) {
    std::string temporary = path.string() + std::string(kTemporaryMarker) + "XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return systemError(errno, "cannot create a temporary file for", path);
    }
    ::close(fd);
    return std::filesystem::path(temporary);
}

bool isAtomicWriteLeftover(std::string_view name) {
    constexpr std::size_t kRandomPart = 6;  // mkstemp's XXXXXX
    if (name.size() <= kTemporaryMarker.size() + kRandomPart) {
        return false;
    }
    const auto marker = name.size() - kRandomPart - kTemporaryMarker.size();
    if (name.substr(marker, kTemporaryMarker.size()) != kTemporaryMarker) {
        return false;
    }
    const auto random = name.substr(name.size() - kRandomPart);
    return std::all_of(random.begin(), random.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::size_t sweepAtomicWriteLeftovers(const std::filesystem::path& folder) {
    std::error_code ec;
    std::vector<std::filesystem::path> leftovers;
    for (std::filesystem::recursive_directory_iterator
             it(folder, std::filesystem::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec) &&
            isAtomicWriteLeftover(it->path().filename().string())) {
            leftovers.push_back(it->path());
        }
    }
    std::size_t removed = 0;
    for (const auto& leftover : leftovers) {
        if (std::filesystem::remove(leftover, ec)) {
            ++removed;
        }
    }
    return removed;
}

Result<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return systemError(errno, "cannot open", path);
    }
    // Errors keep their errno, so callers can tell a file they may not read from a damaged one.
    const auto fail = [&](int error, const char* what) -> Result<std::string> {
        ::close(fd);
        return systemError(error, what, path);
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return fail(errno, "cannot read");
    }
    if (S_ISDIR(info.st_mode)) {
        return fail(EISDIR, "cannot read");
    }
    std::string data;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno, "cannot read");
        }
        if (got == 0) {
            break;
        }
        if (data.size() + static_cast<std::size_t>(got) > maxBytes) {
            ::close(fd);
            return Error{kErrorDomain, EFBIG,
                         path.string() + " is larger than " + std::to_string(maxBytes) + " bytes"};
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

bool isReadFailure(const Error& error) {
    return error.domain == kErrorDomain && error.code != ENOENT;
}

bool isSafePathComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace platform::fs
