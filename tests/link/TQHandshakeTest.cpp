#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "link/TQAP.h"
#include "link/TQAPFixture.h"
#include "platform/foundation/Value.h"

namespace link_test {
namespace {

using platform::Dictionary;
using platform::Value;

const Bytes kDisconnectRequest = {0x7C, 0x3C};

std::string textAt(const Bytes& record, std::size_t offset, std::size_t width) {
    return std::string(record.begin() + static_cast<std::ptrdiff_t>(offset),
                       record.begin() + static_cast<std::ptrdiff_t>(offset + width));
}

bool allZero(const Bytes& record, std::size_t from, std::size_t to) {
    return std::all_of(record.begin() + static_cast<std::ptrdiff_t>(from),
                       record.begin() + static_cast<std::ptrdiff_t>(to),
                       [](std::uint8_t byte) { return byte == 0; });
}

TEST_F(FacadeTest, TheResponseDescribesThePhoneByteForByte) {
    struct Case {
        std::string phoneName;
        std::string field;  // the 16 bytes at offset 33
    };
    const Case cases[] = {
        {"Kim's phone", std::string("Kim's phone") + std::string(5, '\0')},
        {"0123456789abcdef", "0123456789abcdef"},
        {"0123456789abcdefGHIJ", "0123456789abcdef"},
        // Cut before a character that would not fit whole ("é" takes two bytes).
        {"0123456789abcdeé", std::string("0123456789abcde") + '\0'},
        {"", std::string(16, '\0')},
    };
    KnownWatch watch(loop_);
    for (const Case& c : cases) {
        platform::FixedDeviceInfo phone(c.phoneName);
        platform::ScopedInstall<platform::DeviceInfo> installed(&phone);
        for (const bool withDevice : {false, true}) {
            manager_.connectedDevice = withDevice ? &watch.peripheral() : nullptr;
            const Bytes response = ap_.makeBAPAcceptPacket();
            SCOPED_TRACE(c.phoneName + (withDevice ? ", with device" : ", no device"));

            ASSERT_EQ(response.size(), 148U);
            EXPECT_EQ(response[0], 0x40);
            EXPECT_TRUE(allZero(response, 1, 17));
            EXPECT_EQ(textAt(response, 17, 16), std::string("Apple") + std::string(11, '\0'));
            EXPECT_EQ(textAt(response, 33, 16), c.field);
            EXPECT_TRUE(allZero(response, 49, 66));
            EXPECT_EQ(textAt(response, 66, 32), std::string("kmg") + std::string(29, '\0'));
            EXPECT_EQ(response[98], 0);
            const auto& uuid = KnownWatch::kIdentifier.bytes();
            if (withDevice) {
                EXPECT_TRUE(std::equal(uuid.begin(), uuid.end(), response.begin() + 99));
                EXPECT_EQ(response[99], 0x0F);
                EXPECT_EQ(response[114], 0xF0);
            } else {
                EXPECT_TRUE(allZero(response, 99, 115));
            }
            EXPECT_TRUE(allZero(response, 115, 148));
        }
    }
}

TEST(TQAPRejectRecordTest, IsATypeByteFollowedByZeros) {
    const Bytes record = TQAP::makeBAPRejectPacket();
    ASSERT_EQ(record.size(), 148U);
    EXPECT_EQ(record[0], 0xC0);
    EXPECT_TRUE(allZero(record, 1, 148));
}

TEST_F(FacadeTest, UserConnectSubscribeAndHandshakeGiveExactlyOneConnection) {
    KnownWatch watch(loop_);
    ap_.connectDevice(watch.peripheral());
    ASSERT_EQ(manager_.connectRequests, std::vector{&watch.peripheral()});
    defaults_.set("deviceMac", "1A2B");  // as the manager stores it for the picked watch
    manager_.connectedDevice = &watch.peripheral();

    subscribe("CENTRAL-1");
    watch_.send(bapRecord(TQAP::kBAPRequest, "Kavo R5 (1A2B)"));
    settle();
    ASSERT_EQ(watchReceived().size(), 1U);
    EXPECT_EQ(watchReceived()[0], ap_.makeBAPAcceptPacket());
    EXPECT_EQ(delegate_->connects, 0) << "not before the watch completes";

    watch_.send(bapRecord(TQAP::kBAPComplete));
    watch_.send(bapRecord(TQAP::kBAPComplete));
    settle();

    EXPECT_EQ(delegate_->connects, 1);
    EXPECT_EQ(defaults_.string("centralIdentifier"), "CENTRAL-1");
    EXPECT_EQ(defaults_.string("CENTRAL-1"), "connected");
    EXPECT_FALSE(ap_.resetKavoFlag());
    EXPECT_EQ(manager_.clears, 0);
}

// Who subscribed, what the phone knows, what the watch calls itself, and what follows.
TEST_F(FacadeTest, TheRequestIsAnsweredOnlyForThePairedWatch) {
    struct Case {
        const char* what;
        std::optional<std::string> central;     // "centralIdentifier" before
        std::optional<std::string> subscribed;  // "tempCentralIdentifier"
        std::optional<std::string> deviceMac;
        std::string watchName;
        bool answered;
        Dictionary after;  // the whole user defaults afterwards
    };
    const Case cases[] = {
        {"first pairing",
         std::nullopt,
         "T1",
         std::nullopt,
         "Kavo R5 (1A2B)",
         true,
         {{"tempCentralIdentifier", "T1"}, {"centralIdentifier", "T1"}, {"T1", "connected"}}},
        {"first pairing, nothing subscribed on record",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         "Kavo R5 (1A2B)",
         true,
         {}},
        {"the paired watch again",
         "T1",
         "T1",
         "1A2B",
         "Kavo R5 (1A2B)",
         true,
         {{"centralIdentifier", "T1"}, {"tempCentralIdentifier", "T1"}, {"deviceMac", "1A2B"}}},
        {"the paired watch under a new identifier",
         "T0",
         "T1",
         "1A2B",
         "Kavo R5 (1A2B)",
         true,
         {{"centralIdentifier", "T1"},
          {"tempCentralIdentifier", "T1"},
          {"deviceMac", "1A2B"},
          {"T1", "connected"},
          {"hiddenConditionBitSet", false}}},
        {"the paired watch, nothing subscribed on record",
         "T0",
         std::nullopt,
         "1A2B",
         "Kavo R5 1A2B",
         true,
         {{"centralIdentifier", "T0"}, {"deviceMac", "1A2B"}, {"hiddenConditionBitSet", false}}},
        {"another watch",
         "T0",
         "T2",
         "1A2B",
         "Kavo R5 (9F9F)",
         false,
         {{"centralIdentifier", "T0"}, {"tempCentralIdentifier", "T2"}, {"deviceMac", "1A2B"}}},
        {"a name of two words",
         "T0",
         "T2",
         "1A2B",
         "Kavo 1A2B",
         false,
         {{"centralIdentifier", "T0"}, {"tempCentralIdentifier", "T2"}, {"deviceMac", "1A2B"}}},
        {"no watch picked",
         "T0",
         "T2",
         std::nullopt,
         "Kavo R5 (1A2B)",
         false,
         {{"centralIdentifier", "T0"}, {"tempCentralIdentifier", "T2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [key, value] : defaults_.snapshot()) {
            defaults_.remove(key);
        }
        manager_.clears = 0;
        if (c.central) {
            defaults_.set("centralIdentifier", *c.central);
        }
        if (c.deviceMac) {
            defaults_.set("deviceMac", *c.deviceMac);
        }
        subscribe("unused");
        if (c.subscribed) {
            defaults_.set("tempCentralIdentifier", *c.subscribed);
        } else {
            defaults_.remove("tempCentralIdentifier");
        }
        const std::size_t before = watchReceived().size();

        watch_.send(bapRecord(TQAP::kBAPRequest, c.watchName));
        settle();

        ASSERT_EQ(watchReceived().size(), before + 1);
        const Bytes reply = watchReceived().back();
        if (c.answered) {
            EXPECT_EQ(reply.size(), 148U);
            EXPECT_EQ(reply.at(0), TQAP::kBAPResponse);
            EXPECT_FALSE(ap_.resetKavoFlag());
            EXPECT_EQ(manager_.clears, 0);
        } else {
            EXPECT_EQ(reply, kDisconnectRequest);
            EXPECT_TRUE(ap_.resetKavoFlag());
            EXPECT_EQ(manager_.clears, 1);
        }
        Dictionary stored = defaults_.snapshot();
        stored.remove("currentSendWindowSet");  // the protocol's own
        EXPECT_EQ(stored, c.after);
    }
}

TEST_F(FacadeTest, AForeignWatchHearsTheDisconnectRequestBeforeItsSubscriptionIsDropped) {
    defaults_.set("centralIdentifier", "T0");
    defaults_.set("deviceMac", "1A2B");
    std::vector<Bytes> heardWhenCleared;
    manager_.onClear = [&] { heardWhenCleared = watchReceived(); };
    subscribe("T2");

    watch_.send(bapRecord(TQAP::kBAPRequest, "Kavo R5 (7777)"));
    settle();

    EXPECT_EQ(heardWhenCleared, std::vector<Bytes>{kDisconnectRequest});
    EXPECT_EQ(manager_.resetRequests, std::vector<bool>{true});
    EXPECT_EQ(manager_.clears, 1);
    EXPECT_FALSE(manager_.isConnected());
    EXPECT_EQ(delegate_->connects, 0);
    EXPECT_EQ(delegate_->disconnects, 1) << "the cleared subscription is a disconnection";
}

TEST_F(FacadeTest, ACompletionAfterARefusalOnlyAsksForAnotherDisconnect) {
    defaults_.set("centralIdentifier", "T0");
    defaults_.set("deviceMac", "1A2B");
    manager_.clearEndsSubscription = false;
    subscribe("T2");
    watch_.send(bapRecord(TQAP::kBAPRequest, "Kavo R5 (7777)"));
    watch_.send(bapRecord(TQAP::kBAPComplete));
    settle();

    EXPECT_EQ(watchReceived(), (std::vector<Bytes>{kDisconnectRequest, kDisconnectRequest}));
    EXPECT_EQ(delegate_->connects, 0);
    EXPECT_EQ(manager_.clears, 1);

    // The next subscription starts clean.
    subscribe("T0");
    EXPECT_FALSE(ap_.resetKavoFlag());
}

// The watch takes the disconnect request but never acknowledges it.
class SilentWatchHandshakeTest : public FacadeTest {
protected:
    SilentWatchHandshakeTest() : FacadeTest(LinkConditions{.dropRate = 1.0}) {}
};

TEST_F(SilentWatchHandshakeTest, ARefusedSubscriptionIsDroppedAfterAShortGrace) {
    defaults_.set("centralIdentifier", "T0");
    defaults_.set("deviceMac", "1A2B");
    subscribe("T2");
    ap_.processBAPSequence(TQAP::kBAPRequest, bapRecord(TQAP::kBAPRequest, "Kavo R5 (7777)"));
    settle();
    ASSERT_EQ(manager_.rawPackets.size(), 1U) << "the request went to the transport";

    loop_.advance(0.9);
    EXPECT_EQ(manager_.clears, 0);
    loop_.advance(0.2);
    EXPECT_EQ(manager_.clears, 1);
    loop_.advance(10);
    EXPECT_EQ(manager_.clears, 1);
}

TEST_F(SilentWatchHandshakeTest, ANewSubscriptionCancelsThePendingDrop) {
    defaults_.set("centralIdentifier", "T0");
    defaults_.set("deviceMac", "1A2B");
    subscribe("T2");
    ap_.processBAPSequence(TQAP::kBAPRequest, bapRecord(TQAP::kBAPRequest, "Kavo R5 (7777)"));
    settle();

    unsubscribe();
    subscribe("T0");
    loop_.advance(10);

    EXPECT_EQ(manager_.clears, 0) << "the refused watch already left; the new one stays";
}

TEST_F(FacadeTest, ACompletionCountsOnlyForThisSubscriptionsAnsweredRequest) {
    struct Case {
        const char* what;
        std::vector<Bytes> beforeNewSubscription;
        std::vector<Bytes> afterNewSubscription;
        int connects;
    };
    const Bytes request = bapRecord(TQAP::kBAPRequest, "Kavo R5 (1A2B)");
    const Bytes complete = bapRecord(TQAP::kBAPComplete);
    const Case cases[] = {
        {"request then completion", {}, {request, complete}, 1},
        {"completion alone", {}, {complete}, 0},
        {"request answered on the last subscription", {request}, {complete}, 0},
        {"completion before the request", {}, {complete, request}, 0},
        {"a repeated completion", {}, {request, complete, complete}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto delegate = std::make_shared<RecordingAPDelegate>();
        ap_.setDelegate(delegate);
        subscribe("T1");
        for (const Bytes& message : c.beforeNewSubscription) {
            ap_.processBAPSequence(message[0], message);
        }
        subscribe("T1");
        for (const Bytes& message : c.afterNewSubscription) {
            ap_.processBAPSequence(message[0], message);
        }
        settle();
        EXPECT_EQ(delegate->connects, c.connects);
    }
}

TEST_F(FacadeTest, ARejectFromTheWatchIsAnsweredWithTheDisconnectRequest) {
    subscribe();
    watch_.send(bapRecord(TQAP::kBAPReject));
    settle();

    EXPECT_EQ(watchReceived(), std::vector<Bytes>{kDisconnectRequest});
    EXPECT_EQ(delegate_->connects, 0);
    EXPECT_FALSE(ap_.resetKavoFlag());
}

TEST_F(FacadeTest, OtherTypesOnTheHandshakeChannelAreIgnored) {
    subscribe();
    watch_.send(bapRecord(TQAP::kBAPResponse));
    watch_.send({0x40});
    settle();

    EXPECT_TRUE(watchReceived().empty());
    EXPECT_TRUE(delegate_->messages.empty());
}

TEST_F(FacadeTest, HandshakeReadsStayWithinTheRecord) {
    // The name runs unterminated to the record's end, and the message goes on past it.
    Bytes request = bapRecord(TQAP::kBAPRequest, "Kavo R5 1A2B", 300);
    std::fill(request.begin() + 33 + 12, request.begin() + 148, 'X');
    std::fill(request.begin() + 148, request.end(), 'Z');
    const std::string tokenInRecord = "1A2B" + std::string(148 - 45, 'X');
    defaults_.set("centralIdentifier", "T0");
    defaults_.set("deviceMac", tokenInRecord);
    subscribe("T1");

    watch_.send(request);
    settle();
    ASSERT_EQ(watchReceived().size(), 1U);
    EXPECT_EQ(watchReceived()[0].at(0), TQAP::kBAPResponse) << "the token ended at byte 148";

    // A request of its type byte alone has no name: a first pairing is still answered.
    defaults_.remove("centralIdentifier");
    watch_.send({TQAP::kBAPRequest});
    settle();
    ASSERT_EQ(watchReceived().size(), 2U);
    EXPECT_EQ(watchReceived()[1].at(0), TQAP::kBAPResponse);
}

}  // namespace
}  // namespace link_test
