#include "platform/oslog/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

std::string userName(const std::string& name) {
    return "user." + name;
}

Error attributeError(int code) {
    const long kind = code == ENODATA                    ? ExtendedAttributes::kAbsent
                      : code == ENOTSUP || code == EPERM ? ExtendedAttributes::kUnsupported
                                                         : 0;
    return Error{"platform.xattr", kind, std::strerror(code)};
}

Error unsupported() {
    return Error{"platform.xattr", ExtendedAttributes::kUnsupported, std::strerror(ENOTSUP)};
}

}  // namespace

Result<bool> HostExtendedAttributes::has(const std::filesystem::path& file,
                                         const std::string& name) {
    if (::getxattr(file.c_str(), userName(name).c_str(), nullptr, 0) >= 0) {
        return true;
    }
    if (errno == ENODATA) {
        return false;
    }
    return attributeError(errno);
}

Result<void> HostExtendedAttributes::add(const std::filesystem::path& file,
                                         const std::string& name) {
    if (::setxattr(file.c_str(), userName(name).c_str(), "", 0, 0) != 0) {
        return attributeError(errno);
    }
    return {};
}

Result<void> HostExtendedAttributes::remove(const std::filesystem::path& file,
                                            const std::string& name) {
    if (::removexattr(file.c_str(), userName(name).c_str()) != 0) {
        return attributeError(errno);
    }
    return {};
}

Result<bool> MemoryExtendedAttributes::has(const std::filesystem::path& file,
                                           const std::string& name) {
    if (!supported_) {
        return unsupported();
    }
    std::lock_guard lock(mutex_);
    return marks_.contains({file.string(), name});
}

Result<void> MemoryExtendedAttributes::add(const std::filesystem::path& file,
                                           const std::string& name) {
    if (!supported_) {
        return unsupported();
    }
    std::lock_guard lock(mutex_);
    marks_.insert({file.string(), name});
    return {};
}

Result<void> MemoryExtendedAttributes::remove(const std::filesystem::path& file,
                                              const std::string& name) {
    if (!supported_) {
        return unsupported();
    }
    std::lock_guard lock(mutex_);
    if (marks_.erase({file.string(), name}) == 0) {
        return Error{"platform.xattr", kAbsent, std::strerror(ENODATA)};
    }
    return {};
}

}  // namespace platform
