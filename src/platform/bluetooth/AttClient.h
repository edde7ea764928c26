#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/bluetooth/AttPdu.h"
#include "platform/foundation/Result.h"

namespace platform::bluetooth {

// The client side of one ATT bearer: runs discovery, reads and writes one request at a time,
// in the order asked, and hands notifications over. Owns no transport, thread or timer; the
// owner moves the PDUs and times the transactions by outstanding().
class AttClient {
public:
    struct ServiceRange {
        Uuid uuid;
        std::uint16_t start = 0;
        std::uint16_t end = 0;
    };
    struct CharacteristicEntry {
        Uuid uuid;
        CharacteristicProperties properties = CharacteristicProperties::none;
        std::uint16_t declaration = 0;
        std::uint16_t value = 0;
    };
    struct DescriptorEntry {
        Uuid type;
        std::uint16_t handle = 0;
    };

    template <typename T>
    using Done = std::function<void(Result<T>)>;

    explicit AttClient(std::function<void(Bytes)> sendPdu, std::uint16_t localMtu = att::kMaxMtu);

    void exchangeMtu();
    void discoverServices(Done<std::vector<ServiceRange>> done);
    void discoverCharacteristics(std::uint16_t start, std::uint16_t end,
                                 Done<std::vector<CharacteristicEntry>> done);
    void discoverDescriptors(std::uint16_t start, std::uint16_t end,
                             Done<std::vector<DescriptorEntry>> done);
    void read(std::uint16_t handle, Done<Bytes> done);
    void write(std::uint16_t handle, Bytes value, std::function<void(Result<void>)> done);
    static Bytes writeCommand(std::uint16_t handle, std::span<const std::uint8_t> value);

    // Called for every notification, with the value handle and the value.
    void setNotificationHandler(std::function<void(std::uint16_t, Bytes)> handler) {
        onNotification_ = std::move(handler);
    }

    // Nothing, or why the peer broke the protocol and is to be disconnected.
    std::optional<std::string> receive(std::span<const std::uint8_t> pdu);

    [[nodiscard]] std::uint16_t mtu() const { return mtu_; }
    // A number for the request on the air, 0 when none is: changes with every request sent.
    [[nodiscard]] std::uint64_t outstanding() const { return inFlight_ ? serial_ : 0; }

private:
    struct Procedure {
        enum class Kind { mtu, services, characteristics, descriptors, read, write };
        Kind kind = Kind::mtu;
        std::uint16_t start = 0;
        std::uint16_t end = 0;
        std::uint16_t handle = 0;
        Bytes value;
        std::vector<ServiceRange> services;
        std::vector<CharacteristicEntry> characteristics;
        std::vector<DescriptorEntry> descriptors;
        Done<std::vector<ServiceRange>> servicesDone;
        Done<std::vector<CharacteristicEntry>> characteristicsDone;
        Done<std::vector<DescriptorEntry>> descriptorsDone;
        Done<Bytes> readDone;
        std::function<void(Result<void>)> writeDone;
    };

    static std::uint8_t requestOpcode(const Procedure& procedure);
    static std::uint8_t responseOpcode(const Procedure& procedure);

    void enqueue(Procedure procedure);
    void sendNext();
    // Ends the front procedure with its collected result, or with error.
    void finish(std::optional<Error> error);
    std::optional<std::string> handleResponse(Procedure& procedure,
                                              std::span<const std::uint8_t> pdu);
    std::optional<std::string> servicesResponse(Procedure& procedure, att::Reader& in,
                                                std::size_t size);
    std::optional<std::string> characteristicsResponse(Procedure& procedure, att::Reader& in,
                                                       std::size_t size);
    std::optional<std::string> descriptorsResponse(Procedure& procedure, att::Reader& in,
                                                   std::size_t size);

    std::function<void(Bytes)> sendPdu_;
    std::function<void(std::uint16_t, Bytes)> onNotification_;
    const std::uint16_t localMtu_;
    std::uint16_t mtu_ = att::kDefaultMtu;
    std::deque<Procedure> queue_;
    bool inFlight_ = false;
    std::uint64_t serial_ = 0;
};

}  // namespace platform::bluetooth
