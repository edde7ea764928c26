#include <gtest/gtest.h>

#include <string_view>

#include "TQProtocolFixture.h"

namespace link_test {
namespace {

Bytes text(std::string_view value) {
    return Bytes(value.begin(), value.end());
}

Bytes concat(Bytes head, std::span<const std::uint8_t> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(TQProtocolPacketsTest, DataPacketsCarryHeaderLengthAndCrcHighByteFirst) {
    const Bytes small = {0x01, 0x02, 0x03};
    EXPECT_EQ(TQProtocol::packetsFromPayload(small, 1),
              (std::vector<Bytes>{{0x50, 0x03, 0xA1, 0x10, 0x01, 0x02, 0x03}}));
    EXPECT_EQ(TQProtocol::packetsFromPayload(small, 0),
              (std::vector<Bytes>{{0x10, 0x03, 0xA1, 0x10, 0x01, 0x02, 0x03}}));

    Bytes payload(150);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    const auto packets = TQProtocol::packetsFromPayload(payload, 1);
    ASSERT_EQ(packets.size(), 2U);
    EXPECT_EQ(packets[0], concat({0x40, 0x94, 0x32, 0x83}, std::span(payload).first(148)));
    EXPECT_EQ(packets[1], (Bytes{0x70, 0x02, 0xAF, 0xAE, 148, 149}));
    EXPECT_TRUE(TQProtocol::packetsFromPayload({}, 1).empty());
}

TEST(TQProtocolPacketsTest, ControlPacketsAreTwentyTwoBytes) {
    struct Case {
        TQControlModel model;
        std::uint8_t byte;
    };
    const Case cases[] = {
        {{0, 0}, 0x80}, {{1, 0}, 0x90}, {{1, 1}, 0x91},
        {{2, 0}, 0xA0}, {{3, 0}, 0xB0}, {{7, 0x1F}, 0xBF},  // only the low bits reach the wire
    };
    for (const auto& c : cases) {
        Bytes expected(22, 0);
        expected[0] = c.byte;
        EXPECT_EQ(TQProtocol::packetsFromControlModel(c.model), std::vector<Bytes>{expected})
            << int{c.byte};
    }

    ProtocolHarness h;
    h.protocol.sendAck(0xEF00);
    EXPECT_EQ(h.transport.take(), (std::vector<Bytes>{{0x80, 0xEF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,
                                                       0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0}}));
}

TEST(TQProtocolPacketsTest, TheWireCarriesTheDeflatedMessageInOneWindow) {
    ProtocolHarness h;
    const Bytes message = randomBytes(600, 7);
    h.send(message);
    auto expected = TQProtocol::packetsFromPayload(*compression::dataDeflate(message), 1);
    ASSERT_EQ(expected.size(), 5U);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i][0] = static_cast<std::uint8_t>(expected[i][0] | i);
    }
    EXPECT_EQ(h.transport.take(), expected);
}

TEST(TQProtocolPacketsTest, JoiningInflatesOrHandsOverWhatIsNoStream) {
    const Bytes message = randomBytes(2000, 3);
    EXPECT_EQ(TQProtocol::dataModelFromPackets(messagePackets(message))->data, message);
    EXPECT_FALSE(TQProtocol::dataModelFromPackets({}));

    const Bytes raw = text("hello, not deflated");
    EXPECT_EQ(TQProtocol::dataModelFromPackets(TQProtocol::packetsFromPayload(raw, 1))->data, raw);

    // A length byte beyond what arrived reads only what arrived.
    Bytes overlong = TQProtocol::packetsFromPayload(text("abc"), 1).front();
    overlong[1] = 148;
    EXPECT_EQ(TQProtocol::dataModelFromPackets(std::vector<Bytes>{overlong, {0x30}})->data,
              text("abc"));
}

TEST(TQProtocolPacketsTest, AStreamThatWouldInflatePastTheBoundIsDropped) {
    const Bytes bomb = *compression::dataDeflate(Bytes(compression::kMaxLinkMessage + 1, 0));
    EXPECT_FALSE(TQProtocol::dataModelFromPackets(TQProtocol::packetsFromPayload(bomb, 1)));

    // Too short to get anywhere near the bound: a stream that merely ends early goes up as it
    // came, like any other bytes that do not inflate.
    const Bytes packed = *compression::dataDeflate(randomBytes(1000, 5));
    const auto cut = std::span(packed).first(packed.size() - 10);
    EXPECT_EQ(TQProtocol::dataModelFromPackets(TQProtocol::packetsFromPayload(cut, 1))->data,
              Bytes(cut.begin(), cut.end()));
}

}  // namespace
}  // namespace link_test
