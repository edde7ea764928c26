// The ATT server as a central's PDUs reach it, over the link's service beside a service with a
// static value and an empty one. Each record is one PDU; its flags byte says how the host
// answers reads and writes of dynamic values: at once from inside the callback (bit 0) or
// after the PDU (bit 1), with success or an error (bits 2-4), a value of (bits 5-7) * 73 bytes.
// Nothing the server sends may exceed the MTU in force.

#include <cstdlib>
#include <optional>

#include "FuzzSupport.h"
#include "LinkService.h"
#include "platform/bluetooth/AttServer.h"

namespace {

using namespace platform::bluetooth;
using platform::Bytes;

GattDatabase makeDatabase() {
    const MutableService services[] = {
        {Uuid::fromShort(0x180F),
         true,
         {{Uuid::fromShort(0x2A19), CharacteristicProperties::read, AttributePermissions::readable,
           Bytes{99}}}},
        fuzz::linkService(),
        {Uuid::fromShort(0x1811), false, {}},
    };
    GattDatabase database;
    for (const MutableService& service : services) {
        if (!database.add(service)) {
            std::abort();
        }
    }
    return database;
}

class Host final : public AttServer::Host {
public:
    void sendPdu(Bytes pdu) override {
        if (server == nullptr || pdu.empty() || pdu.size() > server->mtu()) {
            std::abort();
        }
    }
    void readRequested(const GattAttribute& /*value*/) override {
        pendingRead = true;
        answerNowIfAsked();
    }
    void writeRequested(const GattAttribute& /*value*/, Bytes /*data*/,
                        bool withResponse) override {
        pendingWrite = withResponse;
        answerNowIfAsked();
    }
    void subscriptionChanged(const GattAttribute& /*value*/, bool /*subscribed*/) override {}

    void answer() {
        const auto code = (flags >> 2) & 0x07;
        const AttError result = code == 0   ? AttError::success
                                : code == 7 ? applicationError(static_cast<std::uint8_t>(code))
                                            : static_cast<AttError>(code);
        if (std::exchange(pendingRead, false)) {
            const Bytes value(static_cast<std::size_t>(flags >> 5) * 73, 0x5A);
            server->respondToRead(result, value);
        }
        if (std::exchange(pendingWrite, false)) {
            server->respondToWrite(result);
        }
    }

    AttServer* server = nullptr;
    std::uint8_t flags = 0;
    bool pendingRead = false;
    bool pendingWrite = false;

private:
    void answerNowIfAsked() {
        if ((flags & 0x01) != 0) {
            answer();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const GattDatabase database = makeDatabase();
    Host host;
    AttServer server(database, host);
    host.server = &server;
    fuzz::Records records(std::span(data, size));
    while (const auto record = records.next()) {
        host.flags = record->flags;
        if (server.receive(record->bytes)) {
            return 0;  // the central broke the protocol and is disconnected
        }
        if ((record->flags & 0x02) != 0) {
            host.answer();
        }
    }
    return 0;
}
