#pragma once

#include <string>
#include <utility>

#include "platform/foundation/Replaceable.h"

namespace platform {

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

    // The installed device information, else that of this machine.
    static DeviceInfo& current();
};

// This machine: its name is the host name; the vendor identifier is made on first use and
// kept in the standard user defaults; the locale comes from the environment (LC_ALL,
// LC_MESSAGES, LANG), "en_US_POSIX" when none names one.
class HostDeviceInfo final : public DeviceInfo {
public:
    static constexpr const char* kVendorIdentifierKey = "vendorIdentifier";

    [[nodiscard]] std::string name() const override;
    [[nodiscard]] std::string vendorIdentifier() const override;
    [[nodiscard]] std::string localeIdentifier() const override;
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

private:
    std::string name_;
    std::string vendorIdentifier_;
    std::string localeIdentifier_;
};

}  // namespace platform
