#include "platform/system/DeviceInfo.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <cstring>

namespace platform {

DeviceInfo& DeviceInfo::current() {
    return installedOr([]() -> DeviceInfo& {
        static HostDeviceInfo host;
        return host;
    });
}

std::string HostDeviceInfo::name() const {
    // POSIX leaves a truncated name without its terminator, so the last byte stays ours.
    std::array<char, HOST_NAME_MAX + 2> buffer{};
    if (gethostname(buffer.data(), buffer.size() - 1) != 0) {
        return {};
    }
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size() - 1));
}

}  // namespace platform
