#include <gtest/gtest.h>

#include <deque>

#include "BluetoothTestSupport.h"
#include "platform/bluetooth/AttClient.h"
#include "platform/bluetooth/AttServer.h"

namespace {

using namespace bluetooth_test;

// A server on the link service database whose host writes down what the server does. Handles:
// 1 service, 2/3/4 notify declaration, value, configuration, 5/6 write, 7/8 address.
class AttServerTest : public ::testing::Test, public AttServer::Host {
protected:
    AttServerTest() { EXPECT_TRUE(database.add(linkService())); }

    void sendPdu(Bytes pdu) override { sent.push_back(std::move(pdu)); }
    void readRequested(const GattAttribute& value) override { readsAsked.push_back(value.handle); }
    void writeRequested(const GattAttribute& value, Bytes data, bool withResponse) override {
        writesAsked.push_back({value.handle, std::move(data), withResponse});
    }
    void subscriptionChanged(const GattAttribute& value, bool subscribed) override {
        subscriptions.emplace_back(value.handle, subscribed);
    }

    // Feeds one request and returns the single answer, or nothing.
    std::optional<Bytes> exchange(const Bytes& request) {
        sent.clear();
        EXPECT_FALSE(server.receive(request));
        EXPECT_LE(sent.size(), 1u);
        return sent.empty() ? std::nullopt : std::optional<Bytes>(sent.front());
    }

    struct Write {
        std::uint16_t handle;
        Bytes data;
        bool withResponse;
    };
    GattDatabase database;
    AttServer server{database, *this};
    std::vector<Bytes> sent;
    std::vector<std::uint16_t> readsAsked;
    std::vector<Write> writesAsked;
    std::vector<std::pair<std::uint16_t, bool>> subscriptions;
};

TEST_F(AttServerTest, AnswersRequestsByTheBook) {
    struct Case {
        const char* what;
        Bytes request;
        std::optional<Bytes> answer;
    };
    const Bytes serviceUuid = kService.littleEndian();
    Bytes groupAnswer{0x11, 20, 0x01, 0x00, 0x08, 0x00};
    groupAnswer.insert(groupAnswer.end(), serviceUuid.begin(), serviceUuid.end());
    const Case cases[] = {
        {"primary services", {0x10, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x28}, groupAnswer},
        {"services past the end",
         {0x10, 0x09, 0x00, 0xFF, 0xFF, 0x00, 0x28},
         Bytes{0x01, 0x10, 0x09, 0x00, 0x0A}},
        {"start handle 0",
         {0x10, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x28},
         Bytes{0x01, 0x10, 0x00, 0x00, 0x01}},
        {"group of characteristics",
         {0x10, 0x01, 0x00, 0xFF, 0xFF, 0x03, 0x28},
         Bytes{0x01, 0x10, 0x01, 0x00, 0x10}},
        {"configuration descriptor",
         {0x04, 0x04, 0x00, 0x04, 0x00},
         Bytes{0x05, 0x01, 0x04, 0x00, 0x02, 0x29}},
        {"read configuration", {0x0A, 0x04, 0x00}, Bytes{0x0B, 0x00, 0x00}},
        {"read unknown handle", {0x0A, 0x63, 0x00}, Bytes{0x01, 0x0A, 0x63, 0x00, 0x01}},
        {"write a declaration", {0x12, 0x02, 0x00, 0x01}, Bytes{0x01, 0x12, 0x02, 0x00, 0x03}},
        {"write the read-only address",
         {0x12, 0x08, 0x00, 0x01},
         Bytes{0x01, 0x12, 0x08, 0x00, 0x03}},
        {"configuration of 3 bytes",
         {0x12, 0x04, 0x00, 0x01, 0x00, 0x00},
         Bytes{0x01, 0x12, 0x04, 0x00, 0x0D}},
        {"indications asked for",
         {0x12, 0x04, 0x00, 0x02, 0x00},
         Bytes{0x01, 0x12, 0x04, 0x00, 0xFD}},
        {"read blob is not served",
         {0x0C, 0x03, 0x00, 0x00, 0x00},
         Bytes{0x01, 0x0C, 0x00, 0x00, 0x06}},
        {"unknown command is ignored", {0x7F, 0x01}, std::nullopt},
        {"write command to a declaration is ignored", {0x52, 0x02, 0x00, 0x01}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exchange(c.request), c.answer) << c.what;
    }
    EXPECT_TRUE(readsAsked.empty());
    EXPECT_TRUE(writesAsked.empty());
}

TEST_F(AttServerTest, ListsCharacteristicsWithinTheMtu) {
    // At the default MTU of 23 a 128-bit declaration entry (21 bytes) fits once per response.
    const auto first = exchange({0x08, 0x01, 0x00, 0xFF, 0xFF, 0x03, 0x28});
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 23u);
    EXPECT_EQ((Bytes(first->begin(), first->begin() + 7)),
              (Bytes{0x09, 21, 0x02, 0x00, 0x12, 0x03, 0x00}));

    // After a larger MTU all three come at once.
    EXPECT_EQ(exchange({0x02, 0x00, 0x02}), (Bytes{0x03, 0x05, 0x02}));
    const auto all = exchange({0x08, 0x01, 0x00, 0xFF, 0xFF, 0x03, 0x28});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 2u + 3 * 21);
}

TEST_F(AttServerTest, ConfigurationWritesSubscribeAndUnsubscribe) {
    EXPECT_EQ(exchange({0x12, 0x04, 0x00, 0x01, 0x00}), Bytes{0x13});
    EXPECT_TRUE(server.isSubscribed(3));
    EXPECT_EQ(exchange({0x0A, 0x04, 0x00}), (Bytes{0x0B, 0x01, 0x00}));
    EXPECT_EQ(exchange({0x12, 0x04, 0x00, 0x01, 0x00}), Bytes{0x13});  // no second event
    EXPECT_EQ(exchange({0x12, 0x04, 0x00, 0x00, 0x00}), Bytes{0x13});
    EXPECT_EQ(subscriptions, (std::vector<std::pair<std::uint16_t, bool>>{{3, true}, {3, false}}));
}

TEST_F(AttServerTest, HoldsRequestsWhileTheApplicationAnswers) {
    EXPECT_FALSE(exchange({0x0A, 0x08, 0x00}));  // dynamic address value: asked of the host
    EXPECT_EQ(readsAsked, std::vector<std::uint16_t>{8});
    // A client that does not wait gets its next answer only after the first.
    EXPECT_FALSE(exchange({0x0A, 0x04, 0x00}));
    sent.clear();
    const Bytes token{'1', 'A', '2', 'B'};
    server.respondToRead(AttError::success, token);
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x0B, '1', 'A', '2', 'B'}, {0x0B, 0x00, 0x00}}));

    // Writes of dynamic values go to the host; a request is answered with the host's result.
    EXPECT_FALSE(exchange({0x12, 0x06, 0x00, 0xAA}));
    sent.clear();
    server.respondToWrite(applicationError(1));
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x01, 0x12, 0x06, 0x00, 0x81}}));
    EXPECT_FALSE(exchange({0x52, 0x06, 0x00, 0xBB, 0xCC}));
    ASSERT_EQ(writesAsked.size(), 2u);
    EXPECT_TRUE(writesAsked[0].withResponse);
    EXPECT_FALSE(writesAsked[1].withResponse);
    EXPECT_EQ(writesAsked[1].data, (Bytes{0xBB, 0xCC}));
    // A late second answer is ignored.
    sent.clear();
    server.respondToWrite(AttError::success);
    EXPECT_TRUE(sent.empty());
}

TEST_F(AttServerTest, GarbageIsAProtocolViolation) {
    const Bytes cases[] = {
        {},                                    // empty
        Bytes(24, 0x52),                       // longer than the MTU of 23
        {0x1B, 0x03, 0x00, 0x01},              // a notification from the client
        {0x13},                                // a response from the client
        {0x0A, 0x03},                          // truncated read
        {0x10, 0x01, 0x00, 0xFF, 0xFF, 0x00},  // truncated group type
        {0x12, 0x04},                          // write without handle
    };
    for (const Bytes& pdu : cases) {
        EXPECT_TRUE(server.receive(pdu)) << pdu.size();
    }
}

// A client and a server joined by two queues, pumped until quiet.
class AttLoopback : public ::testing::Test, public AttServer::Host {
protected:
    void sendPdu(Bytes pdu) override { toClient.push_back(std::move(pdu)); }
    void readRequested(const GattAttribute&) override {
        server->respondToRead(AttError::success, Bytes{'v'});
    }
    void writeRequested(const GattAttribute&, Bytes, bool withResponse) override {
        if (withResponse) {
            server->respondToWrite(AttError::writeNotPermitted);
        }
    }
    void subscriptionChanged(const GattAttribute&, bool) override {}

    void start(std::uint16_t serverMtu) {
        server = std::make_unique<AttServer>(database, *this, serverMtu);
        client = std::make_unique<AttClient>([this](Bytes pdu) { toServer.push_back(pdu); });
        client->exchangeMtu();
    }
    void pump() {
        while (!toServer.empty() || !toClient.empty()) {
            if (!toServer.empty()) {
                const Bytes pdu = toServer.front();
                toServer.pop_front();
                ASSERT_FALSE(server->receive(pdu));
            }
            if (!toClient.empty()) {
                const Bytes pdu = toClient.front();
                toClient.pop_front();
                ASSERT_FALSE(client->receive(pdu));
            }
        }
    }

    GattDatabase database;
    std::unique_ptr<AttServer> server;
    std::unique_ptr<AttClient> client;
    std::deque<Bytes> toServer;
    std::deque<Bytes> toClient;
};

TEST_F(AttLoopback, DiscoveryWalksEveryResponseAtTheSmallestMtu) {
    MutableService battery{Uuid::fromShort(0x180F),
                           true,
                           {{Uuid::fromShort(0x2A19), CharacteristicProperties::read,
                             AttributePermissions::readable, Bytes{99}}}};
    ASSERT_TRUE(database.add(battery));
    ASSERT_TRUE(database.add(linkService()));
    ASSERT_TRUE(database.add(MutableService{Uuid::fromShort(0x1811), true, {}}));
    start(att::kDefaultMtu);

    std::vector<AttClient::ServiceRange> services;
    client->discoverServices([&](auto found) { services = *found; });
    pump();
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[0].uuid, Uuid::fromShort(0x180F));
    EXPECT_EQ(services[1].uuid, kService);
    EXPECT_EQ(services[1].start, 4);
    EXPECT_EQ(services[1].end, 11);
    EXPECT_EQ(services[2].start, 12);

    std::vector<AttClient::CharacteristicEntry> characteristics;
    client->discoverCharacteristics(5, 11, [&](auto found) { characteristics = *found; });
    std::vector<AttClient::DescriptorEntry> descriptors;
    client->discoverDescriptors(7, 7, [&](auto found) { descriptors = *found; });
    pump();
    ASSERT_EQ(characteristics.size(), 3u);
    EXPECT_EQ(characteristics[0].uuid, kNotify);
    EXPECT_EQ(characteristics[0].value, 6);
    EXPECT_EQ(characteristics[2].uuid, kAddress);
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors[0].type, Uuid::fromShort(0x2902));

    std::optional<Result<Bytes>> staticValue;
    std::optional<Result<Bytes>> dynamicValue;
    std::optional<Result<void>> written;
    client->read(3, [&](Result<Bytes> value) { staticValue = value; });
    client->read(11, [&](Result<Bytes> value) { dynamicValue = value; });
    client->write(9, Bytes{1}, [&](Result<void> result) { written = result; });
    pump();
    EXPECT_EQ(staticValue->value(), Bytes{99});
    EXPECT_EQ(dynamicValue->value(), Bytes{'v'});
    ASSERT_FALSE(*written);
    EXPECT_EQ(attErrorOf(written->error()), AttError::writeNotPermitted);
    EXPECT_EQ(client->outstanding(), 0u);
}

TEST_F(AttLoopback, MtuIsTheSmallerOfBoth) {
    ASSERT_TRUE(database.add(linkService()));
    start(100);
    pump();
    EXPECT_EQ(client->mtu(), 100);
    EXPECT_EQ(server->mtu(), 100);
}

// What a peer may offer in an MTU exchange, and the MTU it settles at when this side asks for
// more than a link allows: always within 23..517.
struct MtuOffer {
    std::uint16_t peerOffer;
    std::uint16_t settled;
};
constexpr MtuOffer kMtuOffers[] = {{600, 517}, {65535, 517}, {517, 517}, {100, 100},
                                   {23, 23},   {22, 23},     {0, 23}};

Bytes littleEndian(std::uint8_t opcode, std::uint16_t value) {
    return Bytes{opcode, static_cast<std::uint8_t>(value & 0xFF),
                 static_cast<std::uint8_t>(value >> 8)};
}

TEST_F(AttServerTest, ClampsTheMtuTheClientOffers) {
    for (const MtuOffer& c : kMtuOffers) {
        AttServer wide(database, *this, 65535);
        sent.clear();
        EXPECT_FALSE(wide.receive(littleEndian(0x02, c.peerOffer)));
        EXPECT_EQ(sent, std::vector<Bytes>{littleEndian(0x03, 517)}) << "announces 517 at most";
        EXPECT_EQ(wide.mtu(), c.settled) << "client offers " << c.peerOffer;
    }
}

TEST(AttClientTest, ClampsTheMtuTheServerOffers) {
    for (const MtuOffer& c : kMtuOffers) {
        std::vector<Bytes> sent;
        AttClient client([&](Bytes pdu) { sent.push_back(std::move(pdu)); }, 600);
        client.exchangeMtu();
        EXPECT_EQ(sent, std::vector<Bytes>{littleEndian(0x02, 517)}) << "asks for 517 at most";
        EXPECT_FALSE(client.receive(littleEndian(0x03, c.peerOffer)));
        EXPECT_EQ(client.mtu(), c.settled) << "server offers " << c.peerOffer;
    }
}

TEST(AttClientTest, RefusesResponsesNobodyAskedFor) {
    std::vector<Bytes> sent;
    AttClient client([&](Bytes pdu) { sent.push_back(pdu); });
    EXPECT_TRUE(client.receive(Bytes{0x13}));  // no request outstanding
    client.discoverServices([](auto) {});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(client.receive(Bytes{0x0B, 0x01}));  // answer to another request
    // Handles that do not move forward could make discovery loop for ever.
    AttClient looping([](Bytes) {});
    looping.discoverServices([](auto) {});
    EXPECT_FALSE(looping.receive(Bytes{0x11, 6, 0x05, 0x00, 0x06, 0x00, 0x0F, 0x18}));
    EXPECT_TRUE(looping.receive(Bytes{0x11, 6, 0x02, 0x00, 0x03, 0x00, 0x0F, 0x18}));
    // A request from the server's side is refused, not fatal.
    sent.clear();
    EXPECT_FALSE(client.receive(Bytes{0x0A, 0x01, 0x00}));
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x01, 0x0A, 0x00, 0x00, 0x06}}));
}

}  // namespace
