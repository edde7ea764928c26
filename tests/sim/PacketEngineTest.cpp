#include <gtest/gtest.h>

#include <random>

#include "sim/Compression.h"
#include "sim/PacketEngine.h"
#include "sim/WireFormat.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::RunLoop;

Bytes padded(Bytes head, std::size_t size) {
    head.resize(size, 0);
    return head;
}

Bytes ack(std::uint16_t mask) {
    return ackPacket(mask);
}

// Bytes that deflate cannot shrink, so a message's packet count is known: a zlib stream adds
// eleven bytes to n such bytes.
Bytes incompressible(std::size_t size, std::uint64_t seed = 7) {
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::size_t packetCount(const Bytes& message) {
    return packetise(compressMessage(message), true).size();
}

// A message that takes exactly n packets.
Bytes messageOfPackets(std::size_t n, std::uint64_t seed = 7) {
    Bytes message = incompressible(n * kMaxPayload - 20, seed);
    EXPECT_EQ(packetCount(message), n);
    return message;
}

// The packets of a message as a peer sends them in window set 0.
std::vector<Bytes> windowPackets(const Bytes& message, std::uint8_t firstSequence = 0) {
    auto packets = packetise(compressMessage(message), true);
    std::uint8_t sequence = firstSequence;
    for (Bytes& packet : packets) {
        packet[0] = static_cast<std::uint8_t>((packet[0] & 0xF0) | (sequence++ & 0x0F));
    }
    return packets;
}

class PacketEngineTest : public ::testing::Test,
                         protected PacketLink,
                         protected PacketEngineDelegate {
protected:
    Outcome transmit(std::span<const std::uint8_t> packet) override {
        sent.emplace_back(packet.begin(), packet.end());
        return outcome;
    }
    void messageReceived(Bytes message, bool acknowledged) override {
        received.push_back(std::move(message));
        acknowledgedFlags.push_back(acknowledged);
    }
    void resetReceived() override { ++resets; }
    void pingReceived() override { ++pings; }

    std::vector<Bytes> take() { return std::exchange(sent, {}); }
    static std::vector<std::uint8_t> headers(const std::vector<Bytes>& packets) {
        std::vector<std::uint8_t> result;
        for (const Bytes& packet : packets) {
            result.push_back(packet[0]);
        }
        return result;
    }

    RunLoop loop{RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop scoped{loop};
    Outcome outcome = Outcome::sent;
    std::vector<Bytes> sent;
    std::vector<Bytes> received;
    std::vector<bool> acknowledgedFlags;
    int resets = 0;
    int pings = 0;
    PacketEngine engine{loop, *this, *this};
};

// ---- Sending ----

TEST_F(PacketEngineTest, WindowsOfEightAlternateSetsAndWaitForTheirAcknowledgement) {
    engine.send(messageOfPackets(10), true);
    EXPECT_EQ(headers(take()),
              (std::vector<std::uint8_t>{0x40, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67}));
    loop.advance(1);
    EXPECT_TRUE(take().empty());
    engine.receive(ack(0xFF00));
    EXPECT_EQ(headers(take()), (std::vector<std::uint8_t>{0x68, 0x79}));  // set 1: 8 and 9
    EXPECT_FALSE(engine.isIdle());
    engine.receive(ack(0x00C0));
    EXPECT_TRUE(engine.isIdle());

    // The next message takes the other set again; a window never reaches into it.
    engine.send(messageOfPackets(1, 3), true);
    engine.send(messageOfPackets(1, 4), true);
    EXPECT_EQ(headers(take()), (std::vector<std::uint8_t>{0x50}));
    engine.receive(ack(0x8000));
    EXPECT_EQ(headers(take()), (std::vector<std::uint8_t>{0x58}));
    engine.receive(ack(0x0080));
    EXPECT_EQ(engine.counters().messagesSent, 3);
    EXPECT_EQ(engine.counters().windowsSent, 4);
    EXPECT_EQ(engine.counters().retransmissions, 0);
}

TEST_F(PacketEngineTest, GapsAreResentAndTheSendTimerWaitsAfterThem) {
    engine.send(messageOfPackets(8), true);
    const auto window = take();
    ASSERT_EQ(window.size(), 8U);
    engine.receive(ack(0xEF00));  // index 3 missing
    EXPECT_EQ(take(), std::vector<Bytes>{window[3]});
    loop.advance(2.0);
    EXPECT_TRUE(take().empty());
    loop.advance(0.2);  // no answer: resent from the last mask
    EXPECT_EQ(take(), std::vector<Bytes>{window[3]});
    engine.receive(ack(0xFF00));
    EXPECT_TRUE(engine.isIdle());
    EXPECT_EQ(engine.counters().retransmissions, 2);
    EXPECT_EQ(engine.counters().messagesSent, 1);
}

TEST_F(PacketEngineTest, WithoutAnyAcknowledgementTheWholeWindowGoesAgain) {
    engine.send(messageOfPackets(3), true);
    const auto window = take();
    loop.advance(2.1);
    EXPECT_EQ(take(), window);
}

TEST_F(PacketEngineTest, AcknowledgementsOfTheOtherSetOrOfNoWindowAreIgnored) {
    engine.receive(ack(0xFF00));
    engine.send(messageOfPackets(2), true);
    take();
    engine.receive(ack(0x00FF));
    EXPECT_TRUE(take().empty());
    EXPECT_FALSE(engine.isIdle());
    EXPECT_EQ(engine.counters().staleAcks, 2);
    engine.receive(ack(0xC0FF));  // only the high byte counts for set 0
    EXPECT_TRUE(engine.isIdle());
}

TEST_F(PacketEngineTest, AWindowThatCannotCompleteEndsInAReset) {
    const struct {
        const char* what;
        std::function<void(PacketEngine&, RunLoop&)> stall;
    } cases[] = {
        {"no acknowledgement", [](PacketEngine&, RunLoop& loop) { loop.advance(3 * 2.1); }},
        {"the same mask four times",
         [](PacketEngine& engine, RunLoop&) {
             for (int i = 0; i < 4; ++i) {
                 engine.receive(ack(0xEF00));
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PacketEngine local(loop, *this, *this);
        local.send(messageOfPackets(8), true);
        local.send(messageOfPackets(1, 9), true);
        take();
        c.stall(local, loop);
        const auto after = take();
        // The reset goes out, the message in flight is dropped, the next one starts in set 0.
        const auto reset = std::find(after.begin(), after.end(), controlPacket(Command::reset));
        ASSERT_NE(reset, after.end());
        ASSERT_NE(reset + 1, after.end());
        EXPECT_EQ((*(reset + 1))[0], 0x50);
        EXPECT_EQ(local.counters().resetsSent, 1);
        EXPECT_EQ(local.counters().messagesDroppedByReset, 1);
        local.receive(ack(0x8000));
        EXPECT_TRUE(local.isIdle());
        EXPECT_EQ(local.counters().messagesSent, 1);
    }
}

TEST_F(PacketEngineTest, UnacknowledgedMessagesGoPacketAfterPacket) {
    engine.send(messageOfPackets(9), false);
    const auto packets = take();
    ASSERT_EQ(packets.size(), 9U);
    EXPECT_EQ(packets.front()[0], 0x00);
    EXPECT_EQ(packets[4][0], 0x20);
    EXPECT_EQ(packets.back()[0], 0x30);
    loop.advance(10);
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(engine.isIdle());
    EXPECT_EQ(engine.counters().messagesSent, 1);
}

TEST_F(PacketEngineTest, OnePacketAtATimeAsTheLinkAllows) {
    outcome = Outcome::busy;
    engine.send(messageOfPackets(2), true);
    EXPECT_EQ(take().size(), 1U);  // refused, and not offered again until there is room
    outcome = Outcome::pending;
    engine.linkReady();
    const auto first = take();
    ASSERT_EQ(first.size(), 1U);
    EXPECT_EQ(first[0][0], 0x40);
    // A window being received asks for an acknowledgement while a packet is pending: it goes
    // next, before the rest of the window.
    const auto incoming = windowPackets(messageOfPackets(1, 5));
    engine.receive(incoming[0]);
    EXPECT_TRUE(take().empty());
    engine.packetSent();
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x8000)});
    outcome = Outcome::sent;
    engine.packetSent();
    EXPECT_EQ(headers(take()), std::vector<std::uint8_t>{0x71});
    EXPECT_EQ(received.size(), 1U);
}

// ---- Receiving ----

TEST_F(PacketEngineTest, AWindowIsDeliveredOnceWhenComplete) {
    const Bytes message = messageOfPackets(4);
    const auto packets = windowPackets(message);
    engine.receive(packets[0]);
    engine.receive(packets[1]);
    engine.receive(packets[3]);
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0xD000)});  // the last packet came: 2 is missing
    EXPECT_TRUE(received.empty());
    engine.receive(packets[2]);
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0xF000)});
    EXPECT_EQ(received, std::vector<Bytes>{message});
    // A late copy belongs to the window just completed: acknowledged again, not delivered.
    engine.receive(packets[2]);
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0xF000)});
    EXPECT_EQ(received.size(), 1U);
    EXPECT_EQ(engine.counters().outOfWindowPackets, 1);

    // The next window is set 1, and a message may span windows.
    const Bytes longer = messageOfPackets(9, 11);
    const auto next = windowPackets(longer, 8);
    for (std::size_t i = 0; i < 8; ++i) {
        engine.receive(next[i]);
    }
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x00FF)});
    engine.receive(next[8]);  // sequence 0: set 0 again
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x8000)});
    EXPECT_EQ(received, (std::vector<Bytes>{message, longer}));
    EXPECT_EQ(engine.counters().windowsReceived, 3);
}

TEST_F(PacketEngineTest, AStalledWindowIsAcknowledgedThenResetAndForgotten) {
    const auto packets = windowPackets(messageOfPackets(4));
    engine.receive(packets[0]);
    Bytes corrupted = packets[1];
    corrupted[10] ^= 0x04;
    engine.receive(corrupted);
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(engine.counters().crcFailures, 1);
    loop.advance(0.9);  // what did arrive, soon
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x8000)});
    loop.advance(3.1);
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x8000)});
    loop.advance(3.1);
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x8000)});
    loop.advance(3.1);
    EXPECT_EQ(take(), std::vector<Bytes>{controlPacket(Command::reset)});
    EXPECT_EQ(engine.counters().partialMessagesDropped, 0);  // nothing was joined yet

    // After the reset the receive set is chosen afresh and the message can come again.
    for (const Bytes& packet : windowPackets(messageOfPackets(4), 8)) {
        engine.receive(packet);
    }
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x00F0)});
    EXPECT_EQ(received.size(), 1U);
}

TEST_F(PacketEngineTest, StoppedAcknowledgementsAreCountedNotSent) {
    engine.setAcknowledging(false);
    for (const Bytes& packet : windowPackets(messageOfPackets(2))) {
        engine.receive(packet);
    }
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(received.size(), 1U);
    EXPECT_EQ(engine.counters().acksSuppressed, 1);
}

TEST_F(PacketEngineTest, ControlPacketsByTheirFirstByte) {
    engine.receive(padded({0x90}, 22));
    engine.receive(padded({0x91}, 22));  // the phone's echo asks nothing
    engine.receive(padded({0xA0}, 22));
    engine.receive(padded({0x90}, 21));
    engine.receive(padded({0x90, 0x01}, 22));
    EXPECT_EQ(pings, 1);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(engine.counters().malformedPackets, 2);
    EXPECT_TRUE(take().empty());
}

TEST_F(PacketEngineTest, AReceivedResetClearsBothDirections) {
    engine.send(messageOfPackets(10), true);
    take();
    const auto incoming = windowPackets(messageOfPackets(3, 5));
    engine.receive(incoming[0]);
    take();
    engine.receive(controlPacket(Command::reset));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(engine.counters().messagesDroppedByReset, 1);
    EXPECT_EQ(engine.counters().partialMessagesDropped, 0);
    EXPECT_TRUE(engine.isIdle());
    loop.advance(10);
    EXPECT_TRUE(take().empty());  // no timer of the old window is left

    engine.receive(incoming[1]);  // the rest of the message from before the reset
    engine.receive(incoming[2]);
    EXPECT_TRUE(received.empty());
    engine.send(messageOfPackets(1, 6), true);
    EXPECT_EQ(headers(take()).back(), 0x50);  // set 0 again
}

TEST_F(PacketEngineTest, UnacknowledgedPacketsAreCheckedAndJoinedWithoutAcknowledgement) {
    const Bytes message = messageOfPackets(3);
    const auto packets = packetise(compressMessage(message), false);
    for (const Bytes& packet : packets) {
        engine.receive(packet);
    }
    EXPECT_EQ(received, std::vector<Bytes>{message});
    EXPECT_EQ(acknowledgedFlags, std::vector<bool>{false});
    // The rest of a message whose first packet was lost is dropped; so is a corrupted packet.
    engine.receive(packets[1]);
    engine.receive(packets[2]);
    Bytes corrupted = packetise(compressMessage(message), false)[0];
    corrupted[20] ^= 1;
    engine.receive(corrupted);
    EXPECT_EQ(received.size(), 1U);
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(engine.counters().crcFailures, 1);
}

TEST_F(PacketEngineTest, OnlyWholeCompressedMessagesAreDelivered) {
    // The phone compresses every message: bytes that are no stream, or a damaged stream, are
    // a message broken on the way. Acknowledged, its window is refused so that it comes again;
    // unacknowledged, it is dropped.
    const Bytes raw = {0x41, '{', '}'};
    Bytes stream = compressMessage(incompressible(100));
    stream[50] ^= 0x10;
    for (const Bytes& payload : {raw, stream}) {
        engine.receive(packetise(payload, true)[0]);
        engine.receive(packetise(payload, false)[0]);
    }
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(engine.counters().brokenWindows, 2);
    EXPECT_EQ(engine.counters().messagesUndecodable, 2);

    // The good copy is taken in the same window set.
    const Bytes message = incompressible(100);
    engine.receive(packetise(compressMessage(message), true)[0]);
    EXPECT_EQ(received, std::vector<Bytes>{message});
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0x8000)});
}

// Header bits are outside the CRC: a changed one must not put the wrong bytes in a message.
TEST_F(PacketEngineTest, HeaderDamageIsCaughtBeforeDelivery) {
    const Bytes message = messageOfPackets(4);
    const auto packets = windowPackets(message);

    // Packet 2 arrives claiming to be packet 1: two different packets for one slot.
    Bytes misplaced = packets[2];
    misplaced[0] = static_cast<std::uint8_t>((misplaced[0] & 0xF0) | 1);
    engine.receive(packets[0]);
    engine.receive(packets[1]);
    engine.receive(misplaced);
    EXPECT_EQ(engine.counters().conflictingPackets, 1);
    // A middle packet that turned into a first one breaks the chain of positions: the
    // window is not acknowledged and comes again whole.
    Bytes restarted = packets[2];
    restarted[0] = static_cast<std::uint8_t>(restarted[0] & 0xCF);
    engine.receive(restarted);
    engine.receive(packets[1]);
    engine.receive(packets[3]);
    EXPECT_EQ(engine.counters().brokenWindows, 1);
    EXPECT_TRUE(received.empty());
    take();
    for (const Bytes& packet : packets) {
        engine.receive(packet);
    }
    EXPECT_EQ(received, std::vector<Bytes>{message});
    EXPECT_EQ(take(), std::vector<Bytes>{ack(0xF000)});

    // A middle packet that turned into a last one at the end of a window chains well, but its
    // message ends early and does not inflate: refused too.
    const Bytes longer = messageOfPackets(9, 12);
    const auto nine = windowPackets(longer, 8);
    Bytes early = nine[7];
    early[0] |= 0x10;
    for (std::size_t i = 0; i < 7; ++i) {
        engine.receive(nine[i]);
    }
    engine.receive(early);
    EXPECT_EQ(engine.counters().brokenWindows, 2);
    for (const Bytes& packet : nine) {
        engine.receive(packet);
    }
    EXPECT_EQ(received, (std::vector<Bytes>{message, longer}));

    // An acknowledged packet that lost its ARQ bit is no unacknowledged one: those carry 0.
    Bytes unacknowledged = windowPackets(messageOfPackets(1, 3), 9)[0];
    unacknowledged[0] &= 0xBF;
    engine.receive(unacknowledged);
    EXPECT_EQ(received.size(), 2U);
    EXPECT_EQ(engine.counters().malformedPackets, 1);
}

}  // namespace
