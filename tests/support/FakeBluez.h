#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluetooth/Radio.h"
#include "platform/foundation/RunLoop.h"

namespace testing_support {

// What a GATT application published, as bluetoothd read it with GetManagedObjects, and what
// did not follow the documented interfaces.
struct PublishedGatt {
    struct Service {
        std::string path;
        std::string uuid;
        bool primary = false;
    };
    struct Characteristic {
        std::string path;
        std::string uuid;
        std::string service;
        std::vector<std::string> flags;
        bool notifying = false;
    };
    std::vector<Service> services;
    std::vector<Characteristic> characteristics;
    std::vector<std::string> problems;
};

struct PublishedAdvertisement {
    std::string type;
    std::vector<std::string> serviceUuids;
    std::vector<std::string> solicitUuids;
    std::map<std::uint16_t, platform::Bytes> manufacturerData;
    std::optional<std::string> localName;
    std::vector<std::string> problems;
};

struct FakeBluezCounts {
    int applicationRegistrations = 0;
    int advertisementRegistrations = 0;
    // Calls refused as failNext asked.
    int refusals = 0;
    bool applicationRegistered = false;
    bool advertising = false;
    bool discovering = false;
    // The discovery filter's Transport.
    std::string transport;
    int notificationsDelivered = 0;
};

// A small bluetoothd on a test's bus: org.bluez with an object manager, one adapter
// ("/org/bluez/hci0": Adapter1, GattManager1, LEAdvertisingManager1) and its devices (Device1).
// Its air reaches simulated devices through radios it hands out (attach): a device's
// advertising makes a Device1 the phone discovers, the phone's Connect reaches the device as a
// central's connection, and a device connecting to the phone becomes a central of the phone's
// GATT application: its ATT requests turn into ReadValue, WriteValue, StartNotify and
// StopNotify calls with the documented options, and the application's PropertiesChanged of
// Value come back to it as notifications. It serves from a thread of its own; radio events
// reach the devices on the loop given.
class FakeBluez {
public:
    static constexpr const char* kAdapterPath = "/org/bluez/hci0";

    // Null when it cannot take org.bluez on the bus at address. `phone` is how devices on the
    // air name the application's side.
    static std::unique_ptr<FakeBluez> start(const std::string& address, platform::RunLoop& loop,
                                            const platform::bluetooth::Uuid& phone,
                                            bool withAdapter = true);
    ~FakeBluez();
    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    // The radio of a simulated device with that Bluetooth address ("C0:11:22:33:44:55"); it
    // is on while it exists. Make it and destroy it on the loop's thread.
    std::unique_ptr<platform::bluetooth::Radio> attach(const platform::bluetooth::Uuid& device,
                                                       const std::string& address);
    // The device path bluetoothd gives that address.
    static std::string devicePath(const std::string& address);

    // Misbehaving.
    void removeAdapter();
    void addAdapter();
    void setPowered(bool powered);
    // The daemon leaves the bus without a word, as a crash; start() brings it back with none
    // of what was registered.
    void stopDaemon();
    void startDaemon();
    // The next call of that method fails with that org.bluez error.
    void failNext(const std::string& method, const std::string& errorName);
    // The device's connection ends from its side (reason org.bluez.Reason.Remote).
    void dropConnection(const std::string& address);
    // Notifications for devices are held until released, so a test can end a connection while
    // some are on their way.
    void holdNotifications(bool hold);

    [[nodiscard]] FakeBluezCounts counts() const;
    [[nodiscard]] PublishedGatt application() const;
    [[nodiscard]] std::optional<PublishedAdvertisement> advertisement() const;

    struct Daemon;

private:
    FakeBluez() = default;
    std::shared_ptr<Daemon> daemon_;
};

}  // namespace testing_support
