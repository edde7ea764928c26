#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <vector>

#include "link/TQDataDelegate.h"
#include "link/TQPacketTransport.h"
#include "link/TQProtocol.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"
#include "utils/DataCompression.h"

namespace link_test {

using platform::Bytes;

// A transport the test drives by hand: it records every packet, and either accepts (confirming
// from inside sendData), refuses until ready() is called, or swallows packets like a manager
// without a subscriber.
class ScriptedTransport final : public TQPacketTransport {
public:
    enum class Mode { accept, refuse, swallow };
    struct Accepted {
        double time;
        Bytes packet;
    };

    explicit ScriptedTransport(const platform::RunLoop& clock) : clock_(clock) {}

    void attach(TQBlePacketTransferDelegate& delegate) { delegate_ = &delegate; }
    void setMode(Mode mode) { mode_ = mode; }
    void setConnected(bool connected) { connected_ = connected; }

    bool isConnected() override { return connected_; }
    void sendData(std::span<const std::uint8_t> packet) override {
        attempts.emplace_back(packet.begin(), packet.end());
        switch (mode_) {
            case Mode::accept:
                sent.emplace_back(packet.begin(), packet.end());
                history.push_back({clock_.now(), sent.back()});
                delegate_->onPacketSent(true);
                break;
            case Mode::refuse:
                refusedWaiting_ = true;
                break;
            case Mode::swallow:
                break;
        }
    }

    // The refusing transport has room again: it accepts from now on and says so.
    void ready() {
        mode_ = Mode::accept;
        if (refusedWaiting_) {
            refusedWaiting_ = false;
            delegate_->onPacketSent(false);
        }
    }

    // Packets accepted since the last call.
    std::vector<Bytes> take() {
        std::vector<Bytes> taken;
        taken.swap(sent);
        return taken;
    }

    std::vector<Bytes> sent;
    std::vector<Bytes> attempts;
    // Every accepted packet with its run-loop time; take() leaves it alone.
    std::vector<Accepted> history;

private:
    const platform::RunLoop& clock_;
    TQBlePacketTransferDelegate* delegate_ = nullptr;
    Mode mode_ = Mode::accept;
    bool connected_ = true;
    bool refusedWaiting_ = false;
};

class RecordingDelegate final : public TQDataDelegate {
public:
    void onDataSendCompleted(const TQSendOutcome& outcome) override {
        ++completions;
        outcomes.push_back(outcome);
        if (whenSendCompleted) {
            whenSendCompleted();
        }
    }
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override {
        messages.emplace_back(message.begin(), message.end());
    }
    void onPingReceived() override { ++pings; }
    void onResetCmdReceived() override { ++resets; }

    // Like the facade, which hands down its next message from here.
    std::function<void()> whenSendCompleted;
    int completions = 0;
    std::vector<TQSendOutcome> outcomes;
    std::vector<Bytes> messages;
    int pings = 0;
    int resets = 0;
};

inline Bytes ackPacket(std::uint16_t mask) {
    Bytes packet(TQProtocol::kControlPacketSize, 0);
    packet[0] = 0x80;
    packet[1] = static_cast<std::uint8_t>(mask >> 8);
    packet[2] = static_cast<std::uint8_t>(mask & 0xFF);
    return packet;
}

// A protocol on a virtual clock with a scripted transport and user defaults of its own, apart
// from the process's standard ones.
struct ProtocolHarness {
    ProtocolHarness() {
        transport.attach(protocol);
        protocol.initialize(delegate, transport);
        loop.runUntilIdle();
    }
    ~ProtocolHarness() { platform::UserDefaults::install(previousDefaults); }
    ProtocolHarness(const ProtocolHarness&) = delete;
    ProtocolHarness& operator=(const ProtocolHarness&) = delete;

    void send(const Bytes& message, bool arq = true) {
        protocol.packetsFromDataModel({message, arq ? 1U : 0U});
        loop.runUntilIdle();
    }
    void receive(const Bytes& packet) {
        protocol.onDataReceived(packet);
        loop.runUntilIdle();
    }
    void receiveAck(std::uint16_t mask) { receive(ackPacket(mask)); }
    void advance(double seconds) { loop.advance(seconds); }

    testing_support::TempDir dir;
    platform::UserDefaults defaults{dir.path() / "defaults.plist"};
    platform::UserDefaults standardDefaults{dir.path() / "standard.plist"};
    platform::UserDefaults* previousDefaults = platform::UserDefaults::install(&standardDefaults);
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    ScriptedTransport transport{loop};
    RecordingDelegate delegate;
    TQProtocol protocol{loop, defaults};
};

inline Bytes randomBytes(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// A message whose deflated form is exactly `compressed` bytes long (random bytes barely
// compress, so the search stays short).
inline Bytes messageCompressingTo(std::size_t compressed) {
    for (std::size_t size = compressed > 64 ? compressed - 64 : 1; size <= compressed; ++size) {
        Bytes message = randomBytes(size, size);
        if (compression::dataDeflate(message)->size() == compressed) {
            return message;
        }
    }
    ADD_FAILURE() << "no message compresses to " << compressed << " bytes";
    return {};
}

// A data packet carrying payload with the given header bits and a correct CRC.
inline Bytes dataPacket(std::span<const std::uint8_t> payload, TQProtocol::Position position,
                        int sequence, bool arq = true) {
    Bytes packet = TQProtocol::packetsFromPayload(payload, arq ? 1 : 0).front();
    packet[0] = static_cast<std::uint8_t>((arq ? 0x40 : 0) | position << 4 | sequence);
    return packet;
}

// The packets of a message as the peer would send them, one window of set 0 (sequence
// numbers from `firstSequence`).
inline std::vector<Bytes> messagePackets(const Bytes& message, bool arq = true,
                                         int firstSequence = 0) {
    auto packets = TQProtocol::packetsFromPayload(*compression::dataDeflate(message), arq ? 1 : 0);
    int sequence = firstSequence;
    for (auto& packet : packets) {
        packet[0] = static_cast<std::uint8_t>((packet[0] & 0xF0) | (arq ? sequence++ : 0));
    }
    return packets;
}

inline int sequenceOf(const Bytes& packet) {
    return packet[0] & 0x0F;
}
inline int positionOf(const Bytes& packet) {
    return (packet[0] >> 4) & 0x03;
}
inline std::vector<int> positions(const std::vector<Bytes>& packets) {
    std::vector<int> result;
    for (const auto& packet : packets) {
        result.push_back(positionOf(packet));
    }
    return result;
}
inline std::vector<int> sequences(const std::vector<Bytes>& packets) {
    std::vector<int> result;
    for (const auto& packet : packets) {
        result.push_back(sequenceOf(packet));
    }
    return result;
}
inline bool isControl(const Bytes& packet, std::uint8_t byte) {
    return packet.size() == TQProtocol::kControlPacketSize && packet[0] == byte;
}

}  // namespace link_test
