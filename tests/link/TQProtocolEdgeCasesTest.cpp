#include <gtest/gtest.h>

#include <functional>
#include <string_view>

#include "TQProtocolFixture.h"

namespace link_test {
namespace {

using Pos = TQProtocol::Position;

// Sends a one-packet message and acknowledges it; gives the sequence number it went with.
int sendOneWindow(ProtocolHarness& h) {
    h.send({0x01, 0x7B, 0x7D});
    const auto sent = h.transport.take();
    EXPECT_EQ(sent.size(), 1U);
    const int sequence = sequenceOf(sent.front());
    h.receiveAck(sequence == 0 ? 0x8000 : 0x0080);
    return sequence;
}

// Sends a message that fills a window of eight packets of set 0.
void sendFullWindow(ProtocolHarness& h) {
    h.send(messageCompressingTo(8 * TQProtocol::kMaxPayload));
    ASSERT_EQ(sequences(h.transport.take()), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

struct Case {
    const char* name;
    std::function<void(ProtocolHarness&)> run;
};

const Case kCases[] = {
    {"1 to 148 compressed bytes travel as one only packet",
     [](ProtocolHarness&) {
         for (const std::size_t size : {std::size_t{1}, std::size_t{148}}) {
             const auto packets = TQProtocol::packetsFromPayload(randomBytes(size, size), 1);
             EXPECT_EQ(positions(packets), std::vector<int>{Pos::only}) << size;
         }
     }},
    {"149 compressed bytes travel as first and last",
     [](ProtocolHarness&) {
         const auto packets = TQProtocol::packetsFromPayload(randomBytes(149, 1), 1);
         EXPECT_EQ(positions(packets), (std::vector<int>{Pos::first, Pos::last}));
         EXPECT_EQ(packets[1][1], 1);
     }},
    {"1184 compressed bytes fill one window whose eighth packet is the last",
     [](ProtocolHarness& h) {
         h.send(messageCompressingTo(1184));
         const auto sent = h.transport.take();
         EXPECT_EQ(sequences(sent), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
         EXPECT_EQ(positions(sent),
                   (std::vector<int>{Pos::first, Pos::middle, Pos::middle, Pos::middle, Pos::middle,
                                     Pos::middle, Pos::middle, Pos::last}));
         h.receiveAck(0xFF00);
         EXPECT_TRUE(h.transport.take().empty());
         EXPECT_EQ(h.delegate.completions, 1);
     }},
    {"1185 compressed bytes need a second window of one packet in set 1",
     [](ProtocolHarness& h) {
         h.send(messageCompressingTo(1185));
         EXPECT_EQ(h.transport.take().size(), 8U);
         h.receiveAck(0xFF00);
         const auto second = h.transport.take();
         ASSERT_EQ(second.size(), 1U);
         EXPECT_EQ(second[0][0], 0x40 | Pos::last << 4 | 8);
         EXPECT_EQ(second[0][1], 1);
         EXPECT_EQ(h.delegate.completions, 0);
         h.receiveAck(0x0080);
         EXPECT_EQ(h.delegate.completions, 1);
     }},
    {"window sets alternate across messages, restart at 0 after a reset and persist",
     [](ProtocolHarness& h) {
         EXPECT_EQ(sendOneWindow(h), 0);
         EXPECT_EQ(sendOneWindow(h), 8);
         EXPECT_EQ(sendOneWindow(h), 0);
         EXPECT_EQ(h.defaults.integer("currentSendWindowSet"), 0);
         EXPECT_EQ(h.standardDefaults.integer("currentSendWindowSet"), std::nullopt)
             << "the protocol keeps it in the defaults it was given";
         EXPECT_EQ(sendOneWindow(h), 8);
         h.receive(TQProtocol::packetsFromControlModel({TQProtocol::reset, 0}).front());
         EXPECT_EQ(sendOneWindow(h), 0);
         EXPECT_EQ(h.delegate.completions, 5);

         // A relaunch continues with the other set once the connection is restored.
         EXPECT_EQ(h.defaults.integer("currentSendWindowSet"), 0);
         TQProtocol relaunched(h.loop, h.defaults);
         relaunched.initialize(h.delegate, h.transport);
         h.transport.attach(relaunched);
         relaunched.restoreCurrentSendWindowSetValue();
         relaunched.packetsFromDataModel({{0x01}, 1});
         EXPECT_EQ(sequences(h.transport.take()), std::vector<int>{8});
         h.transport.attach(h.protocol);
     }},
    {"ARQ 0 goes out with sequence 0, no window, no T_SEND, and is taken without CRC check",
     [](ProtocolHarness& h) {
         const Bytes message = randomBytes(400, 9);
         h.send(message, false);
         const auto sent = h.transport.take();
         EXPECT_EQ(sent.size(), 3U);
         EXPECT_EQ(sequences(sent), (std::vector<int>{0, 0, 0}));
         EXPECT_EQ(sent.front()[0] & 0x40, 0);
         EXPECT_EQ(h.delegate.completions, 1);
         h.advance(30);
         EXPECT_TRUE(h.transport.take().empty());

         auto packets = messagePackets(message, false);
         packets.front()[2] ^= 0xFF;  // a wrong CRC is not looked at
         for (const auto& packet : packets) {
             h.receive(packet);
         }
         EXPECT_EQ(h.delegate.messages, std::vector<Bytes>{message});
         EXPECT_TRUE(h.transport.take().empty());  // and no acknowledgement
     }},
    {"ACK 0xFF00 completes a full window of set 0",
     [](ProtocolHarness& h) {
         sendFullWindow(h);
         h.receiveAck(0xFF00);
         EXPECT_EQ(h.delegate.completions, 1);
         h.advance(30);
         EXPECT_TRUE(h.transport.take().empty());
     }},
    {"ACK 0xEF00 resends only index 3 and starts T_SEND after its confirmation",
     [](ProtocolHarness& h) {
         sendFullWindow(h);
         h.receiveAck(0xEF00);
         EXPECT_EQ(sequences(h.transport.take()), std::vector<int>{3});
         h.advance(TQProtocol::kSendTimeout - 0.01);
         EXPECT_TRUE(h.transport.take().empty());
         h.advance(0.02);
         EXPECT_EQ(sequences(h.transport.take()), std::vector<int>{3});
     }},
    {"ACK 0x00FF is ignored while the send set is 0",
     [](ProtocolHarness& h) {
         sendFullWindow(h);
         h.receiveAck(0x00FF);
         EXPECT_TRUE(h.transport.take().empty());
         EXPECT_EQ(h.delegate.completions, 0);
         h.advance(TQProtocol::kSendTimeout + 0.01);  // T_SEND still runs: all resent
         EXPECT_EQ(sequences(h.transport.take()), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
     }},
    {"the same incomplete mask four times sends reset 0xB0 and completes",
     [](ProtocolHarness& h) {
         sendFullWindow(h);
         for (int i = 0; i < 3; ++i) {
             h.receiveAck(0xEF00);
             EXPECT_EQ(sequences(h.transport.take()), std::vector<int>{3});
         }
         h.receiveAck(0xEF00);
         const auto sent = h.transport.take();
         ASSERT_EQ(sent.size(), 1U);
         EXPECT_TRUE(isControl(sent[0], 0xB0));
         EXPECT_EQ(h.delegate.completions, 1);
     }},
    {"receiver: 0, 1, 3 give 0xD000 and no delivery; 2 completes; a late 2 is answered again",
     [](ProtocolHarness& h) {
         const Bytes message = randomBytes(500, 11);
         const auto packets = messagePackets(message);
         ASSERT_EQ(packets.size(), 4U);
         h.receive(packets[0]);
         h.receive(packets[1]);
         h.receive(packets[3]);
         EXPECT_EQ(h.transport.take(), std::vector<Bytes>{ackPacket(0xD000)});
         EXPECT_TRUE(h.delegate.messages.empty());
         h.receive(packets[2]);
         EXPECT_EQ(h.transport.take(), std::vector<Bytes>{ackPacket(0xF000)});
         EXPECT_EQ(h.delegate.messages, std::vector<Bytes>{message});
         h.receive(packets[2]);
         EXPECT_EQ(h.transport.take(), std::vector<Bytes>{ackPacket(0xF000)});
         EXPECT_EQ(h.delegate.messages.size(), 1U);
     }},
    {"0x90 is a ping, 0x91 and 0xA0 are ignored, 0xB0 resets both sides",
     [](ProtocolHarness& h) {
         for (const std::uint8_t byte : {0x90, 0x91, 0xA0}) {
             Bytes packet(TQProtocol::kControlPacketSize, 0);
             packet[0] = byte;
             h.receive(packet);
         }
         EXPECT_EQ(h.delegate.pings, 1);
         EXPECT_EQ(h.delegate.resets, 0);

         // A window out and half a message in, then the reset.
         sendFullWindow(h);
         const auto incoming = messagePackets(randomBytes(500, 12));
         h.receive(incoming[0]);
         h.receive(incoming[1]);
         h.transport.take();
         h.receive(TQProtocol::packetsFromControlModel({TQProtocol::reset, 0}).front());
         EXPECT_EQ(h.delegate.resets, 1);
         EXPECT_EQ(h.delegate.completions, 1);
         h.advance(30);  // no timer of either direction is left
         EXPECT_TRUE(h.transport.take().empty());
         h.receive(incoming[2]);
         h.receive(incoming[3]);
         EXPECT_TRUE(h.delegate.messages.empty());
     }},
    {"a payload that does not inflate reaches the facade as raw bytes",
     [](ProtocolHarness& h) {
         const Bytes raw = {'h', 'e', 'l', 'l', 'o'};
         h.receive(dataPacket(raw, Pos::only, 0));
         EXPECT_EQ(h.delegate.messages, std::vector<Bytes>{raw});
     }},
};

TEST(TQProtocolEdgeCasesTest, BehaveAsTheLinkExpects) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ProtocolHarness h;
        c.run(h);
    }
}

}  // namespace
}  // namespace link_test
