#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/foundation/Replaceable.h"

namespace platform {

// The phone's time zone as it stood at one moment.
struct TimeZone {
    std::string name;                 // "Europe/Berlin"
    std::int64_t secondsFromGMT = 0;  // negative west of Greenwich
};

// What the application tells others about the phone it runs on.
class DeviceInfo : public Replaceable<DeviceInfo> {
public:
    virtual ~DeviceInfo() = default;

    // The name the user gave the device, as other devices show it.
    [[nodiscard]] virtual std::string name() const = 0;
    // This installation's identity towards the watch: an upper-case UUID string that stays the
    // same until the application's data is removed.
    [[nodiscard]] virtual std::string vendorIdentifier() const = 0;
    // The user's locale as the watch is told it: language and region ("en_US").
    [[nodiscard]] virtual std::string localeIdentifier() const = 0;
    // The operating system's version ("12", "6.1.0-18-amd64").
    [[nodiscard]] virtual std::string systemVersion() const = 0;
    // The hardware the system runs on, as the kernel names it ("x86_64").
    [[nodiscard]] virtual std::string machineIdentifier() const = 0;
    // The local time zone's name, and its offset from GMT at unixSeconds.
    [[nodiscard]] virtual TimeZone timeZone(std::int64_t unixSeconds) const = 0;
    // Whether the user's short time format shows an AM or PM symbol (a 12-hour clock).
    [[nodiscard]] virtual bool showsAmPm() const = 0;

    // The installed device information, else that of this machine.
    static DeviceInfo& current();
};

// This machine: its name is the host name; the vendor identifier is made on first use and
// kept in the standard user defaults; the locale comes from the environment (LC_ALL,
// LC_MESSAGES, LANG), "en_US_POSIX" when none names one; the system version is the
// distribution's (os-release VERSION_ID), else the kernel release; the machine is uname's;
// the time zone is TZ's, else the system's (/etc/timezone, /etc/localtime), else "UTC"; the
// clock style is that of the environment's LC_TIME.
class HostDeviceInfo final : public DeviceInfo {
public:
    static constexpr const char* kVendorIdentifierKey = "vendorIdentifier";

    [[nodiscard]] std::string name() const override;
    [[nodiscard]] std::string vendorIdentifier() const override;
    [[nodiscard]] std::string localeIdentifier() const override;
    [[nodiscard]] std::string systemVersion() const override;
    [[nodiscard]] std::string machineIdentifier() const override;
    [[nodiscard]] TimeZone timeZone(std::int64_t unixSeconds) const override;
    [[nodiscard]] bool showsAmPm() const override;
};

// Answers fixed at construction: for tests, and for runs that stand in for a phone.
class FixedDeviceInfo final : public DeviceInfo {
public:
    explicit FixedDeviceInfo(std::string name,
                             std::string vendorIdentifier = "00000000-0000-4000-8000-000000000000",
                             std::string localeIdentifier = "en_US")
        : name_(std::move(name)),
          vendorIdentifier_(std::move(vendorIdentifier)),
          localeIdentifier_(std::move(localeIdentifier)) {}

    [[nodiscard]] std::string name() const override { return name_; }
    [[nodiscard]] std::string vendorIdentifier() const override { return vendorIdentifier_; }
    [[nodiscard]] std::string localeIdentifier() const override { return localeIdentifier_; }
    [[nodiscard]] std::string systemVersion() const override { return systemVersion_; }
    [[nodiscard]] std::string machineIdentifier() const override { return machineIdentifier_; }
    [[nodiscard]] TimeZone timeZone(std::int64_t /*unixSeconds*/) const override {
        return timeZone_;
    }
    [[nodiscard]] bool showsAmPm() const override { return showsAmPm_; }

    // A phone whose settings change while the application runs.
    void setLocaleIdentifier(std::string locale) { localeIdentifier_ = std::move(locale); }
    void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }
    void setMachineIdentifier(std::string machine) { machineIdentifier_ = std::move(machine); }
    void setTimeZone(TimeZone zone) { timeZone_ = std::move(zone); }
    void setShowsAmPm(bool shows) { showsAmPm_ = shows; }

private:
    std::string name_;
    std::string vendorIdentifier_;
    std::string localeIdentifier_;
    std::string systemVersion_ = "12";
    std::string machineIdentifier_ = "x86_64";
    TimeZone timeZone_{"UTC", 0};
    bool showsAmPm_ = false;
};

}  // namespace platform
