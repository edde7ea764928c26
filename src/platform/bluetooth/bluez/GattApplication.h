#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluetooth/Types.h"

namespace platform::bluetooth::bluez {

// A call bluetoothd made on one of our characteristics, as a central's request reached it.
struct GattCall {
    enum class Kind { read, write, writeCommand, startNotify, stopNotify };

    std::uint64_t id = 0;
    Kind kind = Kind::read;
    // The characteristic's place among all published characteristics, in publishing order.
    std::size_t characteristic = 0;
    // The central's device object; empty when bluetoothd did not say (StartNotify, StopNotify).
    std::string device;
    std::uint16_t offset = 0;
    std::optional<std::uint16_t> mtu;
    Bytes value;
};

// Our GATT application on the bus: an object manager at kApplicationPath with one GattService1
// per service and one GattCharacteristic1 per characteristic beneath it. Reads and writes are
// answered later, by id, once the stack above decided; notifications are PropertiesChanged of
// Value. Lives on the bus thread.
class GattApplication {
public:
    GattApplication(sdbus::IConnection& connection, const std::vector<MutableService>& services,
                    std::uint64_t& nextCallId, std::function<void(GattCall)> calls);
    // Calls still unanswered get org.bluez.Error.Failed: nobody is left to answer them.
    ~GattApplication();
    GattApplication(const GattApplication&) = delete;
    GattApplication& operator=(const GattApplication&) = delete;

    void replyRead(std::uint64_t id, const Bytes& value);
    void replyWrite(std::uint64_t id);
    void replyError(std::uint64_t id, const std::string& name, const std::string& message);
    // Fails every call of that central that waits for an answer.
    void failCallsOf(const std::string& device);
    void notify(std::size_t characteristic, const Bytes& value);

private:
    struct Characteristic {
        std::unique_ptr<sdbus::IObject> object;
        Bytes value;
        bool notifying = false;
    };
    template <typename Result>
    struct Waiting {
        Result result;
        std::string device;
    };

    void addCharacteristic(const std::string& path, const std::string& servicePath,
                           const MutableCharacteristic& characteristic);
    void setNotifying(std::size_t index, bool notifying);

    std::uint64_t& nextCallId_;
    std::function<void(GattCall)> calls_;
    std::unique_ptr<sdbus::IObject> root_;
    std::vector<std::unique_ptr<sdbus::IObject>> services_;
    std::vector<Characteristic> characteristics_;
    std::map<std::uint64_t, Waiting<sdbus::Result<Bytes>>> reads_;
    std::map<std::uint64_t, Waiting<sdbus::Result<>>> writes_;
};

}  // namespace platform::bluetooth::bluez
