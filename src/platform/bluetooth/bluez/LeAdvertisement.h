#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <memory>

#include "platform/bluetooth/Types.h"

namespace platform::bluetooth::bluez {

// The advertisement we hand to LEAdvertisingManager1: an LEAdvertisement1 object at
// kAdvertisementPath with the data the peripheral role asked for. Lives on the bus thread.
class LeAdvertisement {
public:
    // `released` runs when bluetoothd calls Release: it dropped the advertisement itself.
    LeAdvertisement(sdbus::IConnection& connection, const AdvertisementData& data,
                    std::function<void()> released);

private:
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace platform::bluetooth::bluez
