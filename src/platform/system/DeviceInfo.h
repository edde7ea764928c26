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

    // The installed device information, else that of this machine.
    static DeviceInfo& current();
};

// This machine: its name is the host name.
class HostDeviceInfo final : public DeviceInfo {
public:
    [[nodiscard]] std::string name() const override;
};

// Answers fixed at construction: for tests, and for runs that stand in for a phone.
class FixedDeviceInfo final : public DeviceInfo {
public:
    explicit FixedDeviceInfo(std::string name) : name_(std::move(name)) {}

    [[nodiscard]] std::string name() const override { return name_; }

private:
    std::string name_;
};

}  // namespace platform
