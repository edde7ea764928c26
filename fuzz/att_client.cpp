// The ATT client as a peripheral's PDUs reach it. The client runs what the central role runs
// on a connection (MTU exchange, discovery of services, their characteristics and descriptors,
// a read and a write) and each record is the peripheral's next PDU: an answer, an error, a
// notification or garbage (the flags byte is not used). Whatever the answers, no procedure
// ends more than once.

#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "platform/bluetooth/AttClient.h"

namespace {

using namespace platform::bluetooth;
using platform::Bytes;
using platform::Result;

struct Run {
    explicit Run(AttClient& client) : client_(client) {}

    void start() {
        client_.exchangeMtu();
        begin();
        client_.discoverServices([this](Result<std::vector<AttClient::ServiceRange>> found) {
            end();
            if (!found) {
                return;
            }
            // The first few services, as the central looks for the link's among them.
            for (std::size_t i = 0; i < found->size() && i < 3; ++i) {
                const auto& service = (*found)[i];
                begin();
                client_.discoverCharacteristics(service.start, service.end,
                                                [this](auto characteristics) {
                                                    end();
                                                    if (characteristics) {
                                                        follow(*characteristics);
                                                    }
                                                });
            }
        });
    }

    void follow(const std::vector<AttClient::CharacteristicEntry>& characteristics) {
        for (std::size_t i = 0; i < characteristics.size() && i < 3; ++i) {
            const auto& characteristic = characteristics[i];
            begin();
            client_.discoverDescriptors(static_cast<std::uint16_t>(characteristic.value + 1),
                                        static_cast<std::uint16_t>(characteristic.value + 2),
                                        [this](auto) { end(); });
            begin();
            client_.read(characteristic.value, [this](auto) { end(); });
            begin();
            client_.write(characteristic.value, Bytes{0x01, 0x00}, [this](auto) { end(); });
        }
    }

    void begin() { ++started; }
    void end() {
        if (++ended > started) {
            std::abort();
        }
    }

    int started = 0;
    int ended = 0;

private:
    AttClient& client_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t sent = 0;
    AttClient client([&sent](Bytes pdu) {
        if (pdu.empty()) {
            std::abort();
        }
        ++sent;
    });
    client.setNotificationHandler([](std::uint16_t, Bytes) {});
    Run run(client);
    run.start();
    fuzz::Records records(std::span(data, size));
    while (const auto record = records.next()) {
        if (client.receive(record->bytes)) {
            return 0;  // the peripheral broke the protocol and is disconnected
        }
    }
    return 0;
}
