// The packet protocol's receive path, fed as the Bluetooth manager feeds it, on a virtual
// clock. Each record is one packet from the watch; its flags byte says what happens around it:
//   bit 0     give a data packet the right CRC, so the fuzzer gets past the check
//   bits 1-3  how far the clock moves after the packet (timers fire)
//   bit 4     the transport refuses what the protocol sends until the next packet
//   bit 5     the phone hands down a message of its own before the packet

#include <array>
#include <cstdlib>

#include "FuzzSupport.h"
#include "link/TQCrc16.h"
#include "link/TQDataDelegate.h"
#include "link/TQPacketTransport.h"
#include "link/TQProtocol.h"

namespace {

using platform::Bytes;

class Transport final : public TQPacketTransport {
public:
    explicit Transport(TQBlePacketTransferDelegate& delegate) : delegate_(delegate) {}

    bool isConnected() override { return true; }
    void sendData(std::span<const std::uint8_t> packet) override {
        sent += packet.size();
        if (refusing) {
            owed_ = true;
            return;
        }
        delegate_.onPacketSent(true);
    }
    // The refusing transport has room again.
    void ready() {
        refusing = false;
        if (owed_) {
            owed_ = false;
            delegate_.onPacketSent(false);
        }
    }

    bool refusing = false;
    std::size_t sent = 0;

private:
    TQBlePacketTransferDelegate& delegate_;
    bool owed_ = false;
};

class Delegate final : public TQDataDelegate {
public:
    void onDataSendCompleted(const TQSendOutcome& /*outcome*/) override { ++completions; }
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override {
        received += message.size();
    }
    void onPingReceived() override {}
    void onResetCmdReceived() override {}

    int completions = 0;
    std::size_t received = 0;
};

constexpr std::array<double, 8> kSteps = {0, 0.05, 0.5, 0.95, 2.2, 3.2, 6.5, 30};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::World world;
    Delegate delegate;
    TQProtocol protocol(world.loop, world.defaults);
    Transport transport(protocol);
    protocol.initialize(delegate, transport);
    world.loop.runUntilIdle();

    fuzz::Records records(std::span(data, size));
    int handedDown = 0;
    while (const auto record = records.next()) {
        transport.ready();
        if ((record->flags & 0x20) != 0) {
            const Bytes message(static_cast<std::size_t>(record->flags) * 3, record->flags);
            protocol.packetsFromDataModel({message, (record->flags & 0x40) != 0 ? 0U : 1U});
            ++handedDown;
        }
        transport.refusing = (record->flags & 0x10) != 0;
        Bytes packet(record->bytes.begin(), record->bytes.end());
        const bool isData = !packet.empty() && (packet[0] & 0x80) == 0;
        if ((record->flags & 0x01) != 0 && isData &&
            packet.size() >= TQProtocol::kPacketHeaderSize &&
            packet[1] <= packet.size() - TQProtocol::kPacketHeaderSize) {
            const std::uint16_t crc =
                crc16(std::span(packet).subspan(TQProtocol::kPacketHeaderSize, packet[1]));
            packet[2] = static_cast<std::uint8_t>(crc >> 8);
            packet[3] = static_cast<std::uint8_t>(crc & 0xFF);
        }
        protocol.onDataReceived(packet);
        world.loop.runUntilIdle();
        world.loop.advance(kSteps[(record->flags >> 1) & 0x07]);
    }
    // However the exchange went, the timers bring every message handed down to its one end
    // within the virtual hour.
    transport.ready();
    for (int second = 0; second < 3600 && delegate.completions < handedDown; ++second) {
        world.loop.advance(1);
    }
    if (delegate.completions != handedDown) {
        std::abort();
    }
    return 0;
}
