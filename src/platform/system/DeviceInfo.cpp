#include "platform/system/DeviceInfo.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <type_traits>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Text.h"
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

// The system files read here are a few hundred bytes; anything far larger is not one of them.
constexpr std::size_t kSystemFileLimit = std::size_t{64} << 10;

bool isPrintableAscii(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> firstLineOf(const std::filesystem::path& path) {
    auto contents = fs::readFile(path, kSystemFileLimit);
    if (!contents) {
        return std::nullopt;
    }
    const std::string_view text = *contents;
    const std::string_view line = trimmedAsciiSpace(text.substr(0, text.find('\n')));
    if (line.empty() || !isPrintableAscii(line)) {
        return std::nullopt;
    }
    return std::string(line);
}

// VERSION_ID's value, with the shell quoting os-release allows taken off; nothing for a
// missing, empty or badly quoted entry.
std::optional<std::string> osReleaseVersion(const std::filesystem::path& path) {
    auto contents = fs::readFile(path, kSystemFileLimit);
    if (!contents) {
        return std::nullopt;
    }
    constexpr std::string_view kKey = "VERSION_ID=";
    std::string_view rest = *contents;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = trimmedAsciiSpace(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (!line.starts_with(kKey)) {
            continue;
        }
        line.remove_prefix(kKey.size());
        if (line.size() >= 2 && (line.front() == '"' || line.front() == '\'') &&
            line.back() == line.front()) {
            line = line.substr(1, line.size() - 2);
        }
        if (line.empty() || !isPrintableAscii(line) ||
            line.find_first_of("\"'\\ ") != std::string_view::npos) {
            return std::nullopt;
        }
        return std::string(line);
    }
    return std::nullopt;
}

std::optional<utsname> systemName() {
    utsname system{};
    if (uname(&system) != 0) {
        return std::nullopt;
    }
    return system;
}

template <std::size_t N>
std::string boundedText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// A zone file's name is its path below the zoneinfo folder ("Europe/Berlin"); a path that is
// a link into that folder, as /etc/localtime is, names the zone it points at.
std::optional<std::string> zoneNameOfPath(const std::filesystem::path& path) {
    constexpr std::string_view kFolder = "zoneinfo/";
    const auto below = [&](std::string_view text) -> std::optional<std::string> {
        const auto at = text.rfind(kFolder);
        if (at == std::string_view::npos || at + kFolder.size() == text.size()) {
            return std::nullopt;
        }
        return std::string(text.substr(at + kFolder.size()));
    };
    if (auto name = below(path.native())) {
        return name;
    }
    std::error_code failure;
    const auto target = std::filesystem::read_symlink(path, failure);
    if (failure) {
        return std::nullopt;
    }
    return below(target.native());
}

std::string timeZoneName() {
    // The C library reads an empty TZ, and a lone ":", as UTC.
    if (const char* variable = std::getenv("TZ"); variable != nullptr) {
        std::string_view tz(variable);
        if (!tz.empty() && tz.front() == ':') {
            tz.remove_prefix(1);
        }
        if (tz.empty()) {
            return "UTC";
        }
        if (tz.front() != '/') {
            return std::string(tz);  // a zone's name, or a rule such as "EST5EDT"
        }
        if (auto name = zoneNameOfPath(std::filesystem::path(tz))) {
            return *name;
        }
    }
    if (auto name = firstLineOf("/etc/timezone")) {
        return *name;
    }
    if (auto name = zoneNameOfPath("/etc/localtime")) {
        return *name;
    }
    return "UTC";
}

std::int64_t secondsFromGMT(std::int64_t unixSeconds) {
    // POSIX lets localtime_r skip reading TZ, so the rules are read here, once for the run.
    static std::once_flag rulesRead;
    std::call_once(rulesRead, [] { tzset(); });
    const auto when = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

using LocaleHandle = std::unique_ptr<std::remove_pointer_t<locale_t>, decltype(&freelocale)>;

LocaleHandle environmentTimeLocale() {
    locale_t locale = newlocale(LC_TIME_MASK, "", nullptr);
    if (locale == nullptr) {
        locale = newlocale(LC_TIME_MASK, "C", nullptr);
    }
    return LocaleHandle(locale, &freelocale);
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

std::string HostDeviceInfo::systemVersion() const {
    if (auto version = osReleaseVersion("/etc/os-release")) {
        return *version;
    }
    const auto system = systemName();
    return system ? boundedText(system->release) : std::string();
}

std::string HostDeviceInfo::machineIdentifier() const {
    const auto system = systemName();
    return system ? boundedText(system->machine) : std::string();
}

TimeZone HostDeviceInfo::timeZone(std::int64_t unixSeconds) const {
    return TimeZone{timeZoneName(), secondsFromGMT(unixSeconds)};
}

bool HostDeviceInfo::showsAmPm() const {
    const LocaleHandle locale = environmentTimeLocale();
    if (!locale) {
        return false;
    }
    // An afternoon time, so that a 12-hour format has to show its PM symbol.
    std::tm afternoon{};
    afternoon.tm_year = 100;
    afternoon.tm_mday = 1;
    afternoon.tm_hour = 15;
    afternoon.tm_min = 30;
    std::array<char, 128> buffer{};
    const std::size_t length =
        strftime_l(buffer.data(), buffer.size(), "%X", &afternoon, locale.get());
    const std::string_view shown(buffer.data(), length);
    const auto shows = [&](nl_item item) {
        const char* symbol = nl_langinfo_l(item, locale.get());
        return symbol != nullptr && *symbol != '\0' && shown.find(symbol) != std::string_view::npos;
    };
    return shows(AM_STR) || shows(PM_STR);
}

}  // namespace platform
