#include <gtest/gtest.h>

#include <algorithm>

#include "PhoneStandIn.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"
#include "sim/Handshake.h"
#include "sim/Watch.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::RunLoop;
using platform::bluetooth::ScriptedCentral;
using platform::bluetooth::SimulatedAir;
using sim_test::PhoneStandIn;

const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");

Bytes padded(Bytes head, std::size_t size) {
    head.resize(size, 0);
    return head;
}

class WatchOnAirTest : public ::testing::Test {
protected:
    static WatchConfig configFor(HandshakeMode mode) {
        WatchConfig config;
        config.identifier = kWatch;
        config.handshake = mode;
        return config;
    }

    Watch& makeWatch(HandshakeMode mode = HandshakeMode::complete) {
        watch = std::make_unique<Watch>(loop, simulatedRadios(air), configFor(mode));
        watch->powerOn();
        watch->advertise(1);
        return *watch;
    }

    // The phone finds the watch and connects; the watch follows up to a subscription.
    void meet() {
        phone.connectTo(kWatch);
        ASSERT_TRUE(watch->waitUntil([&] { return watch->isLinkUp(); }, 5));
    }

    void settle(double seconds = 1) { loop.advance(seconds); }

    std::vector<Bytes> handshakeRecords() const {
        std::vector<Bytes> records;
        for (const Bytes& message : phone.messages) {
            if ((message[0] & 0x3F) == 0) {
                records.push_back(message);
            }
        }
        return records;
    }

    RunLoop loop{RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop scoped{loop};
    SimulatedAir air{loop, {.seed = 5}};
    PhoneStandIn phone{air, loop, kPhone};
    std::unique_ptr<Watch> watch;
};

TEST_F(WatchOnAirTest, AdvertisesNameTokenPurposeAndHiddenCondition) {
    ScriptedCentral scanner(air.attach(), loop);
    // Named and set member by member: GCC 12 at -O2 takes a braced one's name for uninitialised.
    const AdvertisingIdentity standard;
    AdvertisingIdentity renamed;
    renamed.name = "Kavo R5 (9Z8Y)";
    renamed.hiddenCondition = 0x03;
    renamed.companyIdentifierBigEndian = true;
    const struct {
        AdvertisingIdentity identity;
        std::uint8_t purpose;
        Bytes manufacturerData;
    } cases[] = {
        {standard, 1, {0x51, 0x7E, 0, 0, 0, 0, 0, 0x01, 0x00}},
        {renamed, 2, {0x7E, 0x51, 0, 0, 0, 0, 0, 0x02, 0x03}},
    };
    std::vector<std::unique_ptr<Watch>> watches;
    std::mt19937_64 identifiers(3);
    for (const auto& c : cases) {
        WatchConfig config;
        config.identifier = Uuid::random(identifiers);
        config.advertising = c.identity;
        auto& added =
            watches.emplace_back(std::make_unique<Watch>(loop, simulatedRadios(air), config));
        added->advertise(c.purpose);  // before power-on: starts once the radio is on
        added->powerOn();
    }
    scanner.scan();
    settle();
    for (std::size_t i = 0; i < watches.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(watches[i]->isAdvertising());
        const auto& seen = scanner.discoveries().at(watches[i]->identifier()).data;
        EXPECT_EQ(seen.localName, cases[i].identity.name);
        EXPECT_EQ(seen.manufacturerData, cases[i].manufacturerData);
        EXPECT_TRUE(seen.serviceUuids.empty());
    }
    watches[0]->stopAdvertising();
    EXPECT_FALSE(watches[0]->isAdvertising());
}

TEST_F(WatchOnAirTest, FollowsThePhonesConnectionToItsLinkService) {
    makeWatch(HandshakeMode::manual);
    settle();
    EXPECT_EQ(watch->linkState(), PhoneLink::State::idle);
    meet();
    EXPECT_EQ(watch->counters().phoneCentralConnections, 1);
    ASSERT_TRUE(phone.subscriber);
    EXPECT_EQ(phone.subscriber->identifier, kWatch);
    EXPECT_EQ(phone.events, (std::vector<std::string>{"connect", "subscribe", "read"}));
    ASSERT_TRUE(watch->addressRead() && *watch->addressRead());
    EXPECT_EQ(watch->addressRead()->value(), (Bytes{'1', 'A', '2', 'B'}));

    // Packets both ways: the watch writes, the phone notifies.
    ASSERT_TRUE(watch->sendMessage(1, 1, Bytes{'h', 'i'}));
    phone.send(Bytes{0x49, 'y', 'o'});
    settle();
    EXPECT_EQ(phone.messages, std::vector<Bytes>{Bytes({0x41, 'h', 'i'})});
    ASSERT_EQ(watch->messages().all().size(), 1U);
    EXPECT_EQ(watch->messages().all()[0].appId, 9);
    EXPECT_EQ(watch->messages().all()[0].priority, 1);
    EXPECT_EQ(watch->messages().all()[0].body, (Bytes{'y', 'o'}));
    EXPECT_EQ(phone.writesRefused, 0);
}

TEST_F(WatchOnAirTest, AnAddressReadErrorStillBringsTheLinkUp) {
    phone.address.reset();
    makeWatch(HandshakeMode::manual);
    meet();
    ASSERT_TRUE(watch->addressRead());
    ASSERT_FALSE(*watch->addressRead());
    EXPECT_EQ(platform::bluetooth::attErrorOf(watch->addressRead()->error()),
              platform::bluetooth::applicationError(0));
}

TEST_F(WatchOnAirTest, ConnectsOnItsOwnToAPhoneAdvertisingTheService) {
    WatchConfig config = configFor(HandshakeMode::manual);
    config.followPhoneConnection = false;
    watch = std::make_unique<Watch>(loop, simulatedRadios(air), config);
    watch->powerOn();
    phone.connectTo(kWatch);
    settle();
    EXPECT_EQ(watch->linkState(), PhoneLink::State::idle);
    watch->connectToPhone();
    EXPECT_TRUE(watch->waitUntil([&] { return watch->isLinkUp(); }, 5));
}

TEST_F(WatchOnAirTest, HandshakeRequestNamesTheWatchAndTheAnswerDecides) {
    const Bytes request = padded(
        [] {
            const std::string_view name = "Kavo R5 (1A2B)";
            Bytes head(33 + name.size(), 0);
            std::copy(name.begin(), name.end(), head.begin() + 33);
            return head;
        }(),
        148);
    const Bytes disconnectRequest = {0x7C, 0x3C};
    const struct {
        const char* what;
        HandshakeMode mode;
        std::function<Bytes(std::span<const std::uint8_t>)> answer;
        HandshakeState state;
        std::vector<Bytes> records;
    } cases[] = {
        {"a good response",
         HandshakeMode::complete,
         [](auto) { return sim_test::phoneResponse("Test Phone", kWatch); },
         HandshakeState::completed,
         {request, padded({0x80}, 148)}},
        {"no connected device named",
         HandshakeMode::complete,
         [](auto) { return sim_test::phoneResponse("Test Phone", std::nullopt); },
         HandshakeState::completed,
         {request, padded({0x80}, 148)}},
        {"a scripted rejection",
         HandshakeMode::reject,
         [](auto) { return sim_test::phoneResponse("Test Phone", kWatch); },
         HandshakeState::rejected,
         {request, padded({0xC0}, 148)}},
        {"another device named",
         HandshakeMode::complete,
         [](auto) { return sim_test::phoneResponse("Test Phone", kPhone); },
         HandshakeState::rejected,
         {request, padded({0xC0}, 148)}},
        {"the phone refuses",
         HandshakeMode::complete,
         [&](auto) { return disconnectRequest; },
         HandshakeState::refused,
         {request}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        phone.messages.clear();
        phone.answerHandshake = c.answer;
        makeWatch(c.mode);
        meet();
        settle(2);
        EXPECT_EQ(watch->handshakeState(), c.state);
        EXPECT_EQ(handshakeRecords(), c.records);
        EXPECT_EQ(watch->isPaired(), c.state == HandshakeState::completed);
        if (c.state == HandshakeState::completed) {
            ASSERT_TRUE(watch->handshakeResponse());
            EXPECT_EQ(watch->handshakeResponse()->phoneName, "Test Phone");
        }
        if (c.state == HandshakeState::refused) {
            // The phone leaves it to the watch to drop the link.
            EXPECT_EQ(watch->counters().disconnectRequests, 1);
            EXPECT_FALSE(watch->isLinkUp());
            EXPECT_FALSE(phone.subscriber);
        }
        watch.reset();
        settle();
    }
}

TEST_F(WatchOnAirTest, AnUnansweredRequestIsRepeatedThenGivenUp) {
    makeWatch();
    meet();
    settle(9);
    EXPECT_EQ(handshakeRecords().size(), 1U);
    settle(2);
    EXPECT_EQ(handshakeRecords().size(), 2U);
    settle(10);
    EXPECT_EQ(handshakeRecords().size(), 3U);
    EXPECT_EQ(watch->handshakeState(), HandshakeState::requested);
    settle(10);
    EXPECT_EQ(watch->handshakeState(), HandshakeState::failed);
    EXPECT_FALSE(watch->isLinkUp());
    EXPECT_EQ(watch->counters().handshakeRequests, 3);
}

TEST_F(WatchOnAirTest, LeavingPolitelyUnsubscribesFirstVanishingDoesNot) {
    phone.answerHandshake = [](auto) { return sim_test::phoneResponse("Test Phone", kWatch); };
    makeWatch();
    meet();
    ASSERT_TRUE(watch->waitUntil([&] { return watch->isPaired(); }, 5));

    watch->disconnect();
    settle();
    auto at = [&](const char* event) {
        const auto found = std::find(phone.events.rbegin(), phone.events.rend(), event);
        return phone.eventTimes[static_cast<std::size_t>(phone.events.rend() - found - 1)];
    };
    ASSERT_EQ(phone.events.back(), "disconnect");
    EXPECT_LT(at("unsubscribe"), at("disconnect"));  // still connected when it unsubscribed
    EXPECT_EQ(watch->linkState(), PhoneLink::State::idle);

    watch->connectToPhone(kPhone);
    ASSERT_TRUE(watch->waitUntil([&] { return watch->isPaired(); }, 5));
    phone.events.clear();
    phone.eventTimes.clear();
    watch->vanish();
    settle();
    EXPECT_FALSE(watch->isOn());
    EXPECT_EQ(phone.events, (std::vector<std::string>{"unsubscribe", "disconnect"}));
    EXPECT_EQ(phone.eventTimes[0], phone.eventTimes[1]);  // both with the link's end
    EXPECT_FALSE(phone.subscriber);

    // It comes back under the same identifier and pairs again.
    watch->powerOn();
    watch->advertise(2);
    meet();
    ASSERT_TRUE(watch->waitUntil([&] { return watch->isPaired(); }, 5));
    EXPECT_EQ(phone.subscriber->identifier, kWatch);
    EXPECT_EQ(watch->counters().linksUp, 3);
    EXPECT_EQ(watch->counters().handshakesCompleted, 3);
    EXPECT_EQ(watch->counters().vanishes, 1);
}

TEST_F(WatchOnAirTest, ComesBackAfterVanishingAHundredTimes) {
    phone.answerHandshake = [](auto) { return sim_test::phoneResponse("Test Phone", kWatch); };
    makeWatch();
    constexpr int kCycles = 100;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        phone.connectTo(kWatch);
        ASSERT_TRUE(watch->waitUntil([&] { return watch->isPaired(); }, 5));
        const std::string id = "m" + std::to_string(cycle);
        ASSERT_TRUE(watch->sendJson(platform::Value{{"msgId", id}}));
        const std::string text = R"({"msgId":")" + id + R"("})";
        Bytes down{0x41};
        down.insert(down.end(), text.begin(), text.end());
        phone.send(down);
        ASSERT_TRUE(watch->waitForMessage(id, 5));
        ASSERT_TRUE(watch->waitUntil([&] { return watch->isIdle(); }, 5));
        watch->vanish();
        settle(0.5);
        ASSERT_FALSE(phone.subscriber);
        watch->powerOn();
        watch->advertise(2);
    }
    EXPECT_EQ(watch->counters().handshakesCompleted, kCycles);
    EXPECT_EQ(watch->counters().vanishes, kCycles);
    EXPECT_EQ(phone.messages.size(), 3U * kCycles);  // request, completion, message
}

TEST_F(WatchOnAirTest, FollowsItsRadioThroughAPowerCycle) {
    makeWatch(HandshakeMode::manual);
    meet();
    air.powerOff(kWatch);
    settle();
    EXPECT_FALSE(watch->isLinkUp());
    EXPECT_FALSE(watch->isAdvertising());
    EXPECT_FALSE(phone.subscriber);
    air.powerOn(kWatch);
    settle();
    EXPECT_TRUE(watch->isAdvertising());  // what it was asked to do before
    meet();
    EXPECT_EQ(watch->counters().linksUp, 2);
}

}  // namespace
