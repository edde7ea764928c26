#include "platform/foundation/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

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

}  // namespace

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view data) {
    std::error_code ec;
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) {
            return systemError(ec.value(), "cannot create the folder of", path);
        }
    }
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return systemError(errno, "cannot create a temporary file for", path);
    }
    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        const int error = written ? errno : writeError;
        ::unlink(temporary.c_str());
        return systemError(error, "cannot write", path);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return systemError(error, "cannot replace", path);
    }
    return {};
}

Result<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return systemError(errno == 0 ? ENOENT : errno, "cannot open", path);
    }
    std::string data;
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        if (data.size() + got > maxBytes) {
            return Error{kErrorDomain, EFBIG,
                         path.string() + " is larger than " + std::to_string(maxBytes) + " bytes"};
        }
        data.append(buffer, got);
    }
    if (in.bad()) {
        return systemError(EIO, "cannot read", path);
    }
    return data;
}

bool isSafePathComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace platform::fs
