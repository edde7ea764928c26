// The bytes both sides of the link must agree on, written out literally: the phone's own tests
// hold its side to the same values.
#include <gtest/gtest.h>

#include <string_view>

#include "sim/Compression.h"
#include "sim/Handshake.h"
#include "sim/PacketEngine.h"
#include "sim/WireFormat.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::bluetooth::Uuid;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(Bytes head, std::span<const std::uint8_t> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes padded(Bytes head, std::size_t size) {
    head.resize(size, 0);
    return head;
}

// The message 0x41 {"msgId":"ping"} (priority 1, application 1) gzip-wrapped, as the phone
// compresses.
const Bytes kPingGzip = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
                         0x73, 0xAC, 0x56, 0xCA, 0x2D, 0x4E, 0xF7, 0x4C, 0x51, 0xB2,
                         0x52, 0x2A, 0xC8, 0xCC, 0x4B, 0x57, 0xAA, 0x05, 0x00, 0x92,
                         0x62, 0x64, 0xC3, 0x11, 0x00, 0x00, 0x00};

Bytes counting(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

// The bytes 0 to 159 as a zlib stream of one stored block: 171 bytes, two packets.
Bytes storedCounting() {
    Bytes stream = {0x78, 0x9C, 0x01, 0xA0, 0x00, 0x5F, 0xFF};
    stream = concat(stream, counting(160));
    return concat(stream, Bytes{0x6B, 0xC6, 0x31, 0xB1});
}

TEST(WireFormatTest, CrcIsSixteenBitArc) {
    const struct {
        Bytes input;
        std::uint16_t crc;
    } cases[] = {
        {bytesOf("123456789"), 0xBB3D},  // the check value
        {{}, 0x0000},
        {{0x01, 0x02, 0x03}, 0xA110},
        {Bytes(148, 0xFF), 0x74BE},
        {kPingGzip, 0x1454},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(crc16(c.input), c.crc) << c.input.size();
    }
}

TEST(WireFormatTest, OneAndTwoPacketMessages) {
    EXPECT_EQ(packetise(kPingGzip, true),
              std::vector<Bytes>{concat({0x50, 0x25, 0x14, 0x54}, kPingGzip)});
    EXPECT_EQ(packetise(kPingGzip, false),
              std::vector<Bytes>{concat({0x10, 0x25, 0x14, 0x54}, kPingGzip)});

    const Bytes stream = storedCounting();
    ASSERT_EQ(stream.size(), 171U);
    const auto packets = packetise(stream, true);
    ASSERT_EQ(packets.size(), 2U);
    EXPECT_EQ(packets[0], concat({0x40, 0x94, 0xD6, 0xC4}, std::span(stream).first(148)));
    EXPECT_EQ(packets[1], concat({0x70, 0x17, 0x1C, 0xE1}, std::span(stream).subspan(148)));
    EXPECT_TRUE(packetise({}, true).empty());
}

TEST(WireFormatTest, ControlPacketsAreTwentyTwoBytes) {
    EXPECT_EQ(ackPacket(0xEF00), padded({0x80, 0xEF, 0x00}, 22));
    EXPECT_EQ(ackPacket(0x00C0), padded({0x80, 0x00, 0xC0}, 22));
    EXPECT_EQ(controlPacket(Command::reset), padded({0xB0}, 22));
    EXPECT_EQ(controlPacket(Command::ping, 1), padded({0x91}, 22));
}

// The golden packets, fed to the watch's engine as the phone would send them: the engine
// delivers the message and answers with the literal acknowledgement.
class GoldenReceiveTest : public ::testing::Test,
                          protected PacketLink,
                          protected PacketEngineDelegate {
protected:
    Outcome transmit(std::span<const std::uint8_t> packet) override {
        sent.emplace_back(packet.begin(), packet.end());
        return Outcome::sent;
    }
    void messageReceived(Bytes message, bool) override { received.push_back(std::move(message)); }

    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop scoped{loop};
    std::vector<Bytes> sent;
    std::vector<Bytes> received;
    PacketEngine engine{loop, *this, *this};
};

TEST_F(GoldenReceiveTest, OnePacketMessageIsDeliveredAndAcknowledged) {
    engine.receive(concat({0x50, 0x25, 0x14, 0x54}, kPingGzip));
    EXPECT_EQ(received, std::vector<Bytes>{concat({0x41}, bytesOf(R"({"msgId":"ping"})"))});
    EXPECT_EQ(sent, std::vector<Bytes>{padded({0x80, 0x80, 0x00}, 22)});
}

TEST_F(GoldenReceiveTest, TwoPacketMessageIsDeliveredAndAcknowledged) {
    const Bytes stream = storedCounting();
    engine.receive(concat({0x40, 0x94, 0xD6, 0xC4}, std::span(stream).first(148)));
    EXPECT_TRUE(sent.empty());
    engine.receive(concat({0x71, 0x17, 0x1C, 0xE1}, std::span(stream).subspan(148)));
    EXPECT_EQ(received, std::vector<Bytes>{counting(160)});
    EXPECT_EQ(sent, std::vector<Bytes>{padded({0x80, 0xC0, 0x00}, 22)});
}

TEST(WireFormatTest, DataPacketsAreReadOnlyWithinWhatArrived) {
    const Bytes good = {0x53, 0x03, 0xA1, 0x10, 0x01, 0x02, 0x03};
    const auto parsed = parseDataPacket(good);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->acknowledged);
    EXPECT_EQ(parsed->position, Position::only);
    EXPECT_EQ(parsed->sequence, 3);
    EXPECT_TRUE(parsed->crcMatches);
    EXPECT_EQ(Bytes(parsed->payload.begin(), parsed->payload.end()), (Bytes{1, 2, 3}));

    // Trailing bytes beyond the length are not payload.
    EXPECT_EQ(parseDataPacket(concat(good, Bytes{9, 9}))->payload.size(), 3U);
    EXPECT_FALSE(parseDataPacket(Bytes{0x53, 0x03, 0xA1, 0x10, 0x01, 0x02, 0x04})->crcMatches);

    const Bytes refused[] = {
        {},
        {0x50, 0x01, 0x00, 0x00},                    // no payload byte
        {0x50, 0x00, 0x00, 0x00, 0x01},              // length 0
        {0x50, 0x04, 0xA1, 0x10, 0x01, 0x02, 0x03},  // length beyond what arrived
        padded({0x50, 149}, 4 + 149),                // length above 148
        padded({0x80}, 22),                          // a control packet
    };
    for (const Bytes& packet : refused) {
        EXPECT_FALSE(parseDataPacket(packet)) << packet.size();
    }
}

TEST(WireFormatTest, ControlPacketsMustHaveTheirExactShape) {
    EXPECT_EQ(parseControlPacket(padded({0x80, 0xEF, 0x00}, 22))->mask, 0xEF00);
    EXPECT_EQ(parseControlPacket(padded({0xB0}, 22))->command, Command::reset);
    EXPECT_EQ(parseControlPacket(padded({0x91}, 22))->argument, 1);
    const Bytes refused[] = {
        padded({0x80, 0xFF, 0x00}, 21),        // short
        padded({0x80, 0xFF, 0x00}, 23),        // long
        padded({0x81, 0xFF, 0x00}, 22),        // an acknowledgement with an argument
        padded({0xB0, 0x01}, 22),              // a mask on a reset
        concat(padded({0x80}, 21), Bytes{1}),  // padding that is not zero
    };
    for (const Bytes& packet : refused) {
        EXPECT_FALSE(parseControlPacket(packet)) << packet.size();
    }
}

TEST(WireFormatTest, InflateTellsStreamsRawBytesAndDamageApart) {
    const Bytes message = concat({0x41}, bytesOf(R"({"msgId":"ping"})"));
    const Inflated gzip = inflateMessage(kPingGzip);
    EXPECT_EQ(gzip.status, Inflated::Status::inflated);
    EXPECT_EQ(gzip.data, message);
    EXPECT_EQ(inflateMessage(compressMessage(message)).data, message);
    EXPECT_EQ(inflateMessage(storedCounting()).data, counting(160));

    const Inflated raw = inflateMessage(message);
    EXPECT_EQ(raw.status, Inflated::Status::notCompressed);
    EXPECT_EQ(raw.data, message);

    Bytes flipped = storedCounting();
    flipped[100] ^= 0x01;  // the stream's checksum no longer matches
    const Bytes damaged[] = {
        Bytes(kPingGzip.begin(), kPingGzip.end() - 5),  // ends early
        flipped,
    };
    for (const Bytes& stream : damaged) {
        EXPECT_EQ(inflateMessage(stream).status, Inflated::Status::damaged);
    }
    EXPECT_EQ(inflateMessage(storedCounting(), 159).status, Inflated::Status::damaged);
    EXPECT_EQ(inflateMessage(storedCounting(), 160).status, Inflated::Status::inflated);
}

TEST(WireFormatTest, HandshakeRequestCarriesTheNameAtOffsetThirtyThree) {
    EXPECT_EQ(handshakeRequest("Kavo R5 (1A2B)"),
              padded(concat(Bytes(33, 0), bytesOf("Kavo R5 (1A2B)")), 148));
    // A longer name is cut so that the byte after the field stays zero.
    const Bytes cut = handshakeRequest("Kavo R5 (1A2B) with a long tail");
    EXPECT_EQ(Bytes(cut.begin() + 33, cut.begin() + 50), padded(bytesOf("Kavo R5 (1A2B) w"), 17));
    EXPECT_EQ(handshakeRecord(HandshakeType::complete), padded({0x80}, 148));
    EXPECT_EQ(handshakeRecord(HandshakeType::reject), padded({0xC0}, 148));
}

// The response as the phone lays it out, byte for byte.
Bytes literalResponse(const Uuid& device) {
    Bytes record = padded({0x40}, 17);
    record = padded(concat(record, bytesOf("Apple")), 33);
    record = padded(concat(record, bytesOf("Test Phone")), 49);
    record.push_back(0);  // offset 49
    record = padded(record, 66);
    record = padded(concat(record, bytesOf("kvo")), 99);
    record = concat(record, device.bytes());
    return padded(record, 148);
}

TEST(WireFormatTest, HandshakeResponseIsCheckedFieldByField) {
    const Uuid watch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
    const Bytes good = literalResponse(watch);
    ASSERT_EQ(good.size(), 148U);
    const auto accepted = checkHandshakeResponse(good, watch);
    ASSERT_TRUE(accepted) << accepted.error().message;
    EXPECT_EQ(accepted->phoneName, "Test Phone");
    EXPECT_EQ(accepted->tag, "kvo");
    EXPECT_TRUE(accepted->namesThisWatch);

    Bytes noDevice = good;
    std::fill(noDevice.begin() + 99, noDevice.begin() + 115, 0);
    ASSERT_TRUE(checkHandshakeResponse(noDevice, watch));
    EXPECT_FALSE(checkHandshakeResponse(noDevice, watch)->namesThisWatch);

    Bytes fullName = good;  // sixteen bytes of name fill the field
    std::fill(fullName.begin() + 33, fullName.begin() + 49, 'x');
    EXPECT_TRUE(checkHandshakeResponse(fullName, watch));

    const struct {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
    } broken[] = {
        {"type", 0, 0x80},
        {"offset 1", 1, 'x'},
        {"maker", 17, 'a'},
        {"maker's end", 22, 'x'},
        {"name after its end", 45, 'x'},
        {"offset 49", 49, 'x'},
        {"offset 50", 50, 'x'},
        {"tag letter", 67, 'A'},
        {"tag's end", 69, 'd'},
        {"offset 98", 98, 1},
        {"device", 100, 0x00},
        {"offset 115", 115, 1},
        {"last byte", 147, 1},
    };
    for (const auto& b : broken) {
        Bytes record = good;
        record[b.offset] = b.value;
        EXPECT_FALSE(checkHandshakeResponse(record, watch)) << b.what;
    }
    EXPECT_FALSE(checkHandshakeResponse(std::span(good).first(147), watch));
    EXPECT_FALSE(checkHandshakeResponse(concat(good, Bytes{0}), watch));
}

}  // namespace
