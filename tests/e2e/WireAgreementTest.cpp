#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "link/TQAPFixture.h"
#include "link/TQCrc16.h"
#include "link/TQProtocol.h"
#include "sim/Compression.h"
#include "sim/Handshake.h"
#include "sim/PacketEngine.h"
#include "sim/WireFormat.h"

// Golden bytes that the phone's classes and the watch's must both write and both read. The two
// sides were written apart; a slip on either shows here as a literal that one side disagrees
// with.
namespace e2e {
namespace {

using link_test::Bytes;
namespace watch = kavowatch;

Bytes text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// Zeros of the given size with the fields written in at their offsets.
Bytes laidOut(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> fields) {
    Bytes bytes(size, 0);
    for (const auto& [offset, field] : fields) {
        std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return bytes;
}

Bytes counting(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

// Bytes that no compressor shrinks: deflate stores them, so their size on the wire is known.
Bytes noise(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

// The message 0x41 "hi" (priority 1, identifier 1) as a zlib stream of one stored block,
// written by hand, so neither side's compressor made it.
const Bytes kStoredHi = {0x78, 0x01, 0x01, 0x03, 0x00, 0xFC, 0xFF,
                         0x41, 0x68, 0x69, 0x01, 0xFF, 0x01, 0x13};
// That stream as the only packet of a window of set 0, and the acknowledgement of it.
const Bytes kStoredHiPacket = join({{0x50, 0x0E, 0x0A, 0xE2}, kStoredHi});
const Bytes kAckOfSlotZero = laidOut(22, {{0, {0x80, 0x80, 0x00}}});

// The phone's packet protocol on a transport that keeps every packet and accepts it at once.
class PhoneEnd final : public TQPacketTransport, public TQDataDelegate {
public:
    PhoneEnd(platform::RunLoop& loop, platform::UserDefaults& defaults) : protocol(loop, defaults) {
        protocol.initialize(*this, *this);
    }

    bool isConnected() override { return true; }
    void sendData(std::span<const std::uint8_t> packet) override {
        sent.emplace_back(packet.begin(), packet.end());
        protocol.onPacketSent(true);
    }
    void onDataSendCompleted(const TQSendOutcome& /*outcome*/) override { ++completed; }
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override {
        received.emplace_back(message.begin(), message.end());
    }
    void onPingReceived() override {}
    void onResetCmdReceived() override {}

    TQProtocol protocol;
    std::vector<Bytes> sent;
    std::vector<Bytes> received;
    int completed = 0;
};

// The watch's packet engine on a link that keeps every packet.
class WatchEnd final : public watch::PacketLink, public watch::PacketEngineDelegate {
public:
    explicit WatchEnd(platform::RunLoop& loop) : engine(loop, *this, *this) {}

    Outcome transmit(std::span<const std::uint8_t> packet) override {
        sent.emplace_back(packet.begin(), packet.end());
        return Outcome::sent;
    }
    void messageReceived(Bytes message, bool /*acknowledged*/) override {
        received.push_back(std::move(message));
    }

    watch::PacketEngine engine;
    std::vector<Bytes> sent;
    std::vector<Bytes> received;
};

using WireAgreementTest = link_test::FacadeTest;

TEST_F(WireAgreementTest, TheCrcIsTheSameOnBothSides) {
    const Bytes check = text("123456789");
    EXPECT_EQ(crc16(check), 0xBB3D);
    EXPECT_EQ(watch::crc16(check), 0xBB3D);
    EXPECT_EQ(crc16(kStoredHi), 0x0AE2);
    EXPECT_EQ(watch::crc16(kStoredHi), 0x0AE2);
}

TEST_F(WireAgreementTest, DataPacketsAreTheSameBytesOnBothSides) {
    const Bytes digits = text("123456789");
    const Bytes run = counting(300);
    const struct {
        const char* what;
        Bytes payload;
        bool acknowledged;
        std::vector<Bytes> packets;
    } cases[] = {
        {"only, acknowledged", digits, true, {join({{0x50, 0x09, 0xBB, 0x3D}, digits})}},
        {"only, unacknowledged", digits, false, {join({{0x10, 0x09, 0xBB, 0x3D}, digits})}},
        {"first, middle, last",
         run,
         true,
         {join({{0x40, 0x94, 0x32, 0x83}, slice(run, 0, 148)}),
          join({{0x60, 0x94, 0xD1, 0x30}, slice(run, 148, 148)}),
          join({{0x70, 0x04, 0x17, 0x87}, slice(run, 296, 4)})}},
        {"first and last, unacknowledged",
         slice(run, 0, 152),
         false,
         {join({{0x00, 0x94, 0x32, 0x83}, slice(run, 0, 148)}),
          join({{0x30, 0x04, 0x12, 0x12}, slice(run, 148, 4)})}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TQProtocol::packetsFromPayload(c.payload, c.acknowledged ? 1 : 0), c.packets);
        EXPECT_EQ(watch::packetise(c.payload, c.acknowledged), c.packets);
        Bytes joined;
        for (const Bytes& packet : c.packets) {
            const auto parsed = watch::parseDataPacket(packet);
            ASSERT_TRUE(parsed);
            EXPECT_TRUE(parsed->crcMatches);
            EXPECT_EQ(parsed->acknowledged, c.acknowledged);
            EXPECT_EQ(parsed->sequence, 0);
            joined.insert(joined.end(), parsed->payload.begin(), parsed->payload.end());
        }
        EXPECT_EQ(joined, c.payload);
    }
}

TEST_F(WireAgreementTest, ControlPacketsAreTheSameBytesOnBothSides) {
    const struct {
        const char* what;
        TQControlModel phone;
        watch::Command command;
        std::uint8_t argument;
        Bytes literal;
    } cases[] = {
        {"ping", {TQProtocol::ping, 0}, watch::Command::ping, 0, laidOut(22, {{0, {0x90}}})},
        {"echo", {TQProtocol::ping, 1}, watch::Command::ping, 1, laidOut(22, {{0, {0x91}}})},
        {"disconnect",
         {TQProtocol::disconnect, 0},
         watch::Command::disconnect,
         0,
         laidOut(22, {{0, {0xA0}}})},
        {"reset", {TQProtocol::reset, 0}, watch::Command::reset, 0, laidOut(22, {{0, {0xB0}}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TQProtocol::packetsFromControlModel(c.phone), std::vector<Bytes>{c.literal});
        EXPECT_EQ(watch::controlPacket(c.command, c.argument), c.literal);
        const auto parsed = watch::parseControlPacket(c.literal);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->command, c.command);
        EXPECT_EQ(parsed->argument, c.argument);
    }

    // Acknowledgements carry the mask high byte first, set 0 in the high byte.
    for (const std::uint16_t mask : {0x8000, 0xFF00, 0x00C0, 0x00FF}) {
        SCOPED_TRACE(mask);
        const Bytes literal = laidOut(22, {{0,
                                            {0x80, static_cast<std::uint8_t>(mask >> 8),
                                             static_cast<std::uint8_t>(mask & 0xFF)}}});
        PhoneEnd phone(loop_, defaults_);
        phone.protocol.sendAck(mask);
        EXPECT_EQ(phone.sent, std::vector<Bytes>{literal});
        EXPECT_EQ(watch::ackPacket(mask), literal);
        const auto parsed = watch::parseControlPacket(literal);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->command, watch::Command::ack);
        EXPECT_EQ(parsed->mask, mask);
    }
}

TEST_F(WireAgreementTest, EachSideTakesAWindowAndItsAcknowledgementFromTheOther) {
    // The literal window: both take the message in and acknowledge it with the same bytes.
    {
        PhoneEnd phone(loop_, defaults_);
        phone.protocol.onDataReceived(kStoredHiPacket);
        settle();
        EXPECT_EQ(phone.received, std::vector<Bytes>{text("\x41hi")});
        EXPECT_EQ(phone.sent, std::vector<Bytes>{kAckOfSlotZero});
        WatchEnd watch(loop_);
        watch.engine.receive(kStoredHiPacket);
        EXPECT_EQ(watch.received, std::vector<Bytes>{text("\x41hi")});
        EXPECT_EQ(watch.sent, std::vector<Bytes>{kAckOfSlotZero});
        EXPECT_EQ(watch::inflateMessage(kStoredHi).data, text("\x41hi"));
    }

    // Whole messages that each side compressed and cut itself, carried to the other.
    PhoneEnd phone(loop_, defaults_);
    WatchEnd watch(loop_);
    const Bytes down = join({{0x41}, noise(400, 1)});
    const Bytes up = join({{0x42}, noise(300, 2)});

    phone.protocol.packetsFromDataModel(TQDataModel{down, 1});
    settle();
    ASSERT_EQ(phone.sent.size(), 3U) << "401 bytes stored, with the stream's framing";
    for (const Bytes& packet : phone.sent) {
        watch.engine.receive(packet);
    }
    EXPECT_EQ(watch.received, std::vector<Bytes>{down});
    ASSERT_EQ(watch.sent.size(), 1U);
    EXPECT_EQ(watch.sent[0], laidOut(22, {{0, {0x80, 0xE0, 0x00}}}))
        << "three packets of set 0 acknowledged";
    phone.protocol.onDataReceived(watch.sent[0]);
    settle();
    EXPECT_EQ(phone.completed, 1);

    watch.sent.clear();
    phone.sent.clear();
    watch.engine.send(up, true);
    ASSERT_FALSE(watch.sent.empty());
    for (const Bytes& packet : watch.sent) {
        phone.protocol.onDataReceived(packet);
    }
    settle();
    EXPECT_EQ(phone.received, std::vector<Bytes>{up});
    ASSERT_EQ(phone.sent.size(), 1U);
    EXPECT_EQ(phone.sent[0], laidOut(22, {{0, {0x80, 0xE0, 0x00}}}));
    watch.engine.receive(phone.sent[0]);
    EXPECT_TRUE(watch.engine.isIdle()) << "the phone's acknowledgement completed the window";
    EXPECT_EQ(watch.engine.counters().messagesSent, 1);
}

TEST_F(WireAgreementTest, HandshakeRecordsAreReadAlikeOnBothSides) {
    const Bytes request = laidOut(148, {{0, {0x00}}, {33, text("Kavo R5 (1A2B)")}});
    const Bytes complete = laidOut(148, {{0, {0x80}}});
    EXPECT_EQ(watch::handshakeRequest("Kavo R5 (1A2B)"), request);
    EXPECT_EQ(watch::handshakeRecord(watch::HandshakeType::complete), complete);
    EXPECT_EQ(watch::handshakeRecord(watch::HandshakeType::reject), TQAP::makeBAPRejectPacket());

    link_test::KnownWatch known(loop_);
    manager_.connectedDevice = &known.peripheral();
    subscribe("T1");
    watch_.send(request);
    settle();
    ASSERT_EQ(watchReceived().size(), 1U);
    const Bytes response = watchReceived()[0];
    ASSERT_EQ(response.size(), 148U);
    const Bytes tag = slice(response, 66, 3);
    EXPECT_EQ(response, laidOut(148, {{0, {0x40}},
                                      {17, text("Apple")},
                                      {33, text("Kim's phone")},
                                      {66, tag},
                                      {99,
                                       {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78, 0x87, 0x96,
                                        0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}}}));
    const auto checked =
        watch::checkHandshakeResponse(response, link_test::KnownWatch::kIdentifier);
    ASSERT_TRUE(checked) << checked.error().message;
    EXPECT_EQ(checked->phoneName, "Kim's phone");
    EXPECT_EQ(checked->tag, std::string(tag.begin(), tag.end()));
    EXPECT_TRUE(checked->namesThisWatch);

    watch_.send(complete);
    settle();
    EXPECT_EQ(delegate_->connects, 1);
}

}  // namespace
}  // namespace e2e
