#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/bluetooth/AttPdu.h"
#include "platform/bluetooth/GattDatabase.h"

namespace platform::bluetooth {

// The server side of one ATT bearer: answers discovery and reads of what the stack holds from
// the database, keeps the client's configuration descriptors, and passes reads and writes of
// dynamic values to its host. It owns no transport and no thread; the host moves the PDUs.
class AttServer {
public:
    class Host {
    public:
        virtual void sendPdu(Bytes pdu) = 0;
        // A read of a dynamic value; answered later with respondToRead.
        virtual void readRequested(const GattAttribute& value) = 0;
        // A write of a dynamic value; a request (withResponse) is answered with respondToWrite.
        virtual void writeRequested(const GattAttribute& value, Bytes data, bool withResponse) = 0;
        virtual void subscriptionChanged(const GattAttribute& value, bool subscribed) = 0;

    protected:
        ~Host() = default;
    };

    AttServer(const GattDatabase& database, Host& host, std::uint16_t localMtu = att::kMaxMtu);

    // Nothing, or why the peer broke the protocol and is to be disconnected.
    std::optional<std::string> receive(std::span<const std::uint8_t> pdu);
    // Answer the request passed to the host; ignored when none is waiting for that answer.
    void respondToRead(AttError result, std::span<const std::uint8_t> value);
    void respondToWrite(AttError result);

    [[nodiscard]] std::uint16_t mtu() const { return mtu_; }
    [[nodiscard]] bool isSubscribed(std::uint16_t valueHandle) const;
    // Value handles, in the order the client subscribed.
    [[nodiscard]] const std::vector<std::uint16_t>& subscriptions() const { return subscriptions_; }
    // The database was emptied: forget the configurations without telling anyone.
    void clearSubscriptions() { subscriptions_.clear(); }

    static Bytes notification(std::uint16_t valueHandle, std::span<const std::uint8_t> value);

private:
    static constexpr std::size_t kMaxHeldRequests = 8;

    static std::optional<std::string> checkShape(std::span<const std::uint8_t> pdu);
    void process(std::span<const std::uint8_t> pdu);
    void drainHeld();
    void sendError(std::uint8_t opcode, std::uint16_t handle, AttError code);
    Bytes storedValue(const GattAttribute& attribute) const;

    void exchangeMtu(att::Reader& in);
    void findInformation(att::Reader& in);
    void readByGroupType(att::Reader& in, std::size_t typeLength);
    void readByType(att::Reader& in, std::size_t typeLength);
    void read(att::Reader& in);
    void write(att::Reader& in, bool withResponse);
    void configure(const GattAttribute& configuration, std::span<const std::uint8_t> data,
                   bool withResponse);
    void setSubscribed(std::uint16_t valueHandle, bool subscribed);

    const GattDatabase& database_;
    Host& host_;
    const std::uint16_t localMtu_;
    std::uint16_t mtu_ = att::kDefaultMtu;
    bool mtuExchanged_ = false;
    // The request whose answer the host owes, by opcode, and its handle.
    std::optional<std::uint8_t> awaiting_;
    std::uint16_t awaitingHandle_ = 0;
    // Requests sent before the previous one was answered; served in order afterwards.
    std::deque<Bytes> held_;
    std::vector<std::uint16_t> subscriptions_;
};

}  // namespace platform::bluetooth
