#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/foundation/Result.h"
#include "sim/PacketLink.h"

namespace kavowatch {

// What the phone link tells the watch.
class PhoneLinkListener {
public:
    // Subscribed to the phone's notifications, and the address characteristic answered.
    virtual void phoneLinkUp() = 0;
    // The connection ended, failed or never came about.
    virtual void phoneLinkDown() = 0;
    virtual void packetArrived(std::span<const std::uint8_t> packet) = 0;
    // The phone answered the pending write.
    virtual void packetWritten() = 0;

protected:
    ~PhoneLinkListener() = default;
};

// The watch as GATT client of the phone's link service: finds the phone by the service it
// advertises, connects, discovers, subscribes to the notify characteristic, reads the address
// characteristic, and then carries packets: the phone's as notifications, the watch's as
// writes with response, one at a time, so the phone's answers pace the flow.
class PhoneLink final : public PacketLink,
                        public platform::bluetooth::CentralManagerDelegate,
                        public platform::bluetooth::RemotePeripheralDelegate {
public:
    enum class State {
        idle,
        scanning,
        connecting,
        discovering,
        subscribing,
        readingAddress,
        up,
        closing
    };

    explicit PhoneLink(PhoneLinkListener& listener) : listener_(listener) {}
    PhoneLink(const PhoneLink&) = delete;
    PhoneLink& operator=(const PhoneLink&) = delete;

    // The central manager to work through (borrowed), or none: then everything is forgotten
    // without a word to the listener.
    void attach(platform::bluetooth::CentralManager* manager);

    // Scans for the link service (from the given phone only, when one is named) and connects.
    void connect(std::optional<platform::bluetooth::Uuid> phone);
    // Unsubscribes, then ends the connection.
    void disconnect();

    [[nodiscard]] State state() const { return state_; }
    [[nodiscard]] bool isSubscribed() const {
        return state_ == State::readingAddress || state_ == State::up;
    }
    [[nodiscard]] std::optional<platform::bluetooth::Uuid> phone() const;
    // The address characteristic's answer on this connection, once there is one.
    [[nodiscard]] const std::optional<platform::Result<platform::Bytes>>& addressRead() const {
        return addressRead_;
    }

    Outcome transmit(std::span<const std::uint8_t> packet) override;

private:
    // CentralManagerDelegate
    void centralManagerDidUpdateState(platform::bluetooth::CentralManager& manager) override;
    void didDiscoverPeripheral(platform::bluetooth::CentralManager& manager,
                               platform::bluetooth::RemotePeripheral& peripheral,
                               const platform::bluetooth::AdvertisementData& data,
                               int rssi) override;
    void didConnectPeripheral(platform::bluetooth::CentralManager& manager,
                              platform::bluetooth::RemotePeripheral& peripheral) override;
    void didFailToConnectPeripheral(platform::bluetooth::CentralManager& manager,
                                    platform::bluetooth::RemotePeripheral& peripheral,
                                    const platform::Error& error) override;
    void didDisconnectPeripheral(platform::bluetooth::CentralManager& manager,
                                 platform::bluetooth::RemotePeripheral& peripheral,
                                 const std::optional<platform::Error>& error) override;
    // RemotePeripheralDelegate
    void didDiscoverServices(platform::bluetooth::RemotePeripheral& peripheral,
                             const std::optional<platform::Error>& error) override;
    void didDiscoverCharacteristics(platform::bluetooth::RemotePeripheral& peripheral,
                                    const platform::bluetooth::RemoteService& service,
                                    const std::optional<platform::Error>& error) override;
    void didUpdateValue(platform::bluetooth::RemotePeripheral& peripheral,
                        const platform::bluetooth::RemoteCharacteristic& characteristic,
                        const platform::Bytes& value,
                        const std::optional<platform::Error>& error) override;
    void didWriteValue(platform::bluetooth::RemotePeripheral& peripheral,
                       const platform::bluetooth::RemoteCharacteristic& characteristic,
                       const std::optional<platform::Error>& error) override;
    void didUpdateNotificationState(platform::bluetooth::RemotePeripheral& peripheral,
                                    const platform::bluetooth::RemoteCharacteristic& characteristic,
                                    const std::optional<platform::Error>& error) override;

    [[nodiscard]] bool isOurs(const platform::bluetooth::RemotePeripheral& peripheral) const {
        return &peripheral == peripheral_;
    }
    [[nodiscard]] std::optional<platform::bluetooth::RemoteCharacteristic> characteristic(
        const platform::bluetooth::Uuid& uuid) const;
    void startScan();
    void becomeUp();
    // Gives up on this connection: it is ended, and the listener hears of it then.
    void abandon(const char* why);
    void wentDown();

    PhoneLinkListener& listener_;
    platform::bluetooth::CentralManager* manager_ = nullptr;
    platform::bluetooth::RemotePeripheral* peripheral_ = nullptr;
    std::optional<platform::bluetooth::Uuid> target_;
    State state_ = State::idle;
    bool writePending_ = false;
    std::optional<platform::Result<platform::Bytes>> addressRead_;
};

}  // namespace kavowatch
