#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/bluetooth/Radio.h"
#include "platform/bluetooth/Types.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"

namespace platform::bluetooth {

class AttClient;
class CentralManager;
class RemotePeripheral;

enum class PeripheralState { disconnected, connecting, connected };

// A characteristic found on a remote peripheral. The handles say where it lives on that
// peripheral's server for the current connection.
struct RemoteCharacteristic {
    Uuid service;
    Uuid uuid;
    CharacteristicProperties properties = CharacteristicProperties::none;
    std::uint16_t valueHandle = 0;
    std::uint16_t endHandle = 0;
    bool isNotifying = false;

    friend bool operator==(const RemoteCharacteristic&, const RemoteCharacteristic&) = default;
};

struct RemoteService {
    Uuid uuid;
    std::uint16_t startHandle = 0;
    std::uint16_t endHandle = 0;
    std::vector<RemoteCharacteristic> characteristics;
};

// What a remote peripheral's GATT operations report, later, on the adapter's loop.
class RemotePeripheralDelegate {
public:
    virtual ~RemotePeripheralDelegate() = default;

    virtual void didDiscoverServices(RemotePeripheral& /*peripheral*/,
                                     const std::optional<Error>& /*error*/) {}
    virtual void didDiscoverCharacteristics(RemotePeripheral& /*peripheral*/,
                                            const RemoteService& /*service*/,
                                            const std::optional<Error>& /*error*/) {}
    // A read's answer or a notification.
    virtual void didUpdateValue(RemotePeripheral& /*peripheral*/,
                                const RemoteCharacteristic& /*characteristic*/,
                                const Bytes& /*value*/, const std::optional<Error>& /*error*/) {}
    // The answer to a write with response.
    virtual void didWriteValue(RemotePeripheral& /*peripheral*/,
                               const RemoteCharacteristic& /*characteristic*/,
                               const std::optional<Error>& /*error*/) {}
    virtual void didUpdateNotificationState(RemotePeripheral& /*peripheral*/,
                                            const RemoteCharacteristic& /*characteristic*/,
                                            const std::optional<Error>& /*error*/) {}
    // Once after a write without response was refused for a full queue, when there is room.
    virtual void isReadyToSendWriteWithoutResponse(RemotePeripheral& /*peripheral*/) {}
};

// A remote device seen by a central manager, which owns it: the object stays valid, with the
// same identifier, for the manager's lifetime. GATT operations need a connection; their
// immediate errors (not connected, unknown characteristic, property missing, value too long,
// queue full) come back as values, the peer's answers through the delegate.
class RemotePeripheral {
public:
    ~RemotePeripheral();
    RemotePeripheral(const RemotePeripheral&) = delete;
    RemotePeripheral& operator=(const RemotePeripheral&) = delete;

    [[nodiscard]] const Uuid& identifier() const { return identifier_; }
    // The advertised local name, once one was seen.
    [[nodiscard]] std::optional<std::string> name() const;
    [[nodiscard]] PeripheralState state() const;
    void setDelegate(RemotePeripheralDelegate* delegate) { delegate_.store(delegate); }

    [[nodiscard]] std::vector<RemoteService> services() const;
    [[nodiscard]] std::optional<RemoteCharacteristic> characteristic(const Uuid& service,
                                                                     const Uuid& uuid) const;

    // An empty filter finds every primary service (or characteristic of the service).
    Result<void> discoverServices(std::vector<Uuid> filter = {});
    Result<void> discoverCharacteristics(const Uuid& service, std::vector<Uuid> filter = {});
    Result<void> readValue(const RemoteCharacteristic& characteristic);
    Result<void> writeValue(std::span<const std::uint8_t> value,
                            const RemoteCharacteristic& characteristic, WriteType type);
    // Writes the characteristic's client configuration descriptor (0x0001 or 0x0000).
    Result<void> setNotifyValue(bool enabled, const RemoteCharacteristic& characteristic);
    [[nodiscard]] std::size_t maximumWriteValueLength() const;

    // What a layer above keeps about the device, under a key of its own, for as long as the
    // peripheral lives; null when never set. On the adapter's loop only.
    [[nodiscard]] Value associatedValue(std::string_view key) const {
        const Value* value = associated_.find(key);
        return value != nullptr ? *value : Value();
    }
    void setAssociatedValue(std::string_view key, Value value) {
        associated_[key] = std::move(value);
    }

private:
    friend class CentralManager;
    static constexpr double kTransactionTimeout = 30.0;

    RemotePeripheral(CentralManager& manager, const Uuid& identifier);

    // All of these run with the adapter's lock held.
    void opened(LinkId link);
    void closed();
    void receive(const std::vector<Bytes>& pdus);
    void linkReady();
    Result<void> checkConnected() const;
    RemoteCharacteristic* find(const RemoteCharacteristic& characteristic);
    void writeConfiguration(std::uint16_t valueHandle, bool enabled);
    void configurationWritten(std::uint16_t valueHandle, bool enabled, std::optional<Error> error);
    void notified(std::uint16_t handle, Bytes value);
    // Keeps one 30-second timer on the request the client has on the air.
    void armTimeout();
    void timedOut(std::uint64_t serial);
    void drop(const Error& reason);

    void post(std::function<void(RemotePeripheralDelegate&)> call);

    CentralManager& manager_;
    const Uuid identifier_;
    std::optional<std::string> name_;
    PeripheralState state_ = PeripheralState::disconnected;
    std::atomic<RemotePeripheralDelegate*> delegate_{nullptr};
    LinkId link_ = 0;
    std::unique_ptr<AttClient> client_;
    std::vector<RemoteService> services_;
    // Client configuration descriptors found so far, by value handle.
    std::map<std::uint16_t, std::uint16_t> configurations_;
    bool writeReadyOwed_ = false;
    std::shared_ptr<Timer> timeout_;
    std::uint64_t timedSerial_ = 0;
    Dictionary associated_;
};

}  // namespace platform::bluetooth
