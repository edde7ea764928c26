#pragma once

#include <memory>
#include <string>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/PeripheralManager.h"
#include "platform/foundation/RunLoop.h"
#include "sim/Watch.h"

namespace kavowatch {

// A Bluetooth device in reach that is no watch (a speaker, a neighbour's phone): it advertises
// its name and nothing else, publishes nothing and ignores every connection. The phone's lists
// must leave it out. Lives on the loop's thread.
class PlainDevice final : private platform::bluetooth::PeripheralManagerDelegate {
public:
    PlainDevice(platform::RunLoop& loop, RadioFactory radios, platform::bluetooth::Uuid identifier,
                std::string name);
    ~PlainDevice() override;
    PlainDevice(const PlainDevice&) = delete;
    PlainDevice& operator=(const PlainDevice&) = delete;

    [[nodiscard]] const platform::bluetooth::Uuid& identifier() const { return identifier_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    // Comes onto the air and advertises its name once the radio is on.
    void powerOn();
    [[nodiscard]] bool isAdvertising() const;

private:
    struct Stack {
        Stack(std::unique_ptr<platform::bluetooth::Radio> radio, platform::RunLoop& loop,
              platform::bluetooth::PeripheralManagerDelegate* delegate)
            : adapter(std::move(radio), loop), peripheral(adapter, delegate) {}
        platform::bluetooth::Adapter adapter;
        platform::bluetooth::PeripheralManager peripheral;
    };

    void peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& manager) override;

    platform::RunLoop& loop_;
    RadioFactory radios_;
    platform::bluetooth::Uuid identifier_;
    std::string name_;
    std::unique_ptr<Stack> stack_;
};

}  // namespace kavowatch
