#include <gtest/gtest.h>

#include <functional>

#include "TQProtocolFixture.h"

namespace link_test {
namespace {

using Mode = ScriptedTransport::Mode;
using Pos = TQProtocol::Position;

const Bytes kReset = TQProtocol::packetsFromControlModel({TQProtocol::reset, 0}).front();

TEST(TQProtocolFaultsTest, AWindowAcknowledgedWhileAnAckWaitsForTheTransportLeadsOn) {
    ProtocolHarness h;
    h.send(messageCompressingTo(1185));  // two windows: 8 packets, then 1
    EXPECT_EQ(h.transport.take().size(), 8U);

    h.transport.setMode(Mode::refuse);
    h.receive(messagePackets({0x55}).front());  // our ACK 0x8000 is refused for now
    EXPECT_EQ(h.transport.attempts.back(), ackPacket(0x8000));
    h.receiveAck(0xFF00);
    h.transport.ready();
    h.loop.runUntilIdle();

    const auto sent = h.transport.take();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[0], ackPacket(0x8000));
    EXPECT_EQ(sent[1][0], 0x40 | Pos::last << 4 | 8);
    EXPECT_EQ(h.delegate.completions, 0);
    h.receiveAck(0x0080);
    h.advance(30);
    EXPECT_EQ(h.delegate.completions, 1);
}

TEST(TQProtocolFaultsTest, OurResetGoesOutFirstOnceTheTransportIsReady) {
    ProtocolHarness h;
    h.receive(messagePackets(randomBytes(500, 1))[0]);  // half a window: T_RECV runs
    h.transport.setMode(Mode::refuse);
    h.advance(TQProtocol::kRecvTimeout + 0.01);  // its ACK is refused and stays in transmission
    EXPECT_EQ(h.transport.attempts.back(), ackPacket(0x8000));
    h.advance(3 * TQProtocol::kAckTimeout);  // the third T_ACK expiry gives up
    EXPECT_EQ(h.transport.attempts.back(), kReset);

    h.transport.ready();
    h.loop.runUntilIdle();
    h.advance(30);
    EXPECT_EQ(h.transport.take(), std::vector<Bytes>{kReset});
}

TEST(TQProtocolFaultsTest, AFirstOrOnlyPacketStartsANewMessage) {
    // A: one full window of first and middle packets, its last packet in the next window.
    const Bytes a = messageCompressingTo(9 * TQProtocol::kMaxPayload);
    const auto aPackets = messagePackets(a);
    ASSERT_EQ(aPackets.size(), 9U);
    const std::vector<Bytes> aWindow(aPackets.begin(), aPackets.begin() + 8);
    const Bytes b = {0x42, 0x7B, 0x7D};
    const Bytes c = randomBytes(400, 21);

    struct Case {
        const char* name;
        std::function<void(ProtocolHarness&)> feed;
        std::vector<Bytes> delivered;
    };
    const Case cases[] = {
        {"a new acknowledged message after a lost last packet",
         [&](ProtocolHarness& h) {
             for (const auto& packet : aWindow) {
                 h.receive(packet);
             }
             h.receive(messagePackets(b, true, 8).front());
         },
         {b}},
        {"a last packet without its first",
         [&](ProtocolHarness& h) {
             Bytes last = aPackets[8];
             last[0] = static_cast<std::uint8_t>(last[0] & 0xF0);  // sequence 0, set 0
             h.receive(last);
         },
         {}},
        {"unacknowledged: only after a first, then the lost message's last",
         [&](ProtocolHarness& h) {
             const auto cPackets = messagePackets(c, false);
             h.receive(cPackets.front());
             h.receive(messagePackets(b, false).front());
             h.receive(cPackets.back());
         },
         {b}},
        {"an unacknowledged message between the windows of an acknowledged one",
         [&](ProtocolHarness& h) {
             for (const auto& packet : aWindow) {
                 h.receive(packet);
             }
             h.receive(messagePackets(b, false).front());
             h.receive(aPackets[8]);
         },
         {b, a}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProtocolHarness h;
        c.feed(h);
        EXPECT_EQ(h.delegate.messages, c.delivered);
    }
}

TEST(TQProtocolFaultsTest, MalformedDataPacketsAreBoundedByWhatArrived) {
    const Bytes good = messagePackets({0x68, 0x69}).front();
    Bytes noLength = good;
    noLength[1] = 0;
    Bytes lengthPastEnd = good;
    lengthPastEnd[1] = static_cast<std::uint8_t>(good.size() - 3);
    Bytes tooLong = dataPacket(randomBytes(148, 4), Pos::only, 0);
    tooLong.push_back(0);
    Bytes trailing = good;
    trailing.push_back(0xEE);

    struct Case {
        const char* name;
        Bytes packet;
        bool taken;
    };
    const Case cases[] = {
        {"well formed", good, true},
        {"bytes after the payload", trailing, true},
        {"header only", Bytes(good.begin(), good.begin() + 4), false},
        {"three bytes", {0x50, 0x01, 0x00}, false},
        {"two bytes", {0x50, 0x01}, false},
        {"one byte", {0x50}, false},
        {"length 0", noLength, false},
        {"length past the end", lengthPastEnd, false},
        {"153 bytes", tooLong, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            ProtocolHarness h;
            h.receive(c.packet);
            EXPECT_EQ(h.delegate.messages.size(), c.taken ? 1U : 0U);
            // Refused like a CRC failure: no ACK now, T_RECV acknowledges what there is.
            EXPECT_EQ(h.transport.take(),
                      c.taken ? std::vector<Bytes>{ackPacket(0x8000)} : std::vector<Bytes>{});
            if (!c.taken) {
                h.advance(TQProtocol::kRecvTimeout + 0.01);
                EXPECT_EQ(h.transport.take(), std::vector<Bytes>{ackPacket(0x0000)});
            }
        }
        {
            ProtocolHarness h;
            Bytes unacknowledged = c.packet;
            unacknowledged[0] = static_cast<std::uint8_t>(unacknowledged[0] & ~0x40);
            h.receive(unacknowledged);
            EXPECT_EQ(h.delegate.messages.size(), c.taken ? 1U : 0U);
            h.advance(30);
            EXPECT_TRUE(h.transport.take().empty());
        }
    }
}

TEST(TQProtocolFaultsTest, ShortControlPacketsAreDropped) {
    ProtocolHarness h;
    h.send({0x01});
    h.transport.take();
    for (const Bytes& packet : {Bytes{}, Bytes{0x80}, Bytes{0x80, 0x80}}) {
        h.receive(packet);
    }
    EXPECT_EQ(h.delegate.completions, 0);
    h.receive(Bytes{0x80, 0x80, 0x00});  // three bytes are enough for an ACK
    EXPECT_EQ(h.delegate.completions, 1);
}

TEST(TQProtocolFaultsTest, AMessageDroppedWhileDisconnectedStillCompletes) {
    ProtocolHarness h;
    h.transport.setConnected(false);
    h.send(randomBytes(100, 2));
    EXPECT_TRUE(h.transport.attempts.empty());
    EXPECT_EQ(h.delegate.completions, 1);
}

TEST(TQProtocolFaultsTest, EveryMessageDroppedAtADisconnectCompletesOnce) {
    ProtocolHarness h;
    h.transport.setMode(Mode::swallow);  // nobody subscribed: nothing is ever confirmed
    h.send(randomBytes(300, 1));
    h.send(randomBytes(300, 2));  // a second message waits behind the first
    EXPECT_EQ(h.transport.attempts.size(), 1U);

    h.protocol.resetRetransmission();
    h.protocol.abortSending();
    h.loop.runUntilIdle();
    EXPECT_EQ(h.delegate.completions, 2);

    h.transport.setMode(Mode::accept);
    h.send({0x01});
    EXPECT_EQ(sequences(h.transport.take()), std::vector<int>{0});
    h.receiveAck(0x8000);
    EXPECT_EQ(h.delegate.completions, 3);
}

TEST(TQProtocolFaultsTest, AcknowledgementsWithoutAWindowAreHarmless) {
    ProtocolHarness h;
    for (const std::uint16_t mask : {0xFFFF, 0x8000, 0x0080, 0x0001}) {
        h.receiveAck(mask);  // no window was sent since the reset
    }
    // Late copies of the acknowledgement of the last window: nothing waits for them, so they
    // cannot add up to a reset.
    h.send({0x01});
    h.receiveAck(0x8000);
    for (int i = 0; i < 5; ++i) {
        h.receiveAck(0x8000);
    }
    h.advance(30);
    EXPECT_EQ(h.transport.take().size(), 1U);
    EXPECT_EQ(h.delegate.completions, 1);
}

TEST(TQProtocolFaultsTest, AnUnacknowledgedMessageDoesNotHoldUpAWindowsRetransmission) {
    ProtocolHarness h;
    h.send(randomBytes(300, 6));  // three packets in a window
    EXPECT_EQ(h.transport.take().size(), 3U);

    // The handshake hands its reply down while a message is in flight.
    h.transport.setMode(Mode::refuse);
    const Bytes unacknowledged = randomBytes(200, 8);
    h.send(unacknowledged, false);
    h.receiveAck(0xA000);  // sequence 1 lost
    // Nothing more is handed over while the transport owes its answer on the refused packet.
    EXPECT_EQ(h.transport.attempts.size(), 4U);
    h.transport.ready();
    h.loop.runUntilIdle();

    // The retransmission goes at once, then the refused packet again and the rest.
    const auto sent = h.transport.take();
    ASSERT_EQ(sent.size(), 3U);
    EXPECT_EQ(sent[0][0], 0x40 | Pos::middle << 4 | 1);
    EXPECT_EQ(sent[1][0], Pos::first << 4);
    EXPECT_EQ(sent[2][0], Pos::last << 4);
    h.receiveAck(0xE000);
    EXPECT_EQ(h.delegate.completions, 2);
}

struct TimerCase {
    const char* name;
    std::function<void(ProtocolHarness&)> start;
    // (run-loop time, packets sent since the previous step)
    std::vector<std::pair<double, std::vector<Bytes>>> timeline;
    int completions;
};

TEST(TQProtocolTimersTest, DriveAcknowledgementsRetransmissionsAndResets) {
    const Bytes message = {0x01, 0x02};
    const Bytes sentPacket = messagePackets(message).front();
    const auto incoming = messagePackets(randomBytes(500, 13));
    const TimerCase cases[] = {
        {"T_RECV, then T_ACK twice, then a reset",
         [&](ProtocolHarness& h) { h.receive(incoming[0]); },
         {{0.89, {}},
          {0.91, {ackPacket(0x8000)}},
          {3.99, {}},
          {4.01, {ackPacket(0x8000)}},
          {7.11, {ackPacket(0x8000)}},
          {10.19, {}},
          {10.21, {kReset}},
          {60, {}}},
         0},
        {"T_SEND twice, then a reset",
         [&](ProtocolHarness& h) {
             h.send(message);
             EXPECT_EQ(h.transport.take(), std::vector<Bytes>{sentPacket});
         },
         {{2.09, {}},
          {2.11, {sentPacket}},
          {4.21, {sentPacket}},
          {6.29, {}},
          {6.31, {kReset}},
          {60, {}}},
         1},
        {"a completed window stops T_ACK",
         [&](ProtocolHarness& h) {
             for (const int index : {0, 1, 3, 2}) {
                 h.receive(incoming[static_cast<std::size_t>(index)]);
             }
             h.transport.take();
         },
         {{60, {}}},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProtocolHarness h;
        c.start(h);
        for (const auto& [time, packets] : c.timeline) {
            h.advance(time - h.loop.now());
            EXPECT_EQ(h.transport.take(), packets) << "at " << time;
        }
        EXPECT_EQ(h.delegate.completions, c.completions);
    }
}

}  // namespace
}  // namespace link_test
