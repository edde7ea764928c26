// The watch's packet engine against itself across the simulated air: the watch on one side,
// a second engine behind a scripted GATT server on the other, with the air's and the watch's
// faults in between.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "PhoneStandIn.h"
#include "platform/foundation/Json.h"
#include "sim/Watch.h"

namespace {

using namespace kavowatch;
using platform::Bytes;

const Uuid kPhone = sim_test::kPhoneId;
const Uuid kWatch = sim_test::kWatchId;

// A JSON message of about `size` bytes whose text deflates only so far.
std::string jsonText(const std::string& msgId, std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string data(size, ' ');
    for (char& c : data) {
        c = static_cast<char>('a' + random() % 26);
    }
    return *platform::json::write(platform::Value{{"msgId", msgId}, {"data", data}});
}

Bytes message(std::uint8_t header, const std::string& text) {
    // Sized once: growing it from one byte makes GCC 12 at -O2 see a copy out of bounds.
    Bytes bytes(1 + text.size());
    bytes[0] = header;
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
    return bytes;
}

class WatchExchangeTest : public ::testing::Test, protected sim_test::LinkedWatch {
protected:
    WatchExchangeTest() { EXPECT_TRUE(linked); }

    // Both engines done with everything they were given.
    bool settled() const { return watch->isIdle() && phone.engine().isIdle(); }
    void runUntilSettled(double limit = 600) {
        ASSERT_TRUE(watch->waitUntil([&] { return settled(); }, limit));
        loop.advance(5);  // late acknowledgements and timers have their say
    }

    // How often the phone got exactly this message.
    int phoneGot(const Bytes& sent) const {
        return static_cast<int>(std::count(phone.messages.begin(), phone.messages.end(), sent));
    }
    int watchGot(const Bytes& sent) const {
        return static_cast<int>(std::count_if(
            watch->messages().all().begin(), watch->messages().all().end(),
            [&](const ReceivedMessage& m) {
                return m.appId == (sent[0] & 0x3F) && m.body == Bytes(sent.begin() + 1, sent.end());
            }));
    }
};

TEST_F(WatchExchangeTest, MessagesOfAllSizesCrossBothWaysUnderLossAndCorruption) {
    air.setRandomFaults(kPhone, kWatch, {.drop = 0.10, .corrupt = 0.01});
    // The air cannot drop a write request; the watch drops its own packets instead.
    air.setRandomFaults(kWatch, kPhone, {.corrupt = 0.01});
    watch->faults().setRates(FaultDirection::outgoing, {.drop = 0.10});

    const std::size_t sizes[] = {10, 100, 1000, 10'000, 60'000, 200'000};
    std::vector<Bytes> fromWatch;
    std::vector<Bytes> fromPhone;
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::string up = jsonText("up" + std::to_string(i), sizes[i], i);
        ASSERT_TRUE(watch->sendJson(*platform::json::parse(up)));
        fromWatch.push_back(message(0x41, *platform::json::write(*platform::json::parse(up))));
        fromPhone.push_back(message(0x41, jsonText("down" + std::to_string(i), sizes[i], 100 + i)));
        phone.send(fromPhone.back());
    }
    runUntilSettled();

    // Nothing arrives twice or damaged; what is missing was dropped by a reset, and resets
    // are rare.
    int lostUp = 0;
    int lostDown = 0;
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_LE(phoneGot(fromWatch[i]), 1);
        EXPECT_LE(watchGot(fromPhone[i]), 1);
        lostUp += 1 - phoneGot(fromWatch[i]);
        lostDown += 1 - watchGot(fromPhone[i]);
    }
    EXPECT_EQ(phone.messages.size() + static_cast<std::size_t>(lostUp), fromWatch.size());
    EXPECT_EQ(watch->messages().all().size() + static_cast<std::size_t>(lostDown),
              fromPhone.size());
    const EngineCounters& up = watch->engineCounters();
    const EngineCounters& down = phone.engine().counters();
    // A reset drops the message in flight on both sides. The header byte lies outside the CRC:
    // a damaged one that every check misses leaves a stream that fails its own checksum, and
    // that message is dropped too, never delivered wrong.
    EXPECT_LE(lostUp, up.messagesDroppedByReset + down.messagesUndecodable);
    EXPECT_LE(lostDown, down.messagesDroppedByReset + up.messagesUndecodable);
    EXPECT_LE(up.resetsSent + down.resetsSent, 3);
    EXPECT_LE(up.messagesUndecodable + down.messagesUndecodable, 1);
    // The faults did happen, and were repaired.
    EXPECT_GT(watch->faults().counts(FaultDirection::outgoing).dropped, 20);
    EXPECT_GT(up.retransmissions, 20);
    EXPECT_GT(down.retransmissions, 20);
    EXPECT_GT(up.crcFailures + down.crcFailures, 0);
}

TEST_F(WatchExchangeTest, ScriptedFaultsLeaveEveryMessageIntactAndSingle) {
    const struct {
        const char* what;
        FaultDirection direction;
        Fault fault;
    } cases[] = {
        {"outgoing drop", FaultDirection::outgoing, {FaultKind::drop, 3}},
        {"outgoing corruption", FaultDirection::outgoing, {FaultKind::corrupt, 3}},
        {"outgoing duplicates", FaultDirection::outgoing, {FaultKind::duplicate, 3}},
        {"outgoing delay", FaultDirection::outgoing, {FaultKind::delay, 2, 1.5}},
        {"incoming drop", FaultDirection::incoming, {FaultKind::drop, 3}},
        {"incoming corruption", FaultDirection::incoming, {FaultKind::corrupt, 3}},
        {"incoming duplicates", FaultDirection::incoming, {FaultKind::duplicate, 3}},
        {"incoming delay", FaultDirection::incoming, {FaultKind::delay, 2, 2.5}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        const FaultCounts before = watch->faults().counts(c.direction);
        watch->faults().inject(c.direction, c.fault);
        const Bytes up = message(0x41, jsonText("up", 3000, i));
        const Bytes down = message(0x42, jsonText("down", 3000, 50 + i));
        ASSERT_TRUE(watch->sendMessage(1, 1, std::span(up).subspan(1)));
        phone.send(down);
        runUntilSettled();
        EXPECT_EQ(phoneGot(up), 1);
        EXPECT_EQ(watchGot(down), 1);
        const FaultCounts after = watch->faults().counts(c.direction);
        EXPECT_EQ(after.dropped + after.corrupted + after.duplicated + after.delayed -
                      (before.dropped + before.corrupted + before.duplicated + before.delayed),
                  c.fault.count);
    }
    EXPECT_EQ(watch->engineCounters().resetsSent + phone.engine().counters().resetsSent, 0);
    EXPECT_GT(watch->engineCounters().retransmissions, 0);
    EXPECT_GT(phone.engine().counters().retransmissions, 0);
    EXPECT_GT(watch->engineCounters().duplicatePackets + watch->engineCounters().outOfWindowPackets,
              0);
}

TEST_F(WatchExchangeTest, AWatchThatStopsAcknowledgingMakesThePeerGiveUp) {
    watch->stopAcknowledging();
    const Bytes lost = message(0x41, jsonText("lost", 5000, 1));  // more than one window
    phone.send(lost);
    runUntilSettled();
    EXPECT_EQ(watchGot(lost), 0);
    EXPECT_EQ(phone.engine().counters().resetsSent, 1);
    EXPECT_EQ(phone.engine().counters().messagesDroppedByReset, 1);
    EXPECT_EQ(watch->engineCounters().resetsReceived, 1);
    EXPECT_GT(watch->engineCounters().acksSuppressed, 0);

    watch->stopAcknowledging(false);
    const Bytes next = message(0x41, jsonText("next", 5000, 2));
    phone.send(next);
    runUntilSettled();
    EXPECT_EQ(watchGot(next), 1);
}

TEST_F(WatchExchangeTest, AResetFromTheWatchDropsOnlyTheMessagesInFlight) {
    const Bytes first = message(0x41, jsonText("first", 20'000, 1));
    const Bytes second = message(0x41, jsonText("second", 300, 2));
    const Bytes down = message(0x43, jsonText("down", 60'000, 3));
    ASSERT_TRUE(watch->sendMessage(1, 1, std::span(first).subspan(1)));
    ASSERT_TRUE(watch->sendMessage(1, 1, std::span(second).subspan(1)));
    phone.send(down);
    loop.advance(0.2);
    watch->sendReset();
    runUntilSettled();
    EXPECT_EQ(phone.resetsReceived, 1);
    EXPECT_EQ(phoneGot(first), 0);
    EXPECT_EQ(phoneGot(second), 1);
    EXPECT_EQ(watchGot(down), 0);
    EXPECT_EQ(watch->engineCounters().messagesDroppedByReset, 1);
    EXPECT_EQ(phone.engine().counters().messagesDroppedByReset, 1);

    // Both sides start afresh and carry on.
    phone.send(down);
    ASSERT_TRUE(watch->sendMessage(1, 1, std::span(first).subspan(1)));
    runUntilSettled();
    EXPECT_EQ(watchGot(down), 1);
    EXPECT_EQ(phoneGot(first), 1);
}

}  // namespace
