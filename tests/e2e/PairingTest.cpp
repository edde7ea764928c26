#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "e2e/E2EWorld.h"
#include "link/TQBLEStatus.h"

namespace e2e {
namespace {

using kavowatch::HandshakeState;

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

// The handshake response among the messages that reached the watch.
std::optional<Bytes> responseIn(const std::vector<Bytes>& messages) {
    const auto found = std::find_if(messages.begin(), messages.end(), [](const Bytes& message) {
        return message.size() == TQAP::kBAPRecordSize && message[0] == TQAP::kBAPResponse;
    });
    return found == messages.end() ? std::nullopt : std::optional(*found);
}

using PairingTest = E2ETest;

TEST_F(PairingTest, ANewWatchPairsTheWayThePairingScreensDoIt) {
    StatusTrace& trace = traceStatuses();
    auto tap = std::make_shared<AirTap>(1);
    auto watch = makeWatch(kWatch, kWatchName, tap);

    // Bluetooth on: the phone advertises at once and publishes its service 5 s later.
    world.loop.runUntilIdle();
    EXPECT_EQ(world.manager.bleStatus(), TQBLEStatus_StartAdv);
    EXPECT_EQ(world.delegate->count("on"), 1);
    settle(TQPeripheral::kAddServiceRetryDelay - 0.01);
    EXPECT_EQ(world.manager.bleStatus(), TQBLEStatus_StartAdv);
    settle(0.02);
    ASSERT_EQ(world.manager.bleStatus(), TQBLEStatus_ServiceAdded);

    // The watch asks to be paired; the screens list it and the user picks it.
    watch->powerOn();
    watch->advertise(static_cast<std::uint8_t>(kavowatch::Purpose::setupWizard));
    world.ap.scanForDevices();
    ASSERT_TRUE(runUntil([&] { return !world.delegate->discovered.empty(); }, 2));
    const auto& listed = world.delegate->discovered.back();
    ASSERT_EQ(listed.size(), 1U);
    EXPECT_EQ(listed[0]->identifier(), kWatch);
    EXPECT_EQ(listed[0]->name(), std::string(kWatchName));
    EXPECT_EQ(world.delegate->count("connect"), 0);

    world.ap.connectDevice(*listed[0]);
    ASSERT_TRUE(runUntil([&] { return watch->isPaired(); }, 10));
    settle(5);

    // One connection, told by the handshake's completion.
    EXPECT_EQ(world.delegate->count("connect"), 1);
    EXPECT_TRUE(world.ap.isConnected());
    EXPECT_EQ(watch->counters().handshakeRequests, 1);
    EXPECT_EQ(watch->counters().handshakesCompleted, 1);
    ASSERT_TRUE(watch->addressRead() && *watch->addressRead());
    EXPECT_EQ(watch->addressRead()->value(), textBytes("1A2B"));

    // Power-on (10 and 12 in the platform's order), advertising, the service, the user's scan,
    // the central connection, the subscription.
    std::vector<std::uint64_t> statuses = trace.statuses();
    const auto centralOn = std::find(statuses.begin(), statuses.end(), TQBLEStatus_Central_On);
    ASSERT_NE(centralOn, statuses.end());
    EXPECT_LT(centralOn - statuses.begin(), 3) << "before the service was added";
    statuses.erase(centralOn);
    EXPECT_EQ(statuses,
              (std::vector<std::uint64_t>{TQBLEStatus_Peripheral_On, TQBLEStatus_StartAdv,
                                          TQBLEStatus_ServiceAdded, TQBLEStatus_StartScan,
                                          TQBLEStatus_Peripheral_Connect, TQBLEStatus_Connect}));

    // The response as the watch received it on the air.
    const auto response = responseIn(messagesIn(tap->toWatch));
    ASSERT_TRUE(response);
    EXPECT_TRUE(std::all_of(response->begin() + 1, response->begin() + 17,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(slice(*response, 17, 16), textBytes(std::string("Apple") + std::string(11, '\0')));
    EXPECT_EQ(slice(*response, 33, 16), textBytes(kPhoneName.substr(0, 16)));
    EXPECT_EQ(response->at(49), 0);
    const Bytes tag = slice(*response, 66, 3);
    EXPECT_TRUE(std::all_of(tag.begin(), tag.end(), [](std::uint8_t b) {
        return b >= 'a' && b <= 'z';
    })) << std::string(tag.begin(), tag.end());
    const auto& uuid = kWatch.bytes();
    EXPECT_EQ(slice(*response, 99, 16), Bytes(uuid.begin(), uuid.end()));
    ASSERT_TRUE(watch->handshakeResponse());
    EXPECT_TRUE(watch->handshakeResponse()->namesThisWatch);

    const std::string central = kWatch.toLongString();
    EXPECT_EQ(world.defaults.string("centralIdentifier"), central);
    EXPECT_EQ(world.defaults.string("tempCentralIdentifier"), central);
    EXPECT_EQ(world.defaults.string(central), "connected");
    EXPECT_EQ(world.defaults.string("deviceMac"), "1A2B");
}

// The paired watch comes back with a new Bluetooth identity and the same address token.
class RenewedWatchTest : public E2ETest {
protected:
    // Pairs the first identity through the screens and loses it; the renewed watch comes on
    // and looks for its phone.
    void loseThePairedWatch() {
        ASSERT_NO_FATAL_FAILURE(startPhone());
        paired = makeWatch(kWatch);
        paired->powerOn();
        paired->advertise(static_cast<std::uint8_t>(kavowatch::Purpose::setupWizard));
        ASSERT_NO_FATAL_FAILURE(pairThroughTheScreens(*paired));
        paired->vanish();
        ASSERT_TRUE(runUntil([&] { return world.delegate->count("disconnect") == 1; }, 5));
        lostAt = now();
        renewed = makeWatch(kRenewedWatch);
        renewed->powerOn();
        renewed->advertise(static_cast<std::uint8_t>(kavowatch::Purpose::autoConnection));
    }

    void expectPairedUnderTheNewIdentifier() {
        EXPECT_EQ(world.delegate->count("connect"), 2);
        EXPECT_EQ(renewed->counters().handshakesCompleted, 1);
        EXPECT_EQ(renewed->counters().handshakesRejected, 0);
        EXPECT_EQ(renewed->counters().disconnectRequests, 0);
        EXPECT_FALSE(world.ap.resetKavoFlag());
        const std::string central = kRenewedWatch.toLongString();
        EXPECT_EQ(world.defaults.string("centralIdentifier"), central);
        EXPECT_EQ(world.defaults.string("tempCentralIdentifier"), central);
        EXPECT_EQ(world.defaults.string(central), "connected");
        EXPECT_EQ(world.defaults.string("deviceMac"), "1A2B");
    }

    std::unique_ptr<kavowatch::Watch> paired;
    std::unique_ptr<kavowatch::Watch> renewed;
    double lostAt = 0;
};

TEST_F(RenewedWatchTest, FoundByTheSearchItIsAccepted) {
    ASSERT_NO_FATAL_FAILURE(loseThePairedWatch());
    ASSERT_TRUE(runUntil([&] { return renewed->isPaired(); }, TQBleManager::kSearchInterval + 5));
    EXPECT_GE(now() - lostAt, TQBleManager::kSearchInterval);
    settle(5);
    expectPairedUnderTheNewIdentifier();
}

TEST_F(RenewedWatchTest, ConnectingOnItsOwnItIsAcceptedAtOnce) {
    ASSERT_NO_FATAL_FAILURE(loseThePairedWatch());
    renewed->connectToPhone(kPhone);
    ASSERT_TRUE(runUntil([&] { return renewed->isPaired(); }, TQBleManager::kSearchInterval + 5));
    EXPECT_LT(now() - lostAt, TQBleManager::kSearchInterval) << "before any search";
    settle(5);
    expectPairedUnderTheNewIdentifier();
    EXPECT_EQ(world.defaults.boolean("hiddenConditionBitSet"), false);
}

TEST_F(PairingTest, AForeignWatchHearsTheDisconnectRequestAndThePhoneDoesNotGoLooking) {
    // As the pairing left them, before the phone was last launched.
    const std::string paired = kWatch.toLongString();
    world.defaults.set("centralIdentifier", paired);
    world.defaults.set("tempCentralIdentifier", paired);
    world.defaults.set(paired, "connected");
    world.defaults.set("deviceMac", "1A2B");
    StatusTrace& trace = traceStatuses();
    ASSERT_NO_FATAL_FAILURE(startPhone());

    auto tap = std::make_shared<AirTap>(2);
    auto foreign = makeWatch(kForeignWatch, kForeignWatchName, tap);
    foreign->powerOn();
    foreign->connectToPhone(kPhone);
    ASSERT_TRUE(runUntil([&] { return foreign->isLinkUp(); }, 5));
    ASSERT_EQ(world.manager.bleStatus(), TQBLEStatus_Connect);

    // The phone drops the subscription (status 3) only once the watch has the request.
    ASSERT_TRUE(runUntil([&] { return world.manager.bleStatus() == TQBLEStatus_disconnect; }, 5));
    EXPECT_EQ(foreign->counters().disconnectRequests, 1);
    EXPECT_EQ(foreign->handshakeState(), HandshakeState::refused);
    EXPECT_TRUE(world.ap.resetKavoFlag());
    const auto heard = messagesIn(tap->toWatch);
    EXPECT_EQ(heard, std::vector<Bytes>{Bytes({0x7C, 0x3C})}) << "and no response";

    // Long past the search interval: nobody looks for a watch, nothing reconnects.
    settle(3 * TQBleManager::kSearchInterval);
    EXPECT_FALSE(foreign->isLinkUp());
    EXPECT_EQ(foreign->counters().linksUp, 1);
    EXPECT_EQ(foreign->counters().phoneCentralConnections, 0);
    EXPECT_FALSE(world.manager.isSearchTimerRunning());
    EXPECT_FALSE(searching());
    EXPECT_FALSE(world.ap.isConnected());
    EXPECT_EQ(world.delegate->count("connect"), 0);
    const auto statuses = trace.statuses();
    const auto dropped = std::find(statuses.begin(), statuses.end(), TQBLEStatus_disconnect);
    ASSERT_NE(dropped, statuses.end());
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), TQBLEStatus_AutoConnecting), 0);
    EXPECT_EQ(world.defaults.string("centralIdentifier"), paired);
    EXPECT_EQ(world.defaults.string("tempCentralIdentifier"), kForeignWatch.toLongString());
}

}  // namespace
}  // namespace e2e
