#include "platform/system/DeviceInfo.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string_view>

#include "platform/foundation/UserDefaults.h"

namespace platform {

namespace {

// A random (version 4) UUID in the upper-case form the platform writes.
std::string makeUuid() {
    std::random_device entropy;
    std::array<std::uint8_t, 16> bytes{};
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(entropy());
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

bool isUuidText(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

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

std::string HostDeviceInfo::vendorIdentifier() const {
    // Two first callers must not each make one.
    static std::mutex making;
    std::lock_guard lock(making);
    auto& defaults = UserDefaults::standard();
    if (auto stored = defaults.string(kVendorIdentifierKey); stored && isUuidText(*stored)) {
        return *stored;
    }
    std::string made = makeUuid();
    defaults.set(kVendorIdentifierKey, made);
    (void)defaults.synchronize();  // kept in memory for this run even when the write fails
    return made;
}

std::string HostDeviceInfo::localeIdentifier() const {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string_view locale(value);
        // "de_DE.UTF-8@euro" names the locale "de_DE".
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (locale.empty() || locale == "C" || locale == "POSIX") {
            break;
        }
        return std::string(locale);
    }
    return "en_US_POSIX";
}

}  // namespace platform
